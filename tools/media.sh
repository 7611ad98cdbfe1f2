#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Retakes the README's pictures from the real program under its own Xvfb with
# Mesa's software renderer: the still docs/screenshot.png and the animation
# docs/drift.gif (the pointer drifting off centre and back), the web page
# on a phone upright and sideways (docs/phone-portrait.png,
# docs/phone-landscape.png: Chromium's emulation of a 390 x 844 screen at
# pixel ratio 3), plus the package's icon, tinted from the sprite.
#   tools/media.sh
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh shots
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc)" --target glowlattice >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
/usr/bin/python3 tools/shoot.py build/glowlattice "$work/still.ppm" "$work"
# A 128-colour palette keeps the still small; the picture is all one hue.
convert "$work/still.ppm" -strip -colors 128 PNG8:docs/screenshot.png
# Two fifths the size, 10 frames a second, looping; one small palette and
# lossy compression keep it near a megabyte.
convert "$work"/frame*.ppm -resize 40% -strip "$work/frame%03d.gif"
gifsicle -O3 --colors 32 --lossy=80 --delay 10 --loopcount=forever "$work"/frame*.gif -o docs/drift.gif
bash tools/web.sh >/dev/null
page="$PWD/build-web/glowlattice-$(sed -n 's/^project(glowlattice VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)-web"
for shot in portrait:390x844 landscape:844x390; do
    SHOOT_SCREEN=${shot#*:} SHOOT_SETTINGS=PAGE_PHONE=3 /usr/bin/python3 tools/shoot.py \
        "/usr/bin/python3 $PWD/tests/e2e/browser.py $page chromium" "$work/${shot%:*}.ppm"
    convert "$work/${shot%:*}.ppm" -strip -colors 128 "PNG8:docs/phone-${shot%:*}.png"
done
convert data/sprite01.bmp -alpha copy -fill 'rgb(170,140,255)' -colorize 100 -strip \
    PNG32:packaging/glowlattice.png
ls -l docs/screenshot.png docs/drift.gif docs/phone-*.png packaging/glowlattice.png
