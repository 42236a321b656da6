#!/usr/bin/env bash
# Installs what is needed, builds everything and runs the main job under Wine: for now the
# benchmark programs, each printing its figures.
# Usage (as root, from anywhere): bash scripts/demo.sh
. "$(dirname "$0")/prepare.sh"
for b in "$KOVA_BUILD"/x64/bench/*.exe; do
    echo "== $(basename "$b")"
    "$KOVA_BUILD/x64/wine_run.sh" "$b"
done
