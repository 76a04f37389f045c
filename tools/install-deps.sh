#!/usr/bin/env bash
# Installs, with apt-get, whatever the build and the tests need and the machine lacks; with
# --test also the cross compiler for Windows and wine, and the BIDS validator, with npm, into a
# cache folder:
# ${XDG_CACHE_HOME:-$HOME/.cache}/zkfileexport/npm (the tests look for it there).
# --windows: only what building the Windows zip and installer needs.
# Silent when everything is already there. Usage: tools/install-deps.sh [--gui] [--test] [--windows]
set -euo pipefail

# What the default build (programs, tests and micro-benchmarks) needs, the libraries of the
# output formats included: workbooks, BIDS (zlib or ISA-L, JSON).
packages=(cmake g++ make pkg-config clang-format libcli11-dev libgtest-dev libgmock-dev libbenchmark-dev
          libxlsxwriter-dev nlohmann-json3-dev zlib1g-dev)
# ISA-L compresses BIDS samples faster than zlib; Debian builds it for some architectures only,
# and the build falls back to zlib without it.
if dpkg-query -W -f='${Status}' libisal-dev 2>/dev/null | grep -q 'install ok installed' ||
   apt-cache show libisal-dev >/dev/null 2>&1; then
  packages+=(libisal-dev)
fi
# The cross compiler and what the Windows build and its installer need (tools/windows-package.sh).
windows=(g++-mingw-w64-x86-64-posix libz-mingw-w64-dev dpkg-dev libgtest-dev zip nsis)
validator=""
for arg in "$@"; do
  case "$arg" in
    --gui) packages+=(qt6-base-dev libgl-dev) ;;
    --windows) packages+=("${windows[@]}") ;;
    --test)
      # The readers that the format tests open our files with, and npm for the BIDS validator.
      packages+=(xvfb xauth xdotool x11-utils dpkg-dev file desktop-file-utils python3-mne
                 python3-openpyxl)
      # The Windows programs, cross-built and tested under wine (tools/windows-tests.sh).
      packages+=("${windows[@]}" wine wine64 unzip imagemagick)
      command -v npm >/dev/null || packages+=(npm)
      validator=bids-validator@1.15.0 ;;
    *) echo "install-deps: unknown option $arg" >&2; exit 2 ;;
  esac
done

# The BIDS validator, once the packages are there: only when this version is missing.
install_validator() {
  [ -n "$validator" ] || return 0
  local prefix="${XDG_CACHE_HOME:-$HOME/.cache}/zkfileexport/npm"
  local installed="$prefix/node_modules/bids-validator/package.json"
  if [ -x "$prefix/node_modules/.bin/bids-validator" ] &&
     grep -q "\"version\": \"${validator#*@}\"" "$installed" 2>/dev/null; then
    return 0
  fi
  echo "Installing $validator into $prefix" >&2
  mkdir -p "$prefix"
  npm install --prefix "$prefix" --no-audit --no-fund --loglevel=error "$validator" >/dev/null
}

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -eq 0 ]; then
  install_validator
  exit 0
fi

echo "Installing: ${missing[*]}" >&2
sudo=""
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "install-deps: need root or sudo to install ${missing[*]}" >&2; exit 1; }
  sudo="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq >/dev/null
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
install_validator
