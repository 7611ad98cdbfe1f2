#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds glowlattice for 64-bit Windows on Debian, with MinGW-w64 and an SDL
# 1.2 cross-built once by tools/sdlmingw.sh, and packs the zip a Windows
# user unpacks and double-clicks: glowlattice-VERSION-win64.zip in DIR.
#   tools/windows.sh [DIR]               install what is missing first
#   tools/windows.sh --no-setup DIR      as a step of the Linux build's tests
# DIR defaults to build-win. The Windows unit tests land in DIR/tests/.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "${1:-}" = --no-setup ]; then
    shift
else
    bash tools/setup.sh windows
fi
dir=${1:-build-win}
# The same zip, bit for bit, wherever and whenever the tree is built: the
# zip's file times and the program's PE timestamp (ld) are the last
# changelog entry's date; zip keeps local times, so it is packed in UTC.
SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(dpkg-parsechangelog -STimestamp)}
export SOURCE_DATE_EPOCH
SDLDIR=$(bash tools/sdlmingw.sh)
export SDLDIR
cmake -S . -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DGLOWLATTICE_WERROR=ON -DGLOWLATTICE_TESTS=ON >/dev/null
cmake --build "$dir" -j2
(cd "$dir" && TZ=UTC cpack -G ZIP >/dev/null)
realpath "$dir"/glowlattice-*-win64.zip
