#!/usr/bin/env bash
# Usage: test_packages.sh BUILD_DIR APP_ID
# Builds the packages from BUILD_DIR into a scratch folder, checks their
# contents and metadata, installs them into a scratch root and runs what they
# hold: a new user's first start of lumora-cli (empty home, the installed
# /usr/share on XDG_DATA_DIRS), a fit of every bundled sample, the module
# under /usr/bin/python3, and the validators of the desktop files, the
# manual pages and lintian.
#
# The scratch root gets `dpkg --root -i` (with --force-depends: it holds no
# libc6 or Qt) when run as root, else the packages are unpacked with
# dpkg-deb -x, which dpkg would do the same way.
set -euo pipefail
build="$(cd "$1" && pwd)"
app_id="$2"
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT

fail() {
  echo "FAIL: $*" >&2
  exit 1
}
# Runs a command quietly; its output is shown only when it fails.
quiet() {
  "$@" >"$scratch/quiet.log" 2>&1 || {
    cat "$scratch/quiet.log" >&2
    fail "$*"
  }
}

quiet bash -c "cd '$build' && cpack -G DEB -B '$scratch/out'"
lumora=("$scratch"/out/lumora_*.deb)
python=("$scratch"/out/python3-lumora_*.deb)
[ -f "${lumora[0]}" ] && [ -f "${python[0]}" ] || fail "cpack made no packages"

# ---- contents and metadata --------------------------------------------------
lumora_contents="$(dpkg-deb --contents "${lumora[0]}")"
python_contents="$(dpkg-deb --contents "${python[0]}")"
lumora_files=(
  ./usr/bin/lumora ./usr/bin/lumora-cli
  "./usr/share/Lumora 1.3/lumora.ini" "./usr/share/Lumora 1.3/Database/Ar_I.txt"
  "./usr/share/Lumora 1.3/Database/Ar_I_levels.txt" "./usr/share/Lumora 1.3/Measurements/argon_n2e15.txt"
  "./usr/share/Lumora 1.3/Measurements/pulse/argon_pulse_t=0000us.recording.csv"
  ./usr/share/doc/lumora/changelog.gz ./usr/share/doc/lumora/copyright
  "./usr/share/applications/$app_id.desktop" "./usr/share/metainfo/$app_id.metainfo.xml"
  ./usr/share/mime/packages/lumora.xml ./usr/share/icons/hicolor/scalable/apps/lumora.svg
  ./usr/share/icons/hicolor/48x48/apps/lumora.png ./usr/share/icons/hicolor/256x256/apps/lumora.png
  ./usr/share/man/man1/lumora.1.gz ./usr/share/man/man1/lumora-cli.1.gz
  ./usr/share/bash-completion/completions/lumora ./usr/share/bash-completion/completions/lumora-cli
)
for path in "${lumora_files[@]}"; do
  grep -qF " $path" <<<"$lumora_contents" || fail "lumora lacks $path"
done
grep -q ' ./usr/lib/python3/dist-packages/lumora\..*\.so$' <<<"$python_contents" \
  || fail "python3-lumora lacks the module"
grep -qF ' ./usr/share/doc/python3-lumora/copyright' <<<"$python_contents" \
  || fail "python3-lumora lacks its copyright file"
grep -q ' ./usr/bin/' <<<"$python_contents" && fail "python3-lumora holds programs"
depends="$(dpkg-deb -f "${lumora[0]}" Depends)"
grep -q 'libc6' <<<"$depends" || fail "lumora has no computed dependencies: $depends"
grep -q 'libqt6widgets6' <<<"$depends" || fail "lumora does not depend on Qt: $depends"
grep -q 'python3-numpy' <<<"$(dpkg-deb -f "${python[0]}" Depends)" \
  || fail "python3-lumora does not depend on python3-numpy"

# ---- install into a scratch root --------------------------------------------
root="$scratch/root"
if [ "$(id -u)" -eq 0 ]; then
  mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
  touch "$root/var/lib/dpkg/status"
  quiet dpkg --root="$root" --log=/dev/null --force-depends -i "${lumora[0]}" "${python[0]}"
  dpkg --root="$root" -s lumora python3-lumora | grep -c '^Status: install ok installed' \
    | grep -qx 2 || fail "dpkg does not list both packages as installed"
else
  for deb in "${lumora[0]}" "${python[0]}"; do dpkg-deb -x "$deb" "$root"; done
fi
share="$root/usr/share"

