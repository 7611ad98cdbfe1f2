#!/usr/bin/env bash
# Unpacks the SDL 1.2 compatibility runtime (the SDL 1.2 interface built on
# SDL2) from its Debian package into DEST/lib, without installing it: it
# conflicts with the original runtime the program is built against. The
# end-to-end suite runs a second time with LD_LIBRARY_PATH=DEST/lib.
#   tools/sdl12compat.sh DEST
set -euo pipefail
dest=$1
work="$dest.tmp"
rm -rf "$work"
mkdir -p "$work"
cd "$work"
if ! apt-get download -qq libsdl1.2-compat 2>download.log; then
    cat download.log >&2
    echo "sdl12compat: could not fetch libsdl1.2-compat (run: apt-get update)" >&2
    exit 1
fi
dpkg-deb -x libsdl1.2-compat_*.deb root
found=$(find root -name libSDL-1.2.so.0 | head -n 1)
[ -n "$found" ] || { echo "sdl12compat: no libSDL-1.2.so.0 in the package" >&2; exit 1; }
mkdir lib
cp -a "$(dirname "$found")"/libSDL-1.2.so.* lib/
cd ..
rm -rf "$dest"
mv "$work" "$dest"
