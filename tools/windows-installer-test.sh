#!/usr/bin/env bash
# Installs and uninstalls the Windows installer silently in a fresh wine prefix, and checks that
# it installs what it should and that its uninstaller leaves nothing of it behind. It lists the
# files under drive C: and the registry (the prefix's .reg files, written when the wine server
# ends) before, after the installation and after the uninstallation, and compares the lists.
#   tools/windows-installer-test.sh [SETUP.EXE]  (default: build-windows/zkfileexport-*-setup.exe)
# Takes about 20 s (wine makes the prefix in half of them); every step has a time limit, and the
# prefix and its wine server go at the end however the check ends.
set -euo pipefail
cd "$(dirname "$0")/.."
setup=$(realpath "${1:-$(ls build-windows/zkfileexport-*-windows-x64-setup.exe)}")
version=$(basename "$setup" | sed -E 's/^zkfileexport-(.*)-windows-x64-setup\.exe$/\1/')
# The installer has the window when the build had it (the configured script says so).
window=0
grep -qx '!define WITH_WINDOW 1' build-windows/packaging/windows/installer.nsi 2>/dev/null && window=1

tmp=$(mktemp -d "${TMPDIR:-/tmp}/zk-installer-test.XXXXXX")
export WINEPREFIX="$tmp/wine"
cleanup() {
  timeout 30 wineserver -k >/dev/null 2>&1 || true
  rm -rf "$tmp"
}
trap cleanup EXIT
fail() {
  echo "windows-installer-test: $*" >&2
  exit 1
}

# run SECONDS COMMAND...: runs a Windows command under wine, then waits for the wine server to
# end (the uninstaller goes on in a copy of itself after the first process ends), which writes
# the registry to the .reg files.
run() {
  local limit=$1
  shift
  timeout "$limit" tools/wine-run.sh "$@" 2>>"$tmp/wine.log" ||
    fail "'$*' failed or took over $limit s; $(tail -n 5 "$tmp/wine.log")"
  timeout 60 wineserver -w || fail "the wine server did not end within 60 s after '$*'"
}

