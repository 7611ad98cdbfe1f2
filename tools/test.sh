#!/usr/bin/env bash
# Installs what is missing, builds with warnings as errors, and runs every
# test: the arithmetic, then the program itself under its own Xvfb.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh test
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DGLOWLATTICE_WERROR=ON -DGLOWLATTICE_TESTS=ON
cmake --build build -j"$(nproc)"
ctest --test-dir build --output-on-failure -j"$(nproc)"
