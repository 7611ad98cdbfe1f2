#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Cross-builds SDL 1.2 for 64-bit Windows with MinGW-w64, once: Debian ships
# no such build. The source is Debian's own libsdl1.2 package, patches
# applied (among them the BMP loader's security fixes), fetched through a
# private apt configuration so the system's sources stay as they are. The
# suite is pinned to bookworm: later releases dropped that source package.
# The result stays in a cache folder between runs; prints its prefix.
#   tools/sdlmingw.sh
set -euo pipefail
cache=${XDG_CACHE_HOME:-$HOME/.cache}/glowlattice
prefix=$cache/sdl-1.2-mingw64
if [ -f "$prefix/bin/SDL.dll" ]; then
    echo "$prefix"
    exit 0
fi
work=$cache/sdl-1.2-mingw64.work
rm -rf "$work" "$prefix"
mkdir -p "$work/lists/partial"
# The mirrors this system already uses, asked for bookworm's sources.
keyring=/usr/share/keyrings/debian-archive-keyring.gpg
apt-get indextargets --format '$(REPO_URI) $(RELEASE)' 'Target-Of: deb' 'Origin: Debian' |
    sort -u | while read -r uri release; do
    suffix=${release#"${release%%-*}"}
    echo "deb-src [signed-by=$keyring] $uri bookworm$suffix main"
done >"$work/bookworm.list"
[ -s "$work/bookworm.list" ] || { echo "sdlmingw: no Debian mirror configured for apt" >&2; exit 1; }
apt=(apt-get -q -o Dir::Etc::SourceList=/dev/null -o Dir::Etc::SourceParts="$work"
    -o Dir::State::Lists="$work/lists" -o APT::Sandbox::User=root)
cd "$work"
{
    "${apt[@]}" update
    "${apt[@]}" source --download-only libsdl1.2
    dpkg-source -x libsdl1.2_*.dsc src
} >fetch.log 2>&1 || {
    cat fetch.log >&2
    echo "sdlmingw: could not fetch and unpack Debian's libsdl1.2 source" >&2
    exit 1
}
# The start-up library would otherwise send standard output and error to
# files beside the program, and its start-up messages would be lost.
cd src
{
    CC=x86_64-w64-mingw32-gcc-win32 ./configure --host=x86_64-w64-mingw32 --prefix="$prefix" --disable-stdio-redirect \
        --disable-static
    make -j2
    make install
    x86_64-w64-mingw32-strip --strip-unneeded "$prefix/bin/SDL.dll"
} >"$work/build.log" 2>&1 || {
    tail -n 40 "$work/build.log" >&2
    echo "sdlmingw: the cross-build failed (log: $work/build.log)" >&2
    exit 1
}
cp "$work/src/COPYING" "$prefix/COPYING.SDL"
cp "$work"/libsdl1.2_*.dsc "$prefix/"
rm -rf "$work"
echo "$prefix"
