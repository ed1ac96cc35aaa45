#!/usr/bin/env bash
# Sets up what is missing, builds everything and runs every test through CTest.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
jobs="$(nproc)"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPython3_EXECUTABLE=/usr/bin/python3
cmake --build build -j"$jobs"
# Window tests never need a display.
export QT_QPA_PLATFORM=offscreen
ctest --test-dir build --output-on-failure -j"$jobs"