# snapshot NAME: the folders and files under drive C: ("d" or "f", the path) and the registry,
# one line per key ("HKLM\key") and per value ("HKLM\key: "name"=value"), sorted.
snapshot() {
  (cd "$WINEPREFIX/drive_c" && find . -mindepth 1 -printf '%y %P\n') | LC_ALL=C sort >"$tmp/$1.files"
  for hive in HKLM:system HKCU:user HKU_DEFAULT:userdef; do
    awk -v hive="${hive%%:*}" '
      /^\[/ { key = $0; sub(/\] [0-9]+$/, "", key); key = substr(key, 2); gsub(/\\\\/, "\\", key)
              # The file holds a key with subkeys only through them: list every key of the path.
              n = split(key, part, "\\"); path = hive
              for (i = 1; i <= n; i++) { path = path "\\" part[i]; print path }
              next }
      /^(#|;;|WINE REGISTRY|$)/ { next }
      { line = $0
        while (line ~ /\\$/ && (getline more) > 0) { sub(/\\$/, "", line); sub(/^ +/, "", more); line = line more }
        print hive "\\" key ": " line }' "$WINEPREFIX/${hive#*:}.reg"
  done | LC_ALL=C sort -u >"$tmp/$1.reg"
}

# What wine itself changes when it starts, which the comparison leaves out (each line matched
# from its start): the display adapters' and monitors' device classes, written anew at each
# start, and the network cards' key.
noise='(HKLM\\System\\CurrentControlSet\\Control\\Class\\\{4D36E96[8E]-E325-11CE-BFC1-08002BE10318\}'
noise+='|HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\NetworkCards)(\\|:|$)'

# changes BEFORE AFTER: the lines added (+) and removed (-) from one snapshot to the next, of
# both lists, without wine's own.
changes() {
  for list in files reg; do
    LC_ALL=C comm -13 "$tmp/$1.$list" "$tmp/$2.$list" | sed 's/^/+ /'
    LC_ALL=C comm -23 "$tmp/$1.$list" "$tmp/$2.$list" | sed 's/^/- /'
  done | grep -Ev -- "^[+-] $noise" || true
}

started=$SECONDS
run 120 wineboot -i
snapshot before

run 120 "$setup" /S
snapshot installed
dir='Program Files/zk File Export'
menu='ProgramData/Microsoft/Windows/Start Menu/Programs/zk File Export'
expected=("f $dir/zkexport.exe" "f $dir/README.txt" "f $dir/LICENSE.txt" "f $dir/uninstall.exe"
          "f $menu/Uninstall zk File Export.lnk")
uninstall='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\zkFileExport: '
winDir='C:\\Program Files\\zk File Export'
expected+=("${uninstall}\"DisplayName\"=\"zk File Export\""
           "${uninstall}\"DisplayVersion\"=\"$version\""
           "${uninstall}\"Publisher\"=\"zk File Export contributors\""
           "${uninstall}\"UninstallString\"=\"\\\"$winDir\\\\uninstall.exe\\\"\""
           "${uninstall}\"QuietUninstallString\"=\"\\\"$winDir\\\\uninstall.exe\\\" /S\""
           "${uninstall}\"NoModify\"=dword:00000001" "${uninstall}\"NoRepair\"=dword:00000001")
if [ "$window" = 1 ]; then
  expected+=("f $dir/zkfileexport.exe" "f $menu/zk File Export.lnk"
             'HKLM\Software\Classes\.zkd: @="zkFileExport.Recording"'
             "HKLM\\Software\\Classes\\zkFileExport.Recording\\DefaultIcon: @=\"$winDir\\\\zkfileexport.exe,0\""
             "HKLM\\Software\\Classes\\zkFileExport.Recording\\shell\\open\\command: @=\"\\\"$winDir\\\\zkfileexport.exe\\\" \\\"%1\\\"\"")
fi
cat "$tmp/installed.files" "$tmp/installed.reg" >"$tmp/installed.all"
for line in "${expected[@]}"; do
  grep -qFx -- "$line" "$tmp/installed.all" || fail "after the installation, no: $line"
done
grep -qF "${uninstall}\"EstimatedSize\"=dword:" "$tmp/installed.reg" || fail "no EstimatedSize"
run 60 "C:\\Program Files\\zk File Export\\zkexport.exe" --version >"$tmp/version.txt"
grep -q "$version" "$tmp/version.txt" || fail "the installed zkexport.exe --version said: $(cat "$tmp/version.txt")"

# The window keeps its settings beside it when it may write there (as under wine, where the
# programs may write anywhere); the uninstaller removes them with it.
printf '"C:\\data\\"\r\n' >"$WINEPREFIX/drive_c/$dir/zkFileExport.cfg"
run 120 "C:\\Program Files\\zk File Export\\uninstall.exe" /S
# The uninstaller runs from a copy of itself in %TEMP%, which Windows deletes at the next start
# (PendingFileRenameOperations): restart the prefix as Windows would start again.
run 120 wineboot -r
snapshot uninstalled

# What the installer wrote, short: the files by folder, the registry's values by key.
echo "What the installer wrote (wine's own changes left out):"
changes before installed | sed -n 's/^+ //p' | awk '
  /^f / { path = substr($0, 3); dir = path; sub(/\/[^\/]*$/, "", dir)
          files[dir] = files[dir] " " substr(path, length(dir) + 2); next }
  /: / { key = $0; sub(/: .*/, "", key); value = substr($0, length(key) + 3)
         if (key ~ /Uninstall\\/) sub(/=.*/, "", value)
         values[key] = values[key] (values[key] == "" ? "" : ", ") value }
  END { for (d in files) print "  C:/" d ":" files[d]
        for (k in values) print "  " k ": " values[k] }' | LC_ALL=C sort
left=$(changes before uninstalled)
if [ -n "$left" ]; then
  sed 's/^/  /' <<<"$left"
  fail "the uninstaller left the above behind (+) or removed what was there before (-)"
fi
echo "What remained after the uninstaller: nothing; what wine itself changed meanwhile:"
for list in files reg; do
  LC_ALL=C comm -3 "$tmp/before.$list" "$tmp/uninstalled.$list"
done | sed -E 's/^\t/+ /; /^[^+]/s/^/- /; s/^/  /' | cut -c1-160
echo "windows-installer-test: passed in $((SECONDS - started)) s"
