#!/usr/bin/env bash
# Runs a Windows program under wine, quietly and in the tests' own wine prefix, never in $HOME:
# the build's and the tests' emulator (cmake/mingw-w64-x86_64.cmake). The first call makes the
# prefix (about 20 s); tools/windows-tests.sh starts and stops the wine server around the tests.
export WINEPREFIX="${WINEPREFIX:-${XDG_CACHE_HOME:-$HOME/.cache}/zkfileexport/windows/wine}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml,winemenubuilder.exe=}"
export WINEARCH=win64
exec wine "$@"
