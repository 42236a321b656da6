#!/usr/bin/env bash
# Installs what the build and the tests need on a Debian 12 machine (run as root).
# Idempotent: a machine that has everything is left as it is.
set -euo pipefail

need_pkgs=(wine64 mingw-w64 g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix nasm xvfb xauth
           dpkg-dev cmake make googletest python3 xdotool)

src_list=/etc/apt/sources.list.d/kova-deps-src.sources
need_update=0

# Source entries for the pinned dependency sources: bookworm (libjpeg-turbo, mbed TLS)
# and trixie (zlib 1.3.1). Only added when no entry of ours is there yet.
if [ ! -f "$src_list" ]; then
    cat > "$src_list" <<'SRC'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm trixie
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
    need_update=1
fi

missing=()
for p in "${need_pkgs[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] || need_update=1

if [ "$need_update" = 1 ]; then
    apt-get update -q
fi
if [ ${#missing[@]} -gt 0 ]; then
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
