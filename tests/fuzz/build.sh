#!/usr/bin/env bash
# Builds the libFuzzer programs (fuzz_export, fuzz_config, fuzz_zkexport) into build-fuzz/bin
# with clang, the fuzzer's coverage instrumentation and the address and undefined sanitizers.
# Build output is printed only when the build fails.
set -euo pipefail
cd "$(dirname "$0")/../.."

log=build-fuzz/build.log
mkdir -p build-fuzz
if ! { cmake --preset fuzz && cmake --build --preset fuzz -j2; } >"$log" 2>&1; then
  tail -n 60 "$log" >&2
  echo "tests/fuzz/build.sh: the build failed; the whole log is in $log" >&2
  exit 1
fi
