#!/usr/bin/env bash
# Takes the README's screenshot from the real program: its own Xvfb, Mesa's
# software renderer, the pointer held off centre for a moment so the lattice
# has turned, then the screen read back from the X server.
#   tools/screenshot.sh [OUT.png]    (default docs/screenshot.png)
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-docs/screenshot.png}
bash tools/setup.sh shots
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc)" --target glowlattice >/dev/null

exec 3< <(Xvfb -displayfd 1 -screen 0 800x600x24 -nolisten tcp 2>/dev/null)
read -r -u 3 number
export DISPLAY=:$number
cleanup() { pkill -f "Xvfb -displayfd" -P $$ 2>/dev/null || true; }
trap cleanup EXIT

LIBGL_ALWAYS_SOFTWARE=1 ./build/glowlattice &
demo=$!
sleep 3
xdotool mousemove 560 380
sleep 2
xdotool mousemove 400 300
sleep 1
# A 128-colour palette keeps the file small; the picture is all one hue.
xwd -root -silent | convert xwd:- -strip -colors 128 PNG8:"$out"
xdotool key Escape
wait "$demo"
echo "wrote $out"
