#!/usr/bin/env bash
# Builds the Windows zip, build-windows/zkexport-VERSION-windows-x64.zip (zkexport.exe, its
# README and the licence), on a Debian or Ubuntu machine: installs the cross compiler if it is
# missing, builds the libraries for Windows once (tools/windows-deps.sh), cross-builds and packs.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/quietly.sh
tools/install-deps.sh --windows
tools/windows-deps.sh >/dev/null
quietly build-windows/configure.log cmake --preset windows
quietly build-windows/build.log cmake --build --preset windows -j"$(nproc)" --target zkexport
quietly build-windows/package.log cpack --config build-windows/CPackConfig.cmake -B build-windows
ls build-windows/zkexport-*-windows-x64.zip
