#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Unpacks an SDL 1.2 runtime into DEST/lib for the end-to-end suite's second run
# without installing it, which would replace the runtime the program is built on.
#   tools/sdlruntime.sh compat|original DEST   libsdl1.2-compat (on SDL2), or
#       SDL 1.2.15 itself: Debian 12's libsdl1.2debian (on Debian 13, that name is compat)
set -euo pipefail
kind=${1:-} dest=${2:-}
case "$kind" in
compat) pkg=libsdl1.2-compat ;;
original) pkg=libsdl1.2debian ;;
*) echo "usage: $0 compat|original DEST" >&2; exit 2 ;;
esac
fail() { echo "sdlruntime: $*" >&2; exit 1; }
work="$dest.tmp"
rm -rf "$work"
mkdir -p "$work"
cd "$work"
apt=(apt-get -qq)
if [ "$kind" = original ]; then
    # Debian 12's archive alone, in folders of our own, blind to what is installed.
    mkdir -p apt/sources apt/lists/partial apt/cache/archives/partial
    echo "deb [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian bookworm main" \
        >apt/sources/bookworm.list
    apt+=(-o Dir::Etc::SourceList=/dev/null -o Dir::Etc::SourceParts="$PWD/apt/sources" -o Dir::State::Lists="$PWD/apt/lists"
        -o Dir::Cache="$PWD/apt/cache" -o Dir::State::status=/dev/null -o APT::Sandbox::User=root)
    "${apt[@]}" update
fi
"${apt[@]}" download "$pkg" 2>download.log || { cat download.log >&2; fail "could not fetch $pkg (run: apt-get update)"; }
dpkg-deb -x "$pkg"_*.deb root
found=$(find root -name libSDL-1.2.so.0 | head -n 1)
[ -n "$found" ] || fail "no libSDL-1.2.so.0 in $pkg"
mkdir lib
cp -a "$(dirname "$found")"/libSDL-1.2.so.* lib/
missing=$(ldd lib/libSDL-1.2.so.0 | grep 'not found' || true)
[ -z "$missing" ] || fail "$pkg needs libraries not installed: $missing"
cd ..
rm -rf "$dest"
mv "$work" "$dest"
