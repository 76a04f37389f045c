#!/usr/bin/env bash
# Checks the install tree and the Debian package of a build folder:
#   install_test.sh BUILD_DIR
# 1. `cmake --install` into a temporary prefix puts every expected file in place, the icons at
#    their sizes, a desktop entry that opens the .zkd type, and manual pages that render;
# 2. the desktop entry passes desktop-file-validate (when installed);
# 3. `cpack -G DEB` builds the package, which holds the same files and depends on the
#    libraries' packages, and lintian (when installed) reports no error (E:) on it.
# Exits 77 (skipped) only when the programs have not been built.
set -euo pipefail

build=$(cd "$1" && pwd)
for program in zkfileexport zkexport; do
  if [ ! -x "$build/bin/$program" ]; then
    echo "install_test: $build/bin/$program is not built" >&2
    exit 77
  fi
done

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

cmake --build "$build" --target zk_packaging_files >/dev/null
cmake --install "$build" --prefix "$tmp/usr" >"$tmp/install.log"

expected=(
  bin/zkfileexport
  bin/zkexport
  share/applications/zkfileexport.desktop
  share/mime/packages/zkfileexport.xml
  share/icons/hicolor/scalable/apps/zkfileexport.svg
  share/icons/hicolor/32x32/apps/zkfileexport.png
  share/icons/hicolor/48x48/apps/zkfileexport.png
  share/icons/hicolor/128x128/apps/zkfileexport.png
  share/icons/hicolor/256x256/apps/zkfileexport.png
  share/man/man1/zkexport.1.gz
  share/man/man1/zkfileexport.1.gz
  share/doc/zkfileexport/copyright
  share/doc/zkfileexport/changelog.gz
)
for f in "${expected[@]}"; do
  [ -f "$tmp/usr/$f" ] || fail "not installed: $f"
done
for program in zkfileexport zkexport; do
  [ -x "$tmp/usr/bin/$program" ] || fail "bin/$program is not executable"
done
# Nothing else: no libraries, headers or test programs in the tree.
unexpected=$(cd "$tmp/usr" && find . -type f | sed 's|^\./||' | sort |
  comm -23 - <(printf '%s\n' "${expected[@]}" | sort))
[ -z "$unexpected" ] || fail "installed but not expected: $unexpected"

# The installed zkexport runs on its own.
"$tmp/usr/bin/zkexport" --help >/dev/null || fail "the installed zkexport --help failed"

# Each PNG has the size of its folder (width and height are bytes 16..23 of the file).
for size in 32 48 128 256; do
  png="$tmp/usr/share/icons/hicolor/${size}x${size}/apps/zkfileexport.png"
  [ -f "$png" ] || continue
  read -r w h < <(od -An -tu1 -j16 -N8 "$png" |
    awk '{ print $1*16777216 + $2*65536 + $3*256 + $4, $5*16777216 + $6*65536 + $7*256 + $8 }')
  [ "$w $h" = "$size $size" ] || fail "${size}x${size} icon is ${w}x${h}"
done

# The desktop entry opens recordings, and the MIME type it names is the one installed.
desktop="$tmp/usr/share/applications/zkfileexport.desktop"
mime="$tmp/usr/share/mime/packages/zkfileexport.xml"
grep -qx 'Exec=zkfileexport %f' "$desktop" || fail "desktop entry: Exec is not 'zkfileexport %f'"
grep -qx 'Icon=zkfileexport' "$desktop" || fail "desktop entry: Icon is not zkfileexport"
grep -Eq '^Categories=(.*;)?Office;' "$desktop" || fail "desktop entry: not in Office"
grep -Eq '^Categories=(.*;)?Science;' "$desktop" || fail "desktop entry: not in Science"
type=$(sed -n 's/^MimeType=\([^;]*\);.*/\1/p' "$desktop")
[ -n "$type" ] || fail "desktop entry: no MimeType"
grep -q "<mime-type type=\"$type\">" "$mime" || fail "MIME type $type is not in $mime"
grep -q '<glob pattern="\*.zkd"/>' "$mime" || fail "MIME type: no *.zkd pattern"
grep -q '<glob pattern="\*.ZKD"/>' "$mime" || fail "MIME type: no *.ZKD pattern"
if command -v xmllint >/dev/null; then
  xmllint --noout "$mime" "$tmp/usr/share/icons/hicolor/scalable/apps/zkfileexport.svg" ||
    fail "the MIME file or the SVG icon is not well-formed XML"
fi
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$desktop" || fail "desktop-file-validate"
else
  echo "desktop-file-validate is not installed (desktop-file-utils): not validated"
fi

# The manual pages render without warnings and carry their sections.
if command -v man >/dev/null; then
  for page in zkexport zkfileexport; do
    file="$tmp/usr/share/man/man1/$page.1.gz"
    warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$file" 2>&1 >/dev/null || true)
    [ -z "$warnings" ] || fail "man $page: $warnings"
  done
  text=$(LC_ALL=C.UTF-8 MANWIDTH=80 man -l "$tmp/usr/share/man/man1/zkexport.1.gz" 2>/dev/null)
  for section in NAME SYNOPSIS OPTIONS "EXIT STATUS"; do
    grep -q "^$section" <<<"$text" || fail "man zkexport: no $section section"
  done
fi

# The Debian package.
(cd "$tmp" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$tmp/pkg" >"$tmp/cpack.log" 2>&1) ||
  { cat "$tmp/cpack.log" >&2; fail "cpack -G DEB"; }
deb=$(find "$tmp/pkg" -maxdepth 1 -name 'zkfileexport_*.deb' | head -n 1)
if [ -z "$deb" ]; then
  fail "no zkfileexport_*.deb made"
else
  contents=$(dpkg-deb -c "$deb" | awk '{ print $6 }')
  for f in "${expected[@]}"; do
    grep -qx "./usr/$f" <<<"$contents" || fail "not in the package: /usr/$f"
  done
  depends=$(dpkg-deb -f "$deb" Depends)
  grep -q 'libc6' <<<"$depends" || fail "package Depends lacks libc6: '$depends'"
  grep -q 'libqt6widgets6' <<<"$depends" || fail "package Depends lacks libqt6widgets6: '$depends'"
  if command -v lintian >/dev/null; then
    lintian --no-tag-display-limit "$deb" >"$tmp/lintian.log" 2>&1 || true
    if grep -q '^E:' "$tmp/lintian.log"; then
      grep '^E:' "$tmp/lintian.log" >&2
      fail "lintian reports errors"
    else
      echo "lintian: no errors, $(grep -c '^W:' "$tmp/lintian.log" || true) warnings"
      grep '^W:' "$tmp/lintian.log" || true
    fi
  else
    echo "lintian is not installed: package not checked"
  fi
fi

[ "$failures" -eq 0 ] || { echo "$failures check(s) failed" >&2; exit 1; }
echo "install tree and package: all checks passed"
