#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds and runs the benchmarks; not part of the test run. Prints:
#   1. the lattice rotation against a plain copy and the plain scalar loop;
#   2. frames per second of the real program (timed by a preloaded probe,
#      spin fixed) and of a bare replay of its GL call stream, alternating,
#      three runs each, on an Xvfb with Mesa's software renderer;
#   3. with callgrind, the share of a frame's instructions in the program's
#      own code (instruction counts repeat on a busy machine; timings don't);
#   4. with BENCH_WEB=1, frames per second of the web page (tools/web.sh) in
#      Chromium against the program's, alternating, three runs each.
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

# -noreset: a server that resets when its last client leaves turns
# connections away meanwhile, as SDL 1.2.15's second look at the display.
exec 3< <(Xvfb -displayfd 1 -screen 0 800x600x24 -nolisten tcp -noreset 2>/dev/null & echo "pid $!")
read -r _ xvfb <&3
read -r display <&3
trap 'kill $xvfb 2>/dev/null || true' EXIT
export DISPLAY=:$display LIBGL_ALWAYS_SOFTWARE=1 PROBE_FRAMES=$frames PROBE_WARMUP=20
probe=$PWD/build/bench/libprobe.so

echo "== frames (Mesa $(glxinfo -B 2>/dev/null | sed -n 's/.*OpenGL renderer string: //p'), $frames frames a run)"
# A busy Xvfb sometimes turns a connection away; only that is tried again.
refused="Video initialization failed: Couldn't open X11 display"
attempt() {
    local tries
    for tries in 1 2 3 4 5; do
        if "$@" 2>build/bench.err; then return 0; fi
        grep -qxF "$refused" build/bench.err || break
        sleep 1
    done
    cat build/bench.err >&2
    return 1
}
for run in 1 2 3; do
    PROBE_OUT=build/probe.txt LD_PRELOAD=$probe attempt ./build/glowlattice
    sed 's/^/program /' build/probe.txt
    attempt ./build/bench/replay >build/replay.txt
    sed 's/^/replay  /' build/replay.txt
done | tee build/frames.txt
awk '/^program/ { p[++np] = $7; r += $9; ff += $11; rs = $13; re = $15 }
     /^replay/  { q[++nq] = $7 }
     END {
         for (i = 1; i <= np; i++) { sp += p[i]; sq += q[i] }
         printf "program fps %.2f, replay fps %.2f, ratio %.3f (target >= 0.98)\n", sp/np, sq/nq, sp/sq
         printf "rotation share of the program frame %.4f; display open to first frame %.1f ms\n", r/np, ff/np
         printf "resident set over the measured frames of the last run: %d KiB -> %d KiB\n", rs, re
     }' build/frames.txt

echo "== instructions per frame (callgrind, 3 frames after 2 of warm-up)"
out=build/callgrind.out
PROBE_FRAMES=3 PROBE_WARMUP=2 PROBE_OUT=/dev/null LD_PRELOAD=$probe \
    valgrind --tool=callgrind --collect-atstart=no --callgrind-out-file=$out ./build/glowlattice \
    2>/dev/null
# The client request writes the bracketed frames to the first numbered dump.
bash bench/objshare.sh "$out.1" glowlattice

if [ -n "${BENCH_WEB:-}" ]; then
    echo "== the web page against the program (Chromium with SwiftShader; frames the X server got)"
    bash tools/web.sh >/dev/null
    # Debian's Python, which has the modules the harness uses.
    /usr/bin/python3 bench/web.py build/glowlattice build-web/glowlattice-*-web
fi
