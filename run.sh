#!/usr/bin/env bash
# Sets up what is missing, builds, and starts zk File Export.
#   ./run.sh                 the window (or, without a display, a demonstration of zkexport)
#   ./run.sh ARGS...         zkexport ARGS... (the command-line converter)
set -euo pipefail
cd "$(dirname "$0")"

# Runs a build step with its output in a log, and shows the log's end only when it fails.
quietly() {
  local log=$1
  shift
  mkdir -p "$(dirname "$log")"
  if ! "$@" >"$log" 2>&1; then
    tail -n 80 "$log" >&2
    echo "run.sh: '$*' failed; the whole log is in $log" >&2
    return 1
  fi
}

tools/install-deps.sh --gui
quietly build/configure.log cmake --preset dev
quietly build/build.log cmake --build --preset dev -j"$(nproc)"

if [ $# -gt 0 ]; then
  exec build/bin/zkexport "$@"
fi
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  exec build/bin/zkfileexport
fi

echo "No display found: converting examples/sample.zkd with zkexport instead of opening the window."
out="$(mktemp -d)/sample.csv"
build/bin/zkexport -q -p 10 -c time,data,baseline,resistance,tags -o "$out" examples/sample.zkd
echo "Wrote $out ($(wc -l <"$out") lines). The first lines:"
head -n 8 "$out"
