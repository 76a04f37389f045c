#!/usr/bin/env bash
# Drives the real window on a virtual X display with keyboard and mouse events: loads a
# recording through the open dialog, picks "5 per sec" and types a heading, exports through the
# save dialog, and checks that the CSV is byte for byte the one zkexport writes for the same
# settings. With --screenshots DIR it also takes docs/loaded.png, docs/incompatible.png and
# docs/progress.png (the last from a recording of 20 million records).
#
# Usage: drive_window.sh ZKFILEEXPORT ZKEXPORT ZKGEN [--screenshots DIR]
# Exit status 77 (skipped) when Xvfb, xvfb-run or xdotool is missing.
set -euo pipefail

if [[ $# -lt 3 ]]; then
  echo "usage: $0 ZKFILEEXPORT ZKEXPORT ZKGEN [--screenshots DIR]" >&2
  exit 2
fi
for tool in Xvfb xvfb-run xdotool; do
  if ! command -v "$tool" >/dev/null; then
    echo "drive_window: $tool is not installed; skipped" >&2
    exit 77
  fi
done

# Start again inside a fresh virtual display of its own. -noreset: by default the display
# resets when its last client leaves, as when the first window closes, and a program that
# connects during the reset fails to start.
if [[ -z ${ZK_DRIVE_IN_XVFB:-} ]]; then
  ZK_DRIVE_IN_XVFB=1 exec xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp -noreset" "$0" "$@"
fi

window_program=$(realpath "$1")
zkexport=$(realpath "$2")
zkgen=$(realpath "$3")
shots=""
if [[ ${4:-} == --screenshots ]]; then
  shots=$(realpath "${5:?--screenshots needs a folder}")
  if ! command -v import >/dev/null; then
    echo "drive_window: screenshots need ImageMagick's import" >&2
    exit 2
  fi
fi

work=$(mktemp -d /tmp/zk-window.XXXXXX)
app_pid=""
busy_pid=""
cleanup() {
  local pid
  for pid in $app_pid $busy_pid; do
    if kill -0 "$pid" 2>/dev/null; then
      kill "$pid" 2>/dev/null || true
      wait "$pid" 2>/dev/null || true
    fi
  done
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "drive_window: $*" >&2
  exit 1
}

# A copy of the program in the scratch folder keeps its settings file there.
mkdir -p "$work/bin" "$work/recordings" "$work/csv"
cp "$window_program" "$work/bin/zkfileexport"
"$zkgen" --records 3000 --tag-every 200 -o "$work/recordings/run1.zkd" >/dev/null

export QT_QPA_PLATFORM=xcb
# The same look wherever the script runs.
export QT_STYLE_OVERRIDE=Fusion

# Waits up to 10 s for a visible window whose title is exactly $1 (other than $2) and prints
# its id.
wait_window() {
  local title=$1 except=${2:-} id
  for _ in $(seq 200); do
    for id in $(xdotool search --onlyvisible --name "^${title}\$" 2>/dev/null); do
      if [[ $id != "$except" ]]; then
        echo "$id"
        return 0
      fi
    done
    sleep 0.05
  done
  fail "no window \"$title\" came up"
}

# The ids of the visible windows, one a line.
visible_windows() {
  xdotool search --onlyvisible --name ".*" 2>/dev/null || true
}

# True once window $2 is gone, within $1 tenths of a second.
gone_within() {
  for _ in $(seq "$1"); do
    if ! visible_windows | grep -x "$2" >/dev/null; then
      return 0
    fi
    sleep 0.1
  done
  return 1
}

# Waits up to 10 s until window $1 is gone.
wait_gone() {
  gone_within 100 "$1" || fail "window $1 did not go away"
}

# Clicks at x, y of window $1 (pixels from its top left corner).
click_at() {
  xdotool mousemove --window "$1" "$2" "$3" click 1
}

# Types a path into file dialog $1 and presses Return until the dialog has gone (the first
# Return may only close the name completion list). On a busy machine the dialog can lose what
# was typed: it may take the folder part as the folder to show and clear the name box after
# more was typed. The name is then typed again.
choose_file() {
  local dialog=$1 path=$2
  for _ in 1 2 3; do
    xdotool windowfocus --sync "$dialog" 2>/dev/null || true
    xdotool key --window "$dialog" ctrl+a
    xdotool type --delay 2 "$path"
    for _ in 1 2; do
      xdotool key Return
      gone_within 25 "$dialog" && return 0
    done
  done
  fail "the file dialog did not take $path"
}

# The windows on the screen when the main window came up (the root among them).
screen_windows=""

# The visible windows besides the main one and the screen's (dialogs, menus, popups).
other_windows() {
  local id
  for id in $(visible_windows); do
    [[ $id == "$main" || " $screen_windows " == *" $id "* ]] || echo "$id"
  done
}

# Waits until no window but the main one and those of the screen has been up for 0.3 s,
# closing any other with Escape: a file dialog's completion list can come up late, as its
# folder is read, and would swallow the next click.
settle() {
  local quiet=0 others
  for _ in $(seq 100); do
    others=$(other_windows | tr '\n' ' ')
    if [[ -z $others ]]; then
      quiet=$((quiet + 1))
      ((quiet < 3)) || return 0
    else
      quiet=0
      xdotool key Escape
    fi
    sleep 0.1
  done
  # Not itself a failure: the CSV comparison shows whether a click was lost.
  echo "drive_window: windows $others stay up beside the main window" >&2
}

# The window's client area starts below the menu bar; controls are placed from there.
menu_height=0
control_at() {  # window, x, y in the client area
  click_at "$1" "$2" $(($3 + menu_height))
}

# What the window is started under (nothing, unless set).
launch=()

start_window() {
  "${launch[@]}" "$work/bin/zkfileexport" "$@" &
  app_pid=$!
  main=$(wait_window "zk File Export")
  screen_windows=$(visible_windows | grep -vx "$main" | tr '\n' ' ' || true)
  xdotool windowfocus --sync "$main"
  # The menu bar's height: the window's height less the client area (302) and status line.
  local height
  height=$(xdotool getwindowgeometry --shell "$main" | sed -n 's/^HEIGHT=//p')
  menu_height=$(((height - 302) / 2))
}

# File > Exit, by mouse and keyboard; the window saves its settings as it closes.
close_window() {
  for _ in 1 2 3; do
    click_at "$main" 20 $((menu_height / 2)) # File
    # Waits up to 3 s for the menu: the one window up beside the main window and the screen's.
    for _ in $(seq 30); do
      if [[ -n $(other_windows) ]]; then
        xdotool key Down Return # Exit
        wait_gone "$main"
        wait "$app_pid" || fail "the program ended with status $?"
        app_pid=""
        return 0
      fi
      sleep 0.1
    done
  done
  fail "the File menu did not open"
}

stop_window() {
  kill "$app_pid"
  wait "$app_pid" 2>/dev/null || true
  app_pid=""
}

# Screenshot of the whole screen, trimmed to the windows on it.
screen_shot() {
  import -window root png:- | convert - -trim +repage "$1"
}

# ---- The round trip: load, settings, export ----
start_window
control_at "$main" 76 68  # cmdLoad, "Load File"
dialog=$(wait_window "Choose source file")
choose_file "$dialog" "$work/recordings/run1.zkd"
settle
# Option2, "5 per sec"; a second click on a chosen option changes nothing, and makes the choice
# even if something the first click met swallowed it.
control_at "$main" 280 108
sleep 0.1
control_at "$main" 280 108
control_at "$main" 196 260 # txtHeading
xdotool type --delay 2 "Run 1"
if [[ -n $shots ]]; then
  sleep 0.3  # let the window repaint
  import -window "$main" "$shots/loaded.png"
fi
control_at "$main" 76 116  # cmdExport
dialog=$(wait_window "Save As")
choose_file "$dialog" "$work/csv/run1.csv"
for _ in $(seq 100); do
  [[ -f $work/csv/run1.csv ]] && break
  sleep 0.1
done
[[ -f $work/csv/run1.csv ]] || fail "the window wrote no CSV file"

"$zkexport" -q -p 10 --heading "Run 1" -o "$work/csv/zkexport.csv" "$work/recordings/run1.zkd"
if ! cmp "$work/csv/run1.csv" "$work/csv/zkexport.csv"; then
  for csv in run1.csv zkexport.csv; do
    echo "--- the first lines of $csv" >&2
    head -n 5 "$work/csv/$csv" >&2
  done
  fail "the window's CSV differs from zkexport's"
fi
close_window
grep -qF "\"$work/csv/\"" "$work/bin/zkFileExport.cfg" ||
  fail "the settings file does not remember the output folder"
echo "drive_window: the window's CSV is byte for byte zkexport's ($(wc -c <"$work/csv/run1.csv") bytes)"

# ---- A recording named as the program's argument, relative to the current folder, that
# fails validation: the message, then the window stays Idle ----
head -c 200 /dev/zero >"$work/recordings/old.zkd"
cd "$work/recordings"
start_window old.zkd
cd - >/dev/null
message=$(wait_window "Incompatible file format")
if [[ -n $shots ]]; then
  sleep 0.3
  screen_shot "$shots/incompatible.png"
fi
xdotool windowfocus --sync "$message"
xdotool key Return
wait_gone "$message"
# The settings file, written at the close, remembers the argument's folder as a full path.
close_window
grep -qF "\"$work/recordings/\"" "$work/bin/zkFileExport.cfg" ||
  fail "the argument's folder was not taken as the source folder"
echo "drive_window: a recording named as the argument was validated"

[[ -z $shots ]] && exit 0

# ---- Screenshot of the progress dialog, then Cancel ----
"$zkgen" --records 20000000 --profile sweep -o "$work/recordings/day.zkd" >/dev/null
# The export takes less time than the dialog waits before it shows: the window runs at a low
# priority on one core that a busy loop keeps busy, so that it is seen.
taskset -c 0 sh -c 'while :; do :; done' &
busy_pid=$!
launch=(taskset -c 0 nice -n 10)
start_window "$work/recordings/day.zkd"
# 50 rows a second and every column, so that the export runs longer.
control_at "$main" 280 76  # Option1
control_at "$main" 424 172 # chkBase
control_at "$main" 424 204 # chkRes
control_at "$main" 424 236 # chkTags
control_at "$main" 76 116  # cmdExport
dialog=$(wait_window "Save As")
choose_file "$dialog" "$work/csv/day.csv"
progress=$(wait_window "zk File Export" "$main")
sleep 0.3 # let it paint
screen_shot "$shots/progress.png"
xdotool key --window "$progress" Escape 2>/dev/null || true # Cancel
wait_gone "$progress"
if [[ -e $work/csv/day.csv ]]; then
  echo "drive_window: the export was done before Cancel reached it" >&2
fi
stop_window
echo "drive_window: screenshots in $shots"
