#!/usr/bin/env bash
# Retakes the README's screenshot from the real program under its own Xvfb
# with Mesa's software renderer.
#   tools/screenshot.sh [OUT.png]    (default docs/screenshot.png)
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-docs/screenshot.png}
bash tools/setup.sh shots
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DGLOWLATTICE_TESTS=ON >/dev/null
cmake --build build -j"$(nproc)" --target shoot >/dev/null
frame=$(mktemp --suffix=.ppm)
trap 'rm -f "$frame"' EXIT
./build/shoot "$frame"
# A 128-colour palette keeps the file small; the picture is all one hue.
convert "$frame" -strip -colors 128 PNG8:"$out"
echo "wrote $out"
