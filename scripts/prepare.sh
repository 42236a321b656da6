# Sourced by test.sh and demo.sh: installs what is needed, builds the shipped 32-bit binaries
# in build/ and the x86_64 test flavour in build/x64, and starts the display and the Wine
# server for build/x64 (stopped when the calling script exits). Sets KOVA_BUILD.
set -euo pipefail
KOVA_TOP=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
KOVA_BUILD="$KOVA_TOP/build"
"$KOVA_TOP/scripts/setup.sh"
"$KOVA_TOP/scripts/build.sh" "$KOVA_BUILD" i686
"$KOVA_TOP/scripts/build.sh" "$KOVA_BUILD/x64" x86_64
. "$KOVA_TOP/scripts/wine_env.sh"
trap wine_env_stop EXIT
wine_env_start "$KOVA_BUILD/x64"
