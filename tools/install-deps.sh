#!/usr/bin/env bash
# Installs, with apt-get, whatever the build and the tests need and the machine lacks.
# Silent when everything is already there. Usage: tools/install-deps.sh [--gui] [--test]
set -euo pipefail

# What the default build (programs, tests and micro-benchmarks) needs.
packages=(cmake g++ make pkg-config libcli11-dev libgtest-dev libgmock-dev libbenchmark-dev)
for arg in "$@"; do
  case "$arg" in
    --gui) packages+=(qt6-base-dev libgl-dev) ;;
    --test) packages+=(xvfb xauth xdotool x11-utils dpkg-dev file desktop-file-utils) ;;
    *) echo "install-deps: unknown option $arg" >&2; exit 2 ;;
  esac
done

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}" >&2
sudo=""
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "install-deps: need root or sudo to install ${missing[*]}" >&2; exit 1; }
  sudo="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq >/dev/null
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
