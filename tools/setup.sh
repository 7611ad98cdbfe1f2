#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# shellcheck disable=SC2034 # each list is read by its name, through $list
# Installs the Debian packages a task needs, and nothing when they are all there
# (deb: those debian/control names).
#   tools/setup.sh run|test|shots|bench|windows|web|web-bench|deb
set -euo pipefail
cd "$(dirname "$0")/.."

run=(cmake g++ make libsdl1.2-dev libgl-dev libglu1-mesa-dev libgl1-mesa-dri)
# The tests' second SDL 1.2 runtime needs SDL2 (Debian 12) or libcaca (13).
test=("${run[@]}" xvfb openbox libgtest-dev python3-pytest python3-xlib python3-numpy python3-websocket
    clang libclang-rt-dev libsdl2-2.0-0 libcaca0 desktop-file-utils build-essential debhelper lintian appstream
    g++-aarch64-linux-gnu qemu-user)
shots=("${test[@]}" imagemagick gifsicle)
bench=("${run[@]}" libbenchmark-dev valgrind xvfb mesa-utils)
windows=(cmake make g++-mingw-w64-x86-64 dpkg-dev libgtest-dev)
web=(cmake make emscripten python3)
web_bench=("${web[@]}" chromium firefox-esr xvfb openbox python3-xlib python3-numpy python3-websocket)
test+=("${windows[@]}" wine wine64 unzip emscripten chromium firefox-esr)
deb=()
[[ ${1:-} =~ ^(run|test|shots|bench|windows|web|web-bench|deb)$ ]] ||
    { echo "usage: $0 run|test|shots|bench|windows|web|web-bench|deb" >&2; exit 2; }
list="${1/-/_}[@]"
wanted=("${!list}")

# Wine, Emscripten and the browsers only where the release has them, asked again
# after an update (grep reads to the end: a broken pipe would read as none).
keep_available() {
    local kept=() pkg
    for pkg in "${missing[@]}"; do
        [[ ! $pkg =~ ^(wine|wine64|emscripten|chromium|firefox-esr)$ ]] ||
            apt-cache policy "$pkg" 2>/dev/null | grep 'Candidate: [^(]' >/dev/null && kept+=("$pkg")
    done
    missing=("${kept[@]}")
}
missing=()
for pkg in "${wanted[@]}"; do
    [ "$(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null)" = "install ok installed" ] || missing+=("$pkg")
done
if [ "$1" = deb ]; then
    command -v dpkg-checkbuilddeps >/dev/null && dpkg-checkbuilddeps 2>/dev/null && exit 0
    need="the build dependencies"
# The tests' apt-get download of the other SDL runtime needs the package lists.
elif [ "$1" = run ] || compgen -G '/var/lib/apt/lists/*_Packages*' >/dev/null; then
    keep_available
    [ ${#missing[@]} -gt 0 ] || exit 0
fi

as_root=()
if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || { echo "setup: need root or sudo to install: ${need-${missing[*]}}" >&2; exit 1; }
    as_root=(sudo)
fi
# A fresh machine may still be busy with its own upgrades: wait for apt's lock.
apt=("${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get -q -o DPkg::Lock::Timeout=900)
"${apt[@]}" update
[ "$1" != deb ] || exec "${apt[@]}" build-dep -y --no-install-recommends ./
keep_available
echo "setup: installing ${missing[*]:-nothing, the package lists updated}"
[ ${#missing[@]} -eq 0 ] || "${apt[@]}" install -y --no-install-recommends "${missing[@]}"
