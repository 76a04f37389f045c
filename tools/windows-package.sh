#!/usr/bin/env bash
# Builds what Windows users download, on a Debian or Ubuntu machine, into build-windows/:
#   zkfileexport-VERSION-windows-x64.zip        the programs, their README and the licence
#   zkfileexport-VERSION-windows-x64-setup.exe  the installer of the same (made with NSIS)
# Installs the cross compiler and NSIS if they are missing, builds the libraries for Windows once
# (tools/windows-deps.sh), cross-builds the programs and packs them.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/quietly.sh
tools/install-deps.sh --windows
tools/windows-deps.sh >/dev/null
quietly build-windows/configure.log cmake --preset windows
# The installer's target builds the programs it holds first.
quietly build-windows/installer.log cmake --build --preset windows -j"$(nproc)" --target zk_installer
quietly build-windows/package.log cpack --config build-windows/CPackConfig.cmake -B build-windows
ls build-windows/zkfileexport-*-windows-x64.zip build-windows/zkfileexport-*-windows-x64-setup.exe
