#!/usr/bin/env bash
# Drives zkfileexport.exe, the Win32 window, under wine on a virtual X display of its own, as a
# user would: loads a recording through the open dialog, picks "5 per sec" and types a heading,
# exports through the save dialog and checks that the CSV is byte for byte what zkexport.exe and
# the Linux zkexport write for the same settings; opens the About window and the preview; starts
# a long workbook export and cancels it in the progress window, which must leave no file; and
# closes the window with File > Exit, which saves the settings beside the program. A screenshot
# of each step goes into SHOTS (never into the repository; docs/ holds the chosen ones).
# Usage: drive_windows_window.sh ZKFILEEXPORT_EXE ZKEXPORT_EXE ZKEXPORT ZKGEN SHOTS
# The tests' wine prefix (WINEPREFIX) must exist; exit status 77 (skipped) without Xvfb.
set -euo pipefail
[[ $# -eq 5 ]] || { echo "usage: $0 ZKFILEEXPORT_EXE ZKEXPORT_EXE ZKEXPORT ZKGEN SHOTS" >&2; exit 2; }
for tool in Xvfb xvfb-run xdotool import wine; do
  command -v "$tool" >/dev/null || { echo "drive_windows_window: no $tool; skipped" >&2; exit 77; }
done
# Again inside a fresh virtual display of its own (see drive_window.sh for -noreset).
if [[ -z ${ZK_DRIVE_IN_XVFB:-} ]]; then
  ZK_DRIVE_IN_XVFB=1 exec xvfb-run -a -s "-screen 0 1280x800x24 -nolisten tcp -noreset" "$0" "$@"
fi
here=$(cd "$(dirname "$0")/../.." && pwd)
export WINEPREFIX=${WINEPREFIX:?the tests\' wine prefix}
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe="
zkexport=$(realpath "$3") zkgen=$(realpath "$4")
shots=$(realpath -m "$5")
mkdir -p "$shots"

# The scratch folder on wine's drive C:, where the program finds it as C:\zk-window-N; the copy
# of the program there keeps its settings file beside it.
name=zk-window-$$
work="$WINEPREFIX/drive_c/$name" win="C:\\$name"
app_pid=""
trap '[[ -n $app_pid ]] && kill "$app_pid" 2>/dev/null; rm -rf "$work"' EXIT
trap 'exit 143' TERM; trap 'exit 130' INT
fail() { import -window root "$shots/failure.png" 2>/dev/null || true; echo "drive_windows_window: $*" >&2; exit 1; }
mkdir -p "$work/recordings" "$work/csv" && cp "$1" "$work/zkfileexport.exe" && cp "$2" "$work/zkexport.exe"
"$zkgen" --records 3000 --tag-every 200 -o "$work/recordings/run1.zkd" >/dev/null
# A million rows as a workbook take seconds: time to cancel.
"$zkgen" --records 1000000 -o "$work/recordings/long.zkd" >/dev/null

wait_window() {  # the id of a visible window titled exactly $1, within 60 s
  local id
  for _ in $(seq 600); do
    id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | grep -vx "${2:-none}" | head -n 1 || true)
    [[ -n $id ]] && echo "$id" && return 0 || sleep 0.1
  done
  fail "no window \"$1\" came up"
}
visible_windows() { xdotool search --onlyvisible --name ".*" 2>/dev/null || true; }
gone_within() {  # true once window $2 is gone, within $1 tenths of a second
  for _ in $(seq "$1"); do visible_windows | grep -qx "$2" && sleep 0.1 || return 0; done
  return 1
}
shot() { sleep 0.5; import -window root "$shots/$1.png"; }
# Types a Windows path into file dialog $1 and presses Return until the dialog has gone.
choose_file() {
  for _ in 1 2 3; do
    xdotool windowfocus --sync "$1" 2>/dev/null || true
    xdotool key ctrl+a type --delay 2 "$2"
    for _ in 1 2; do xdotool key Return; gone_within 30 "$1" && return 0; done
  done
  fail "the file dialog did not take $2"
}
# Clicks at x, y of the main window's client area (pixels at 96 dpi), below its menu bar.
control_at() {
  xdotool windowfocus --sync "$main" 2>/dev/null || true
  xdotool mousemove --window "$main" "$1" $(($2 + menu_height)) click 1
}
menu() {
  xdotool windowfocus --sync "$main" 2>/dev/null || true
  xdotool key "alt+$1" && sleep 0.5 && xdotool key "$2"
}
start_window() {
  (cd "$work" && exec wine "$win\\zkfileexport.exe") &
  app_pid=$!
  main=$(wait_window "zk File Export")
  # Without a window manager the X window is the menu bar, the client area (302 pixels high)
  # and the status line under it, as high as the menu bar.
  menu_height=$((($(xdotool getwindowgeometry --shell "$main" | sed -n 's/^HEIGHT=//p') - 302) / 2))
  sleep 1
}
close_window() {
  menu f x  # File > Exit
  gone_within 150 "$main" || fail "the window did not close"
  wait "$app_pid" || fail "the program ended with status $?"
  app_pid=""
}

# ---- The round trip: load, settings, export, the same bytes as both command lines ----
start_window
shot main-window
control_at 76 68  # cmdLoad, "Load File"
choose_file "$(wait_window "Choose source file")" "$win\\recordings\\run1.zkd"
sleep 0.5
control_at 304 108 && sleep 0.2 && control_at 304 108  # Option2, "5 per sec"
control_at 196 260 && xdotool type --delay 5 "Run 1"  # txtHeading
shot loaded
# The preview of the loaded recording (the window offers it while a recording is loaded).
menu v p
preview=$(wait_window "Recording Preview.*")
shot preview
xdotool windowfocus --sync "$preview" 2>/dev/null || true
xdotool key Escape
gone_within 50 "$preview" || fail "the preview did not close"
control_at 76 116  # cmdExport
choose_file "$(wait_window "Save As")" "$win\\csv\\run1.csv"
for _ in $(seq 100); do [[ -f $work/csv/run1.csv ]] && break || sleep 0.1; done
(cd "$work" && wine "$win\\zkexport.exe" -q -p 10 --heading "Run 1" -o "$win\\csv\\exe.csv" \
  "$win\\recordings\\run1.zkd")
"$zkexport" -q -p 10 --heading "Run 1" -o "$work/csv/linux.csv" "$work/recordings/run1.zkd"
cmp "$work/csv/run1.csv" "$work/csv/exe.csv" || fail "the window's CSV differs from zkexport.exe's"
cmp "$work/csv/run1.csv" "$work/csv/linux.csv" || fail "the window's CSV differs from zkexport's"
shot exported
echo "drive_windows_window: the window's CSV is byte for byte zkexport.exe's and zkexport's"

# ---- The About window ----
menu h a
about=$(wait_window "About zk File Converter")
shot about
xdotool key --window "$about" Return
gone_within 50 "$about" || fail "the About window did not close"

# ---- A cancelled export leaves no file ----
control_at 76 68  # cmdLoad, "Load File" again after the export
choose_file "$(wait_window "Choose source file")" "$win\\recordings\\long.zkd"
sleep 0.5
control_at 304 76 && sleep 0.2 && control_at 304 76  # Option1, "50 per sec": a million rows
before=$(ls -A "$work/csv")
control_at 76 116  # cmdExport; the second file type is the workbook
save=$(wait_window "Save As")
xdotool windowfocus --sync "$save" 2>/dev/null || true
xdotool key ctrl+a type --delay 2 "$win\\csv\\long"
xdotool key Tab Down Return
progress=$(wait_window "zk File Export" "$main")
shot progress
xdotool key --window "$progress" Return  # Cancel, its one button
gone_within 150 "$progress" || fail "the progress window did not close"
sleep 1
[[ $(ls -A "$work/csv") == "$before" ]] || fail "a cancelled export left $(ls -A "$work/csv")"
echo "drive_windows_window: a cancelled export left no file"

close_window
grep -qF "$win\\csv\\" "$work/zkFileExport.cfg" || fail "the output folder is not remembered"
echo "drive_windows_window: File > Exit saved the settings beside the program"
