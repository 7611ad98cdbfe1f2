#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the Debian package in a copy of the tree, so that the tree stays clean
# and the packages land in OUTDIR, not in the tree's parent; prints the .deb last.
#   tools/deb.sh [OUTDIR]     OUTDIR defaults to build/deb
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:-build/deb}")
bash tools/setup.sh deb
version=$(dpkg-parsechangelog -S Version)
src=$out/glowlattice-$version
rm -rf "$src" "$out"/glowlattice*_"$version"_*
mkdir -p "$src"
tar -c --exclude=./.git --exclude='./build*' --exclude=./out . | tar -x -C "$src"
(cd "$src" && dpkg-buildpackage -b -us -uc -jauto)
rm -rf "$src"
ls "$out"/glowlattice_"$version"_*.deb