# ---- the installed files check out ------------------------------------------
quiet desktop-file-validate "$share/applications/$app_id.desktop"
quiet appstreamcli validate --no-net "$share/metainfo/$app_id.metainfo.xml"
quiet xmllint --noout "$share/mime/packages/lumora.xml"
# Taken from the package itself: a dpkg configured to leave out manual pages
# would not have installed them.
for page in lumora lumora-cli; do
  dpkg-deb --fsys-tarfile "${lumora[0]}" | tar -xO "./usr/share/man/man1/$page.1.gz" \
    | gunzip >"$scratch/$page.1"
  warnings="$(MANWIDTH=80 man --warnings -l "$scratch/$page.1" 2>&1 >/dev/null)" \
    || fail "man cannot render $page.1"
  [ -z "$warnings" ] || fail "man warns about $page.1: $warnings"
done

# ---- a new user's first start -------------------------------------------------
home="$scratch/home"
mkdir -p "$home"
cli() { env -i PATH=/usr/bin:/bin HOME="$home" XDG_DATA_DIRS="$share" "$root/usr/bin/lumora-cli" "$@"; }
settings="$(cli settings)" || fail "lumora-cli settings failed on a first start"
grep -qF "Database=/usr/share/Lumora 1.3/Database" <<<"$settings" \
  || fail "the first start did not take the installed settings"
user_ini="$home/.local/share/Lumora 1.3/lumora.ini"
[ -f "$user_ini" ] || fail "no per-user settings after the first start"

# The window's first start from another empty home gets as far as its
# window: still running when stopped, its settings copied.
window_home="$scratch/window-home"
mkdir -p "$window_home"
status=0
env -i PATH=/usr/bin:/bin HOME="$window_home" XDG_DATA_DIRS="$share" QT_QPA_PLATFORM=offscreen \
  timeout 5 "$root/usr/bin/lumora" >"$scratch/window.out" 2>&1 || status=$?
[ "$status" -eq 124 ] || fail "the window ended on its first start ($status): $(cat "$scratch/window.out")"
[ -f "$window_home/.local/share/Lumora 1.3/lumora.ini" ] || fail "the window's first start copied no settings"

# The scratch root stands where /usr would: point the copied settings there.
sed "s|=/usr/share/|=$share/|" "$user_ini" >"$scratch/root.ini"
samples=("$share/Lumora 1.3/Measurements"/*.txt)
cli --ini "$scratch/root.ini" fit "${samples[@]}" >"$scratch/fit.out" 2>"$scratch/fit.err" \
  || fail "lumora-cli fit failed on the samples: $(cat "$scratch/fit.err")"
[ "$(grep -c ' fit:' "$scratch/fit.out")" -eq "${#samples[@]}" ] \
  || fail "not one results line a sample: $(cat "$scratch/fit.out")"
# The installed program computes what the build tree's does.
"$build/cli/lumora-cli" --ini "$scratch/root.ini" fit "${samples[@]}" >"$scratch/fit.build" 2>/dev/null
cmp -s "$scratch/fit.out" "$scratch/fit.build" || fail "the installed lumora-cli fits differently"

env -i PATH=/usr/bin:/bin HOME="$home" PYTHONPATH="$root/usr/lib/python3/dist-packages" \
  /usr/bin/python3 -c "import lumora, sys; sys.exit(0 if lumora.__file__.startswith('$root') else 1)" \
  || fail "the installed module does not import"

# The completion offers the commands and, from the installed settings, the
# elements.
completions="$(PATH="$root/usr/bin:/usr/bin:/bin" HOME="$home" XDG_DATA_DIRS="$share" bash -c '
  shopt -s extglob
  source "$1/bash-completion/completions/lumora-cli"
  complete_words() { COMP_WORDS=("$@"); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _lumora_cli; echo "${COMPREPLY[*]}"; }
  complete_words lumora-cli fi
  complete_words lumora-cli --element ""' _ "$share")"
[ "$completions" = $'fit\nArgon Neon Krypton Xenon' ] || fail "bash completion offers: $completions"

# ---- lintian: errors fail, warnings are shown -------------------------------
lintian --no-tag-display-limit "${lumora[0]}" "${python[0]}" >"$scratch/lintian.out" 2>&1 || true
grep '^W: ' "$scratch/lintian.out" || true
if grep -q '^E: ' "$scratch/lintian.out"; then
  cat "$scratch/lintian.out" >&2
  fail "lintian reports errors"
fi
echo "packages ok"
