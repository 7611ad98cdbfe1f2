#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the Debian package the Debian way (dpkg-buildpackage over debian/)
# in a copy of the tree, so that the tree itself stays clean and the
# packages land in one folder of the user's choosing rather than in the
# tree's parent. Installs the build dependencies that debian/control names,
# when any is missing, with apt-get build-dep (as root or through sudo).
#   tools/deb.sh [OUTDIR]     OUTDIR defaults to build/deb
# Prints the path of the .deb on its last line.
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:-build/deb}")

if ! command -v dpkg-checkbuilddeps >/dev/null || ! dpkg-checkbuilddeps 2>/dev/null; then
    if [ "$(id -u)" -eq 0 ]; then
        as_root=()
    elif command -v sudo >/dev/null; then
        as_root=(sudo)
    else
        echo "deb: need root or sudo to install the build dependencies" >&2
        exit 1
    fi
    apt=("${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=900)
    "${apt[@]}" update -q
    "${apt[@]}" build-dep -y -q --no-install-recommends ./
fi

version=$(dpkg-parsechangelog -S Version)
src=$out/glowlattice-$version
rm -rf "$src" "$out"/glowlattice*_"$version"_*
mkdir -p "$src"
# The tree as it stands, less build folders and git's own.
tar -c --exclude=./.git --exclude='./build*' --exclude=./out . | tar -x -C "$src"
(cd "$src" && dpkg-buildpackage -b -us -uc -jauto)
rm -rf "$src"
ls "$out"/glowlattice_"$version"_*.deb
