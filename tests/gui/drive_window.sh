#!/usr/bin/env bash
# Drives the real window on a virtual X display with keyboard and mouse events: loads a
# recording through the open dialog, picks "5 per sec" and types a heading, exports through the
# save dialog, and checks that the CSV is byte for byte the one zkexport writes for the same
# settings; then starts the window with a recording that fails validation as its argument.
# Usage: drive_window.sh ZKFILEEXPORT ZKEXPORT ZKGEN; exit status 77 (skipped) without Xvfb,
# xvfb-run or xdotool.
set -euo pipefail
[[ $# -eq 3 ]] || { echo "usage: $0 ZKFILEEXPORT ZKEXPORT ZKGEN" >&2; exit 2; }
for tool in Xvfb xvfb-run xdotool; do command -v "$tool" >/dev/null || { echo "drive_window: no $tool; skipped" >&2; exit 77; }; done
# Start again inside a fresh virtual display of its own. -noreset: by default the display
# resets when its last client leaves, as when the first window closes, and a program that
# connects during the reset fails to start.
if [[ -z ${ZK_DRIVE_IN_XVFB:-} ]]; then
  ZK_DRIVE_IN_XVFB=1 exec xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp -noreset" "$0" "$@"
fi

work=$(mktemp -d /tmp/zk-window.XXXXXX)
app_pid=""
trap '[[ -n $app_pid ]] && kill "$app_pid" 2>/dev/null; rm -rf "$work"' EXIT
# Stopped from outside (ctest's timeout, Ctrl-C): the EXIT trap above still closes the window.
trap 'exit 143' TERM; trap 'exit 130' INT
fail() { echo "drive_window: $*" >&2; exit 1; }
# A copy of the program in the scratch folder keeps its settings file there.
mkdir -p "$work/bin" "$work/recordings" "$work/csv" && cp "$1" "$work/bin/zkfileexport"
zkexport=$(realpath "$2")
"$3" --records 3000 --tag-every 200 -o "$work/recordings/run1.zkd" >/dev/null
export QT_QPA_PLATFORM=xcb QT_STYLE_OVERRIDE=Fusion # the same look wherever the script runs

# Waits up to 30 s (a busy machine can take that long to start a program) for a visible window
# whose title is exactly $1 and prints its id.
wait_window() {
  local id
  for _ in $(seq 600); do
    id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1 || true)
    [[ -n $id ]] && echo "$id" && return 0 || sleep 0.05
  done
  fail "no window \"$1\" came up"
}
visible_windows() { xdotool search --onlyvisible --name ".*" 2>/dev/null || true; }
# True once window $2 is gone, within $1 tenths of a second.
gone_within() {
  for _ in $(seq "$1"); do visible_windows | grep -qx "$2" && sleep 0.1 || return 0; done
  return 1
}
# Types a path into file dialog $1 and presses Return until the dialog has gone (the first
# Return may only close the name completion list). On a busy machine the dialog can lose what
# was typed: it may take the folder part as the folder to show and clear the name box after
# more was typed. The name is then typed again.
choose_file() {
  for _ in 1 2 3; do
    xdotool windowfocus --sync "$1" 2>/dev/null || true
    xdotool key --window "$1" ctrl+a type --delay 2 "$2"
    for _ in 1 2; do xdotool key Return; gone_within 25 "$1" && return 0; done
  done
  fail "the file dialog did not take $2"
}
# The visible windows besides the main one and the screen's (dialogs, menus, popups).
other_windows() {
  for id in $(visible_windows); do [[ $id == "$main" || " $screen_windows " == *" $id "* ]] || echo "$id"; done
}
# Waits until no other window has been up for 0.3 s, closing any with Escape: a file dialog's
# completion list can come up late, as its folder is read, and would swallow the next click.
settle() {
  local quiet=0
  for _ in $(seq 100); do
    [[ -z $(other_windows) ]] && { ((++quiet < 3)) || return 0; } || { quiet=0; xdotool key Escape; }
    sleep 0.1
  done
}
# Clicks at x, y of the window's client area, which starts below the menu bar.
control_at() { xdotool mousemove --window "$main" "$1" $(($2 + menu_height)) click 1; }
start_window() {
  "$work/bin/zkfileexport" "$@" &
  app_pid=$!
  main=$(wait_window "zk File Export")
  screen_windows=$(visible_windows | grep -vx "$main" | tr '\n' ' ' || true)
  xdotool windowfocus --sync "$main"
  # The menu bar's height: the window's height less the client area (302) and status line.
  menu_height=$((($(xdotool getwindowgeometry --shell "$main" | sed -n 's/^HEIGHT=//p') - 302) / 2))
}
# File > Exit, by mouse and keyboard; the window saves its settings as it closes.
close_window() {
  for _ in 1 2 3; do
    xdotool mousemove --window "$main" 20 $((menu_height / 2)) click 1 # File
    for _ in $(seq 30); do
      [[ -z $(other_windows) ]] && { sleep 0.1; continue; }
      xdotool key Down Return # Exit
      gone_within 100 "$main" || fail "the window did not close"
      wait "$app_pid" || fail "the program ended with status $?"
      app_pid=""
      return 0
    done
  done
  fail "the File menu did not open"
}

# ---- The round trip: load, settings, export ----
start_window
control_at 76 68 # cmdLoad, "Load File"
choose_file "$(wait_window "Choose source file")" "$work/recordings/run1.zkd"
settle
# Option2, "5 per sec"; a second click on a chosen option changes nothing, and makes the choice
# even if something the first click met swallowed it.
control_at 280 108 && sleep 0.1 && control_at 280 108
control_at 196 260 # txtHeading
xdotool type --delay 2 "Run 1"
control_at 76 116 # cmdExport
choose_file "$(wait_window "Save As")" "$work/csv/run1.csv"
for _ in $(seq 100); do [[ -f $work/csv/run1.csv ]] && break || sleep 0.1; done
"$zkexport" -q -p 10 --heading "Run 1" -o "$work/csv/zkexport.csv" "$work/recordings/run1.zkd"
cmp "$work/csv/run1.csv" "$work/csv/zkexport.csv" || fail "the window's CSV differs from zkexport's"
close_window
grep -qF "\"$work/csv/\"" "$work/bin/zkFileExport.cfg" || fail "the output folder is not remembered"
echo "drive_window: the window's CSV is byte for byte zkexport's"

# ---- A recording named as the program's argument, relative to the current folder, that
# fails validation: the message, then the window stays Idle ----
head -c 200 /dev/zero >"$work/recordings/old.zkd"
cd "$work/recordings" && start_window old.zkd && cd - >/dev/null
message=$(wait_window "Incompatible file format")
xdotool windowfocus --sync "$message" key Return
gone_within 100 "$message" || fail "the message did not go away"
# The settings file, written at the close, remembers the argument's folder as a full path.
close_window
grep -qF "\"$work/recordings/\"" "$work/bin/zkFileExport.cfg" ||
  fail "the argument's folder was not taken as the source folder"
echo "drive_window: a recording named as the argument was validated"
