#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs what is missing, builds, and starts the demo from the repository root.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh run
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DGLOWLATTICE_TESTS=OFF
cmake --build build -j"$(nproc)" --target glowlattice
exec ./build/glowlattice
