#!/usr/bin/env bash
# The Windows stage of ./test.sh: builds the Windows programs with mingw-w64 (in
# build-windows/), runs their tests under wine, compares what zkexport.exe writes with what the
# Linux build writes, byte for byte, and makes the zip and the installer for Windows users and
# checks them.
#   tools/windows-tests.sh LINUX_BUILD_DIR      (build/ in ./test.sh)
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/quietly.sh
linux=$(realpath "${1:?usage: tools/windows-tests.sh LINUX_BUILD_DIR}")

started=$SECONDS
tools/windows-deps.sh >/dev/null
quietly build-windows/configure.log cmake --preset windows
quietly build-windows/build.log cmake --build --preset windows -j"$(nproc)"

# One wine prefix for the tests (tools/wine-run.sh), made once, and one wine server with its
# background programs kept running while they run, started here with no pipe of ctest's open
# (a program that holds one would keep ctest waiting for its end), and stopped at the end
# however the stage ends.
export WINEPREFIX="${XDG_CACHE_HOME:-$HOME/.cache}/zkfileexport/windows/wine"
[ -f "$WINEPREFIX/system.reg" ] || quietly build-windows/wineboot.log tools/wine-run.sh wineboot -i
wineserver -p </dev/null >/dev/null 2>&1
trap 'wineserver -k 2>/dev/null || true' EXIT
tools/wine-run.sh wineboot </dev/null >/dev/null 2>&1
ctest --preset windows

# Linux and Windows write the same bytes: every format, periods, column sets and ranges
# (tools/compare_outputs.sh; a workbook's docProps/core.xml, the time it was written, is the one
# part left out). The runs work on drive C: of the prefix: on the drive that wine maps to /,
# wine prints a note of its own when the program asks for the volume's serial number.
work="$WINEPREFIX/drive_c/zk-compare"
rm -rf "$work"
cat > build-windows/zkexport-wine <<WRAP
#!/usr/bin/env bash
exec "$PWD/tools/wine-run.sh" "$PWD/build-windows/bin/zkexport.exe" "\$@"
WRAP
chmod +x build-windows/zkexport-wine
tools/compare_outputs.sh "$linux/bin/zkexport" build-windows/zkexport-wine "$linux/bin/zkgen" "$work" |
  tail -n 20
rm -rf "$work"

# The window, driven as a user would on a virtual display: its export equals zkexport.exe's
# and the Linux zkexport's; the screenshots of each step go to build-windows/window-shots/.
timeout -k 10 600 tests/gui/drive_windows_window.sh build-windows/bin/zkfileexport.exe \
  build-windows/bin/zkexport.exe "$linux/bin/zkexport" "$linux/bin/zkgen" build-windows/window-shots

# The zip and the installer: the programs (the window where the build has it), the README for
# Windows and the licence; then the installer installs and uninstalls in a wine prefix of its
# own, leaving nothing behind (tools/windows-installer-test.sh).
quietly build-windows/package.log cpack --config build-windows/CPackConfig.cmake -B build-windows
zip=$(ls build-windows/zkfileexport-*-windows-x64.zip)
expected=(zkexport.exe README.txt LICENSE.txt)
[ -f build-windows/bin/zkfileexport.exe ] && expected+=(zkfileexport.exe)
contents=$(unzip -Z1 "$zip")
for file in "${expected[@]}"; do
  grep -q "/$file\$" <<<"$contents" || { echo "windows-tests: $zip lacks $file" >&2; exit 1; }
done
quietly build-windows/installer.log cmake --build --preset windows --target zk_installer
tools/windows-installer-test.sh
echo "Windows stage: $((SECONDS - started)) s; the zip is $zip, the installer $(ls build-windows/zkfileexport-*-setup.exe)"
