#!/usr/bin/env bash
# Builds the libFuzzer harnesses with clang (in build-fuzz) and runs each for
# SECONDS seconds (default 60) on a copy of its seed corpus. Inputs that make
# a harness fail are left in build-fuzz/findings/<harness>/; copy them into
# tests/fuzz/regressions/<harness>/ once mended, so every build replays them.
set -euo pipefail

seconds="${1:-60}"
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build-fuzz"

bash "$root/scripts/setup.sh"
fuzz_packages=(clang libclang-rt-14-dev)
missing=()
for p in "${fuzz_packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  as_root=()
  if [ "$(id -u)" -ne 0 ]; then as_root=(sudo); fi
  "${as_root[@]}" apt-get update -qq
  "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive \
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
clang="$(command -v clang++ || command -v clang++-14)"

cmake -S "$root" -B "$build" -DCMAKE_CXX_COMPILER="$clang" -DLUMORA_FUZZ=ON \
  -DLUMORA_BUILD_APP=OFF -DLUMORA_BUILD_BENCH=OFF -DLUMORA_BUILD_TESTS=ON
harnesses=(numbers linefiles extract settings levels measurement recording series spe)
cmake --build "$build" -j2 --target "${harnesses[@]/#/fuzz_}"

status=0
for h in "${harnesses[@]}"; do
  corpus="$build/corpus/$h"
  findings="$build/findings/$h"
  mkdir -p "$corpus" "$findings"
  cp -n "$root/tests/fuzz/corpus/$h/"* "$corpus/" 2>/dev/null || true
  echo "== $h: ${seconds}s"
  if ! "$build/tests/fuzz/fuzz_$h" -max_total_time="$seconds" -max_len=65536 \
       -artifact_prefix="$findings/" "$corpus" "$root/tests/fuzz/regressions/$h"; then
    echo "== $h failed; the input is in $findings" >&2
    status=1
  fi
done
exit $status
