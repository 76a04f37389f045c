#!/usr/bin/env bash
# Builds, once, the libraries the Windows programs need and Debian has no mingw-w64 build of:
# libxlsxwriter (from Debian's own source package, built as Debian builds it, as a static
# library with its bundled minizip) and GoogleTest (from the googletest package's source).
# Everything goes under ${XDG_CACHE_HOME:-$HOME/.cache}/zkfileexport/windows; the source is
# fetched with a private apt configuration there, so /etc is never touched. Quiet and quick
# when the libraries are there already. Prints the prefix on standard output.
set -euo pipefail

xlsxwriter_version=1.1.4-2
cache="${XDG_CACHE_HOME:-$HOME/.cache}/zkfileexport/windows"
prefix="$cache/prefix"
stamp="$prefix/.built-2-$xlsxwriter_version-gtest-$(dpkg-query -W -f='${Version}' googletest 2>/dev/null || echo none)"
if [ -e "$stamp" ]; then
  echo "$prefix"
  exit 0
fi

triplet=x86_64-w64-mingw32
work="$cache/work"
rm -rf "$work" "$prefix"
mkdir -p "$work" "$prefix"
log="$work/build.log"
trap 'echo "windows-deps: failed; the log is $log" >&2' ERR

# Debian's source lines for the machine's own mirror, in an apt configuration of our own.
mirror=$(grep -hoE '^(URIs:[[:space:]]*|deb[[:space:]]+)https?://[^[:space:]]+/debian/?([[:space:]]|$)' \
           /etc/apt/sources.list /etc/apt/sources.list.d/*.sources /etc/apt/sources.list.d/*.list \
           2>/dev/null | grep -oE 'https?://[^[:space:]]+' | head -n1 || true)
mirror="${mirror:-http://deb.debian.org/debian}"
suite=$(. /etc/os-release && echo "${VERSION_CODENAME:-bookworm}")
apt="$cache/apt"
mkdir -p "$apt/lists/partial" "$apt/archives/partial" "$apt/parts"
echo "deb-src $mirror $suite main" > "$apt/sources.list"
cat > "$apt/apt.conf" <<CONF
Dir::Etc::sourcelist "$apt/sources.list";
Dir::Etc::sourceparts "$apt/parts";
Dir::State::lists "$apt/lists";
Dir::Cache "$apt";
APT::Sandbox::User "root";
CONF
export APT_CONFIG="$apt/apt.conf"
echo "Building libxlsxwriter and GoogleTest for Windows into $prefix (about two minutes)" >&2
apt-get update -qq >>"$log" 2>&1
(cd "$work" && apt-get source -qq "libxlsxwriter=$xlsxwriter_version" >>"$log" 2>&1)
src=$(find "$work" -maxdepth 1 -type d -name 'libxlsxwriter-*' | head -n1)
unset APT_CONFIG

toolchain="$(cd "$(dirname "$0")/.." && pwd)/cmake/mingw-w64-x86_64.cmake"
jobs=$(nproc)
# As debian/rules builds it (no dtoa, no OpenSSL: numbers are written with "%.16G", as in the
# Linux build), but static, with its bundled minizip, and with the messages it prints to the
# standard error stream routed to a function of the program's (see xlsx_export.cpp).
mkdir -p "$work/rlang"
cat > "$work/rlang/R.h" <<'H'
/* The messages libxlsxwriter would print go to the program, which says itself what failed. */
void zk_library_message(const char* format, ...);
#define REprintf zk_library_message
H
cmake -S "$src" -B "$work/xlsxwriter" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=OFF \
  -DUSE_SYSTEM_MINIZIP=OFF -DUSE_DTOA_LIBRARY=OFF -DUSE_OPENSSL_MD5=OFF -DUSE_NO_MD5=ON \
  -DCMAKE_C_FLAGS="-DUSE_R_LANG -I$work/rlang" -DZK_WINDOWS_DEPS="$prefix" >>"$log" 2>&1
cmake --build "$work/xlsxwriter" -j"$jobs" >>"$log" 2>&1
cmake --install "$work/xlsxwriter" >>"$log" 2>&1

cmake -S /usr/src/googletest -B "$work/gtest" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" -Dgtest_disable_pthreads=OFF \
  -DZK_WINDOWS_DEPS="$prefix" >>"$log" 2>&1
cmake --build "$work/gtest" -j"$jobs" >>"$log" 2>&1
cmake --install "$work/gtest" >>"$log" 2>&1

# The header-only libraries, with their CMake files, from the Linux packages.
mkdir -p "$prefix/include" "$prefix/share/cmake"
cp -r /usr/include/nlohmann /usr/include/CLI "$prefix/include/"
cp -r /usr/share/cmake/nlohmann_json /usr/share/cmake/CLI11 "$prefix/share/cmake/"

rm -rf "$work"
touch "$stamp"
echo "$prefix"
