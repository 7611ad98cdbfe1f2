#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs what is missing, builds with warnings as errors, and runs every
# test side by side in one ctest run: the arithmetic, the program itself on
# Xvfb with and without a window manager on both SDL 1.2 runtimes, the
# Windows build under Wine, the arm64 unit tests under qemu-user
# (GLOWLATTICE_ARM64_TESTS=OFF leaves them out), the Debian package, and the
# arithmetic and the program again built with clang under AddressSanitizer
# and UndefinedBehaviorSanitizer, with a minute of fuzzing.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh test
# The Windows build and its tests under Wine too, unless
# GLOWLATTICE_WINE_TESTS=OFF, or the release has no Wine for setup.sh to
# install (Debian 14): then they are left out, and that is said.
wine_tests=${GLOWLATTICE_WINE_TESTS:-}
if [ -z "$wine_tests" ]; then
    wine_tests=ON
    if [ "$(dpkg-query -W -f='${Status}' wine 2>/dev/null)" != "install ok installed" ]; then
        echo "test: this release has no Wine: the Windows build's tests under Wine are left out"
        wine_tests=OFF
    fi
fi
# The web page runs in each browser the release has; a missing one's rows
# are left out, and that is said.
for browser in chromium firefox-esr; do
    if [ "$(dpkg-query -W -f='${Status}' $browser 2>/dev/null)" != "install ok installed" ]; then
        echo "test: this release has no $browser: the web page's rows in it are left out"
    fi
done
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DGLOWLATTICE_WERROR=ON \
    -DGLOWLATTICE_TESTS=ON -DGLOWLATTICE_DISPLAY_TESTS=ON -DGLOWLATTICE_SANITIZED_TESTS=ON \
    -DGLOWLATTICE_WINE_TESTS="$wine_tests" -DGLOWLATTICE_ARM64_TESTS="${GLOWLATTICE_ARM64_TESTS:-ON}"
cmake --build build -j"$(nproc)"
# Two at a time per core: most of a test's time is its program drawing while
# the test waits on the display.
ctest --test-dir build --output-on-failure -j"$((2 * $(nproc)))"
