#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Cross-builds SDL 1.2 for Windows once (Debian ships none) into a cache; prints its
# prefix. The source: Debian's libsdl1.2, for its patches (the BMP loader's security
# fixes), from bookworm (later ones dropped it), through an apt configuration of its own.
#   tools/sdlmingw.sh
set -euo pipefail
fail() { echo "sdlmingw: $*" >&2; exit 1; }
cache=${XDG_CACHE_HOME:-$HOME/.cache}/glowlattice
prefix=$cache/sdl-1.2-mingw64
[ ! -f "$prefix/bin/SDL.dll" ] || { echo "$prefix"; exit 0; }
work=$cache/sdl-1.2-mingw64.work
rm -rf "$work" "$prefix"
mkdir -p "$work/lists/partial"
# The mirrors this system already uses, asked for bookworm's sources.
apt-get indextargets --format '$(REPO_URI) $(RELEASE)' 'Target-Of: deb' 'Origin: Debian' |
    sort -u | while read -r uri release; do
    suffix=${release#"${release%%-*}"}
    echo "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $uri bookworm$suffix main"
done >"$work/bookworm.list"
[ -s "$work/bookworm.list" ] || fail "no Debian mirror configured for apt"
apt=(apt-get -q -o Dir::Etc::SourceList=/dev/null -o Dir::Etc::SourceParts="$work"
    -o Dir::State::Lists="$work/lists" -o APT::Sandbox::User=root)
cd "$work"
{
    "${apt[@]}" update
    "${apt[@]}" source --download-only libsdl1.2
    dpkg-source -x libsdl1.2_*.dsc src
} >fetch.log 2>&1 || { cat fetch.log >&2; fail "could not fetch and unpack Debian's libsdl1.2 source"; }
cd src
# Else the start-up library sends standard output and error to files beside the program.
{
    CC=x86_64-w64-mingw32-gcc-win32 ./configure --host=x86_64-w64-mingw32 --prefix="$prefix" --disable-stdio-redirect --disable-static
    make -j2
    make install
    x86_64-w64-mingw32-strip --strip-unneeded "$prefix/bin/SDL.dll"
} >"$work/build.log" 2>&1 || { tail -n 40 "$work/build.log" >&2; fail "the cross-build failed (log: $work/build.log)"; }
cp "$work/src/COPYING" "$prefix/COPYING.SDL"
cp "$work"/libsdl1.2_*.dsc "$prefix/"
rm -rf "$work"
echo "$prefix"
