#!/usr/bin/env bash
# Builds the Debian packages lumora and python3-lumora into ./build
# (lumora_<version>_<arch>.deb, python3-lumora_<version>_<arch>.deb).
# Install them with: apt install ./build/lumora_*.deb ./build/python3-lumora_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPython3_EXECUTABLE=/usr/bin/python3
cmake --build build -j"$(nproc)"
(cd build && cpack -G DEB)
ls -1 build/*.deb
