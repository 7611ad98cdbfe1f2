#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Unpacks an SDL 1.2 runtime from its Debian package into DEST/lib, without
# installing it: it would replace the runtime the program is built against.
# The end-to-end suite runs a second time with LD_LIBRARY_PATH=DEST/lib.
#   tools/sdlruntime.sh compat DEST    the SDL 1.2 interface built on SDL2
#                                       (libsdl1.2-compat, Debian 12)
#   tools/sdlruntime.sh original DEST  SDL 1.2.15 itself (libsdl1.2debian
#                                       of Debian 12, fetched through an apt
#                                       configuration of its own on Debian 13,
#                                       where that name is the compat library)
set -euo pipefail
kind=${1:-} dest=${2:-}
case "$kind" in
compat) pkg=libsdl1.2-compat ;;
original) pkg=libsdl1.2debian ;;
*)
    echo "usage: $0 compat|original DEST" >&2
    exit 2
    ;;
esac
work="$dest.tmp"
rm -rf "$work"
mkdir -p "$work"
cd "$work"
apt=(apt-get -qq)
if [ "$kind" = original ]; then
    # Debian 12's archive only, in a folder of our own: the system's sources
    # and package lists stay as they are.
    mkdir -p apt/sources apt/lists/partial apt/cache/archives/partial
    echo "deb [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg]" \
        "http://deb.debian.org/debian bookworm main" >apt/sources/bookworm.list
    # Nor does what is installed count: here that name is a newer package.
    apt+=(-o Dir::Etc::SourceList=/dev/null -o Dir::Etc::SourceParts="$PWD/apt/sources"
        -o Dir::State::Lists="$PWD/apt/lists" -o Dir::Cache="$PWD/apt/cache"
        -o Dir::State::status=/dev/null -o APT::Sandbox::User=root)
    "${apt[@]}" update
fi
if ! "${apt[@]}" download "$pkg" 2>download.log; then
    cat download.log >&2
    echo "sdlruntime: could not fetch $pkg (run: apt-get update)" >&2
    exit 1
fi
dpkg-deb -x "$pkg"_*.deb root
found=$(find root -name libSDL-1.2.so.0 | head -n 1)
[ -n "$found" ] || { echo "sdlruntime: no libSDL-1.2.so.0 in $pkg" >&2; exit 1; }
mkdir lib
cp -a "$(dirname "$found")"/libSDL-1.2.so.* lib/
missing=$(ldd lib/libSDL-1.2.so.0 | grep 'not found' || true)
[ -z "$missing" ] || { echo "sdlruntime: $pkg needs libraries not installed: $missing" >&2; exit 1; }
cd ..
rm -rf "$dest"
mv "$work" "$dest"
