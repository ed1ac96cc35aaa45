#!/usr/bin/env bash
# Sets up, builds, installs to ./_install and starts Lumora on the bundled
# argon data: the window when a display exists, otherwise a fit of every
# sample measurement with lumora-cli.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
# Debian's interpreter: the one python3-numpy and pybind11-dev serve.
cmake -S . -B build -DPython3_EXECUTABLE=/usr/bin/python3
cmake --build build -j"$(nproc)"

prefix="$PWD/_install"
cmake --install build --prefix "$prefix"

# The machine-wide data folder is the first folder of XDG_DATA_DIRS holding
# "Lumora 1.3": on a user's first start lumora.ini is copied from there.
export XDG_DATA_DIRS="$prefix/share${XDG_DATA_DIRS:+:$XDG_DATA_DIRS}"

# The Python module, when built: `import lumora` with this folder on PYTHONPATH.
python_dir="$prefix/lib/python3/dist-packages"
if compgen -G "$python_dir/lumora*.so" >/dev/null; then
  echo "Python module: $(echo "$python_dir"/lumora*.so)"
  echo "  use it with: PYTHONPATH=\"$python_dir\" /usr/bin/python3 -c 'import lumora'"
fi
user_ini="${XDG_DATA_HOME:-$HOME/.local/share}/Lumora 1.3/lumora.ini"
if [ -e "$user_ini" ]; then
  echo "Using the settings file $user_ini (delete it to start afresh with the bundled one)."
fi

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -x "$prefix/bin/lumora" ]; then
  exec "$prefix/bin/lumora"
fi

if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "No display (neither DISPLAY nor WAYLAND_DISPLAY is set): fitting the sample measurements with lumora-cli instead of opening the window."
else
  echo "The window program was not built: fitting the sample measurements with lumora-cli instead."
fi
samples=("$prefix/share/Lumora 1.3/Measurements"/*.txt)
echo "lumora-cli fit ${#samples[@]} files in $prefix/share/Lumora 1.3/Measurements"
exec "$prefix/bin/lumora-cli" fit "${samples[@]}"
