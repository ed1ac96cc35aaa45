#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when missing
# (as root, or through sudo).
set -euo pipefail

packages=(cmake g++ make libgtest-dev libgmock-dev libbenchmark-dev libsimpleini-dev
          libtbb-dev nlohmann-json3-dev libboost-dev libeigen3-dev libceres-dev libre2-dev
          qt6-base-dev qt6-svg-dev libqcustomplot-dev libqcustomplot2.1-qt6
          python3 python3-dev pybind11-dev python3-numpy python3-pytest python3-scipy
          python3-matplotlib
          # examples/campaign_dask.py and its test
          python3-distributed
          # the Debian packages and their checks (packaging/test_packages.sh)
          dpkg-dev file librsvg2-bin lintian desktop-file-utils appstream man-db libxml2-utils)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
((${#missing[@]})) || exit 0

echo "Installing: ${missing[*]}"
as_root=()
if [ "$(id -u)" -ne 0 ]; then
  if ! command -v sudo >/dev/null; then
    echo "setup: these packages are missing and sudo is not available: ${missing[*]}" >&2
    exit 1
  fi
  as_root=(sudo)
fi
"${as_root[@]}" apt-get update -qq
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive \
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
