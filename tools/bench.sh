#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds and runs the benchmarks, not part of the test run; with BENCH_WEB=1
# also the web page's. Callgrind's counts repeat on a busy machine; timings don't.
#   tools/bench.sh [frames]   (default 200 measured frames per run)
set -euo pipefail
cd "$(dirname "$0")/.."
frames=${1:-200}
bash tools/setup.sh bench
[ -z "${BENCH_WEB:-}" ] || bash tools/setup.sh web-bench
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DGLOWLATTICE_BENCH=ON >/dev/null
cmake --build build -j"$(nproc)" --target rotation_bench probe replay glowlattice >/dev/null

if [ -z "${BENCH_SKIP_ROTATION:-}" ]; then
    echo "== rotation of the whole lattice"
    ./build/bench/rotation_bench --benchmark_color=false 2>&1 | grep -E '_median|/ |^Run on|CPU Caches' || true
fi

# -noreset: a server resetting as its last client leaves turns SDL 1.2.15 away.
exec 3< <(Xvfb -displayfd 1 -screen 0 800x600x24 -nolisten tcp -noreset 2>/dev/null & echo "pid $!")
{ read -r _ xvfb; read -r display; } <&3
trap 'kill $xvfb 2>/dev/null || true' EXIT
export DISPLAY=:$display LIBGL_ALWAYS_SOFTWARE=1 PROBE_FRAMES=$frames PROBE_WARMUP=20

echo "== frames (Mesa $(glxinfo -B 2>/dev/null | sed -n 's/.*OpenGL renderer string: //p'), $frames frames a run)"
# A busy Xvfb sometimes turns a connection away; only that is tried again.
attempt() {
    for _ in 1 2 3 4 5; do
        "$@" 2>build/bench.err && return
        grep -qxF "Video initialization failed: Couldn't open X11 display" build/bench.err || break
        sleep 1
    done
    cat build/bench.err >&2
    return 1
}
for _ in 1 2 3; do
    PROBE_OUT=build/probe.txt LD_PRELOAD=$PWD/build/bench/libprobe.so attempt ./build/glowlattice
    sed 's/^/program /' build/probe.txt
    attempt ./build/bench/replay >build/replay.txt
    sed 's/^/replay  /' build/replay.txt
done | tee build/frames.txt
awk '/^program/ { p += $7; r += $9; ff += $11; rs = $13; re = $15; n++ }
     /^replay/  { q += $7 }
     END { printf "program fps %.2f, replay fps %.2f, ratio %.3f (target >= 0.98)\n", p/n, q/n, p/q
           printf "rotation share of the program frame %.4f; display open to first frame %.1f ms\n", r/n, ff/n
           printf "resident set over the measured frames of the last run: %d KiB -> %d KiB\n", rs, re }' build/frames.txt

echo "== instructions per frame (callgrind, 3 frames after 2 of warm-up)"
PROBE_FRAMES=3 PROBE_WARMUP=2 PROBE_OUT=/dev/null LD_PRELOAD=$PWD/build/bench/libprobe.so valgrind --tool=callgrind \
    --collect-atstart=no --callgrind-out-file=build/callgrind.out ./build/glowlattice 2>/dev/null
# The client request writes the bracketed frames to the first numbered dump.
bash bench/objshare.sh build/callgrind.out.1 glowlattice

[ -n "${BENCH_WEB:-}" ] || exit 0
echo "== the web page against the program (Chromium with SwiftShader; frames the X server got)"
bash tools/web.sh >/dev/null
/usr/bin/python3 bench/web.py build/glowlattice build-web/glowlattice-*-web # Debian's, with the modules it uses
