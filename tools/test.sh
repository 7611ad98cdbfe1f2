#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs what is missing, builds with warnings as errors, and runs every
# test: the arithmetic, then the program itself under its own Xvfb on both
# SDL 1.2 runtimes, the Windows build under Wine, the arm64 build under
# qemu-user (GLOWLATTICE_ARM64_TESTS=OFF leaves it out) and the Debian
# package; then the arithmetic and the program again built with clang under
# AddressSanitizer and UndefinedBehaviorSanitizer, and a minute of fuzzing.
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
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DGLOWLATTICE_WERROR=ON \
    -DGLOWLATTICE_TESTS=ON -DGLOWLATTICE_DISPLAY_TESTS=ON \
    -DGLOWLATTICE_WINE_TESTS="$wine_tests" -DGLOWLATTICE_ARM64_TESTS="${GLOWLATTICE_ARM64_TESTS:-ON}"
cmake --build build -j"$(nproc)"
ctest --test-dir build --output-on-failure -j"$(nproc)"

CC=clang CXX=clang++ cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DGLOWLATTICE_WERROR=ON -DGLOWLATTICE_TESTS=ON -DGLOWLATTICE_DISPLAY_TESTS=ON \
    -DGLOWLATTICE_SANITIZE=ON -DGLOWLATTICE_FUZZ=ON
cmake --build build-asan -j"$(nproc)"
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# Our own allocations (the loader's, in the unit tests and the fuzzer) are
# leak-checked, with nothing suppressed. The program allocates nothing
# itself: its heap is SDL's, X's and Mesa's, whose driver is unloaded before
# exit, leaving leak reports no suppression can name; there, memory errors
# and undefined behaviour are checked.
ASAN_OPTIONS=detect_leaks=1 ctest --test-dir build-asan --output-on-failure -j"$(nproc)" -L 'unit|fuzz'
ASAN_OPTIONS=detect_leaks=0 ctest --test-dir build-asan --output-on-failure -j"$(nproc)" -L e2e
