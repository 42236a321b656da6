#!/usr/bin/env bash
# Builds the dependencies (once per build folder) and every target of the project.
# Usage: build.sh [BUILD_DIR [ARCH]]   (default: build, i686; ARCH x86_64 builds the test flavour)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$top/build}")
arch=${2:-i686}
"$top/scripts/deps.sh" "$build/deps" "$arch"
cmake -S "$top" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$top/cmake/toolchain-mingw.cmake" -DKOVA_ARCH="$arch" \
      -DKOVA_DEPS_PREFIX="$build/deps/install" >/dev/null
cmake --build "$build" -j"$(nproc)"
