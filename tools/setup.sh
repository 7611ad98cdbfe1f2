#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs the Debian packages a task needs, and nothing when they are all
# there already.
#   tools/setup.sh run    build and run the demo
#   tools/setup.sh test   also the test suite (Xvfb, pytest, GoogleTest, clang
#                         with the sanitizer and fuzzer runtimes)
#   tools/setup.sh shots  also what the screenshot script uses
#   tools/setup.sh bench  the benchmarks (Google Benchmark, valgrind, Xvfb)
#   tools/setup.sh windows  the Windows build and its zip (MinGW-w64, the
#                         tools that fetch SDL's source, GoogleTest's source)
#   tools/setup.sh web    the web page (Emscripten; Python to serve it)
#   tools/setup.sh web-bench  also Chromium, Firefox ESR and what the harness uses
set -euo pipefail

run=(cmake g++ make libsdl1.2-dev libgl-dev libglu1-mesa-dev libgl1-mesa-dri)
# The tests' second SDL 1.2 runtime needs SDL2 (the compatibility library, on
# Debian 12) or libcaca (the original 1.2.15, on Debian 13). The end-to-end
# tests are pytest with python-xlib and numpy on Xvfb. The arm64 build, by
# Debian's cross compiler, run under qemu-user.
test=(xvfb openbox libgtest-dev python3-pytest python3-xlib python3-numpy python3-websocket
    clang libclang-rt-dev libsdl2-2.0-0 libcaca0 desktop-file-utils build-essential debhelper lintian appstream
    g++-aarch64-linux-gnu qemu-user)
shots=("${test[@]}" imagemagick gifsicle)
bench=("${run[@]}" libbenchmark-dev valgrind xvfb mesa-utils)
windows=(cmake make g++-mingw-w64-x86-64 dpkg-dev libgtest-dev)
web=(cmake make emscripten python3)
web_bench=("${web[@]}" chromium firefox-esr xvfb openbox python3-xlib python3-numpy python3-websocket)
# The test run also builds for Windows and runs that under Wine, where the
# release has Wine (Debian 14 has none: the tests then leave it out), and
# the web page in Chromium and in Firefox ESR, where the release has them.
test+=("${windows[@]}" wine wine64 unzip emscripten chromium firefox-esr)

case "${1:-}" in
run) wanted=("${run[@]}") ;;
test) wanted=("${run[@]}" "${test[@]}") ;;
shots) wanted=("${run[@]}" "${shots[@]}") ;;
bench) wanted=("${bench[@]}") ;;
windows) wanted=("${windows[@]}") ;;
web) wanted=("${web[@]}") ;;
web-bench) wanted=("${web_bench[@]}") ;;
*)
    echo "usage: $0 run|test|shots|bench|windows|web|web-bench" >&2
    exit 2
    ;;
esac

missing=()
for pkg in "${wanted[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null || true)
    [ "$status" = "install ok installed" ] || missing+=("$pkg")
done
# The tests fetch the other SDL 1.2 runtime with apt-get download (not
# installed: it would replace the runtime built against); on Debian 12 that
# needs the system's package lists.
stale=0
if [ "$1" != run ] && ! compgen -G '/var/lib/apt/lists/*_Packages*' >/dev/null; then
    stale=1
fi
# Wine, Emscripten and the browsers only where the release has them, which the
# package lists tell: so decided again once they are fetched.
keep_available() {
    local kept=() pkg
    for pkg in "${missing[@]}"; do
        case $pkg in
        # (grep reads to the end: a broken pipe would read as no Wine.)
        wine | wine64 | emscripten | chromium | firefox-esr) apt-cache policy "$pkg" 2>/dev/null | grep 'Candidate: [^(]' >/dev/null || continue ;;
        esac
        kept+=("$pkg")
    done
    missing=("${kept[@]}")
}
[ $stale -eq 1 ] || keep_available
[ ${#missing[@]} -eq 0 ] && [ $stale -eq 0 ] && exit 0

if [ "$(id -u)" -eq 0 ]; then
    as_root=()
elif command -v sudo >/dev/null; then
    as_root=(sudo)
else
    echo "setup: need root or sudo to install: ${missing[*]}" >&2
    exit 1
fi
# A fresh machine may still be busy with its own upgrades: wait for apt's
# lock rather than fail.
apt=("${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get -q -o DPkg::Lock::Timeout=600)
"${apt[@]}" update
keep_available
echo "setup: installing ${missing[*]:-nothing, the package lists updated}"
[ ${#missing[@]} -eq 0 ] || "${apt[@]}" install -y --no-install-recommends "${missing[@]}"
