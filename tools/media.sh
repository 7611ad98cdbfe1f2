#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Retakes the README's pictures (docs/), the program's on Xvfb with Mesa's
# software renderer, the web page's on a phone, and the package's icon.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh shots
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc)" --target glowlattice >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
/usr/bin/python3 tools/shoot.py build/glowlattice "$work/still.ppm" "$work"
# A 128-colour palette keeps the stills small; the pictures are all one hue.
convert "$work/still.ppm" -strip -colors 128 PNG8:docs/screenshot.png
convert "$work"/frame*.ppm -resize 40% -strip "$work/frame%03d.gif"
gifsicle -O3 --colors 32 --lossy=80 --delay 10 --loopcount=forever "$work"/frame*.gif -o docs/drift.gif
page=$PWD/$(bash tools/web.sh | sed -n 's|^web: \(.*\)/ and .*|\1|p')
for shot in portrait:390x844 landscape:844x390; do
    SHOOT_SCREEN=${shot#*:} SHOOT_SETTINGS=PAGE_PHONE=3 /usr/bin/python3 tools/shoot.py \
        "/usr/bin/python3 $PWD/tests/e2e/browser.py $page chromium" "$work/${shot%:*}.ppm"
    convert "$work/${shot%:*}.ppm" -strip -colors 128 "PNG8:docs/phone-${shot%:*}.png"
done
convert data/sprite01.bmp -alpha copy -fill 'rgb(170,140,255)' -colorize 100 -strip PNG32:packaging/glowlattice.png
ls -l docs/screenshot.png docs/drift.gif docs/phone-*.png packaging/glowlattice.png
