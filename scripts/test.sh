#!/usr/bin/env bash
# Installs what is needed, builds everything and runs every test under Wine. The shipped
# 32-bit binaries are built in build/; the same sources are built again for x86_64 in
# build/x64, whose test programs run under 64-bit Wine (see scripts/wine_env.sh).
# Usage (as root, from anywhere): bash scripts/test.sh
start=$(date +%s)
. "$(dirname "$0")/prepare.sh"
cd "$KOVA_BUILD/x64"
ctest --output-on-failure -j"$(nproc)"
echo "tests finished in $(( $(date +%s) - start )) s"
