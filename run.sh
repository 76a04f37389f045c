#!/usr/bin/env bash
# Sets up what is missing, builds, and starts zk File Export.
#   ./run.sh                 the window (or, without a display, a demonstration of zkexport)
#   ./run.sh ARGS...         zkexport ARGS... (the command-line converter)
set -euo pipefail
cd "$(dirname "$0")"

source tools/quietly.sh

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
