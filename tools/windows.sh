#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds for 64-bit Windows with MinGW-w64 and tools/sdlmingw.sh's SDL, and packs
# the zip a Windows user double-clicks: DIR/glowlattice-VERSION-win64.zip.
#   tools/windows.sh [DIR]            install what is missing first; DIR: build-win
#   tools/windows.sh --no-setup DIR   as a step of the Linux build's tests
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "${1:-}" = --no-setup ]; then shift; else bash tools/setup.sh windows; fi
dir=${1:-build-win}
# The same zip, bit for bit, wherever built: file times and PE timestamps are the
# last changelog entry's date, and zip keeps local times, so it is packed in UTC.
SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(dpkg-parsechangelog -STimestamp)}
export SOURCE_DATE_EPOCH
SDLDIR=$(bash tools/sdlmingw.sh)
export SDLDIR
cmake -S . -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DGLOWLATTICE_WERROR=ON -DGLOWLATTICE_TESTS=ON >/dev/null
cmake --build "$dir" -j2
(cd "$dir" && TZ=UTC cpack -G ZIP >/dev/null)
realpath "$dir"/glowlattice-*-win64.zip
