#!/usr/bin/env bash
# Installs what is needed, builds everything and runs every test under Wine.
# The shipped 32-bit binaries are built in build/; the same sources are built again for x86_64
# in build/x64, whose test programs run under 64-bit Wine (see scripts/wine_env.sh).
# Usage (as root, from anywhere): bash scripts/test.sh
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build="$top/build"
start=$(date +%s)
"$top/scripts/setup.sh"
"$top/scripts/build.sh" "$build" i686
"$top/scripts/build.sh" "$build/x64" x86_64
. "$top/scripts/wine_env.sh"
trap wine_env_stop EXIT
wine_env_start "$build/x64"
cd "$build/x64"
ctest --output-on-failure -j"$(nproc)"
echo "tests finished in $(( $(date +%s) - start )) s"
