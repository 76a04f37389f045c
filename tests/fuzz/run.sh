#!/usr/bin/env bash
# Runs one fuzz target for a given time: tests/fuzz/run.sh TARGET SECONDS [libFuzzer options]
# TARGET is export, config or zkexport. Builds the fuzzers first (tests/fuzz/build.sh).
#
# The seed corpus tests/fuzz/corpus/TARGET is read but never written: new inputs go to
# build-fuzz/corpus/TARGET, crashes to build-fuzz/findings/TARGET/, and the log to
# build-fuzz/TARGET.log. To keep a crash as a regression case, copy it into the seed corpus
# once it is fixed; ./test.sh replays every seed.
set -euo pipefail
cd "$(dirname "$0")/../.."

if [ $# -lt 2 ] || [[ ! "$1" =~ ^(export|config|zkexport)$ ]] || [[ ! "$2" =~ ^[0-9]+$ ]]; then
  echo "usage: tests/fuzz/run.sh export|config|zkexport SECONDS [libFuzzer options]" >&2
  exit 2
fi
target=$1 seconds=$2
shift 2

tests/fuzz/build.sh
mkdir -p "build-fuzz/corpus/$target" "build-fuzz/findings/$target"
dict=()
[ -f "tests/fuzz/$target.dict" ] && dict=("-dict=tests/fuzz/$target.dict")

# Each input gets 10 s and 2 GiB at most: a slower or bigger one is reported as a finding.
status=0
"build-fuzz/bin/fuzz_$target" \
  -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=1024 \
  -print_final_stats=1 -artifact_prefix="build-fuzz/findings/$target/" "${dict[@]}" "$@" \
  "build-fuzz/corpus/$target" "tests/fuzz/corpus/$target" \
  >"build-fuzz/$target.log" 2>&1 || status=$?

# The last status line (executions, coverage, features, corpus) and the final statistics.
grep -E '^#[0-9]+' "build-fuzz/$target.log" | tail -n 1
grep -E '^stat::' "build-fuzz/$target.log" || true
if [ "$status" -ne 0 ]; then
  grep -E 'ERROR|property broken|Test unit written' "build-fuzz/$target.log" >&2 || true
  echo "tests/fuzz/run.sh: fuzz_$target found a problem; see build-fuzz/$target.log" >&2
fi
exit "$status"
