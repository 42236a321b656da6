#!/usr/bin/env bash
# Builds the pinned third-party libraries from Debian's source packages with the project's
# cross toolchain. Usage: deps.sh DEPS_DIR [ARCH] (ARCH i686, the default, or x86_64). Each
# library is built once per folder; a stamp file records the finished build.
set -euo pipefail

deps_dir=$(realpath -m "$1")
arch=${2:-i686}
top=$(cd "$(dirname "$0")/.." && pwd)
toolchain="$top/cmake/toolchain-mingw.cmake"
arch_flags=(-DCMAKE_TOOLCHAIN_FILE="$toolchain" -DKOVA_ARCH="$arch")
src="$deps_dir/src"
prefix="$deps_dir/install"
jobs=$(nproc)
mkdir -p "$src" "$prefix/include" "$prefix/lib"

# fetch SOURCE EXACT-VERSION DIR-VERSION-PREFIX -> prints the unpacked folder
fetch() {
    local pkg=$1 version=$2 want=$3
    local dir
    dir=$(find "$src" -maxdepth 1 -type d -name "${pkg}-${want}*" | head -n 1)
    if [ -z "$dir" ]; then
        (cd "$src" && apt-get source -q "${pkg}=${version}" >/dev/null 2>"$src/${pkg}.log") || {
            cat "$src/${pkg}.log" >&2; exit 1; }
        dir=$(find "$src" -maxdepth 1 -type d -name "${pkg}-${want}*" | head -n 1)
    fi
    [ -n "$dir" ] || { echo "source of $pkg $want not found after apt-get source" >&2; exit 1; }
    echo "$dir"
}

stamp_ok() { [ -f "$deps_dir/$1.stamp" ]; }
stamp_set() { touch "$deps_dir/$1.stamp"; }

# zlib 1.3.1 (trixie); the stream checkpoint reads zlib's internal deflate state, so the
# private headers deflate.h and zutil.h are installed beside the public ones.
if ! stamp_ok zlib-1.3.1; then
    d=$(fetch zlib "1:1.3.dfsg+really1.3.1-1" "1.3.dfsg+really1.3.1")
    grep -q '#define ZLIB_VERSION "1.3.1"' "$d/zlib.h" || { echo "zlib source is not 1.3.1" >&2; exit 1; }
    b="$deps_dir/build/zlib"
    rm -rf "$b" && mkdir -p "$b"
    for c in adler32 compress crc32 deflate gzclose gzlib gzread gzwrite infback inffast inflate \
             inftrees trees uncompr zutil; do
        "$arch-w64-mingw32-gcc-posix" -O2 -c "$d/$c.c" -o "$b/$c.o" &
    done
    wait
    rm -f "$prefix/lib/libz.a"
    "$arch-w64-mingw32-ar" rcs "$prefix/lib/libz.a" "$b"/*.o
    cp "$d/zlib.h" "$d/zconf.h" "$d/deflate.h" "$d/zutil.h" "$prefix/include/"
    stamp_set zlib-1.3.1
fi

# libjpeg-turbo 2.1.5 (bookworm) with the nasm SIMD code.
if ! stamp_ok libjpeg-turbo-2.1.5; then
    d=$(fetch libjpeg-turbo "1:2.1.5-2" "2.1.5")
    b="$deps_dir/build/libjpeg-turbo"
    rm -rf "$b"
    cmake -S "$d" -B "$b" "${arch_flags[@]}" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_INSTALL_PREFIX="$prefix" -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_SIMD=ON \
        -DREQUIRE_SIMD=ON -DWITH_TURBOJPEG=OFF -DWITH_JPEG8=OFF >/dev/null
    cmake --build "$b" -j"$jobs" >/dev/null
    cmake --install "$b" >/dev/null
    stamp_set libjpeg-turbo-2.1.5
fi

# mbed TLS 2.28.3 (bookworm): the crypto library is all the project uses.
if ! stamp_ok mbedtls-2.28.3; then
    d=$(fetch mbedtls "2.28.3-1" "2.28.3")
    b="$deps_dir/build/mbedtls"
    rm -rf "$b"
    cmake -S "$d" -B "$b" "${arch_flags[@]}" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_INSTALL_PREFIX="$prefix" -DENABLE_TESTING=OFF -DENABLE_PROGRAMS=OFF \
        -DUSE_SHARED_MBEDTLS_LIBRARY=OFF -DUSE_STATIC_MBEDTLS_LIBRARY=ON -DMBEDTLS_FATAL_WARNINGS=OFF
    cmake --build "$b" -j"$jobs" --target mbedcrypto >/dev/null
    install -m 644 "$b/library/libmbedcrypto.a" "$prefix/lib/"
    cp -r "$d/include/mbedtls" "$d/include/psa" "$prefix/include/"
    stamp_set mbedtls-2.28.3
fi
