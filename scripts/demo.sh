#!/usr/bin/env bash
# Installs what is needed, builds everything and runs the main job under Wine.
# Usage (as root, from anywhere): bash scripts/demo.sh
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build="$top/build"
"$top/scripts/setup.sh"
"$top/scripts/build.sh" "$build" i686
"$top/scripts/build.sh" "$build/x64" x86_64
. "$top/scripts/wine_env.sh"
trap wine_env_stop EXIT
wine_env_start "$build/x64"
for b in "$build"/x64/bench/*.exe; do
    echo "== $(basename "$b")"
    "$build/x64/wine_run.sh" "$b"
done
