#!/usr/bin/env bash
# Times zkexport against what this machine's disk and memory allow, and prints a Markdown table.
#
#   bench/run.sh              build-release/ (made with `cmake --preset release` if missing),
#                             recordings in bench/data/, CSV files in bench/out/
#   RUNS=9 bench/run.sh       more runs per figure (default 5; medians are printed)
#
# The recordings (1 and 10 million records of the sweep profile, whose samples cover the whole
# raw range 0..65535, a tag about every 500 records; and 24 hours of the skin profile) are made
# afresh with zkgen on every run. Every timed export writes a new file: the output is removed
# before each run. The floors are measured in the same run, on the same disk:
#   write floor  dd from /dev/zero into a file of the CSV's size, flushed to the disk
#                (conv=fsync), as the export flushes its file before it takes its name
#   cp           a copy of the CSV (reads from the page cache, writes a new file)
#   read floor   cat of the recording to /dev/null
# A second table times the other formats (--format xlsx, edf, bdf, bids) with all seven columns
# against the CSV of the same columns, run for run in turn; the workbook, which takes tens of
# seconds, once. A third times the recording report (--info) of the day against cat of it.
set -euo pipefail
cd "$(dirname "$0")/.."

RUNS=${RUNS:-5}
BUILD=build-release
DATA=bench/data
OUT=bench/out
ALL=time,data,baseline,resistance,tags
SEVEN=time,seconds,data,baseline,resistance,conductance,tags

if [ ! -f "$BUILD/CMakeCache.txt" ]; then
  # The programs need neither the window nor the test suite; Google Benchmark comes with --test.
  tools/install-deps.sh --test
  cmake --preset release -DZK_WITH_GUI=OFF -DZK_BUILD_TESTS=OFF >/dev/null
fi
cmake --build "$BUILD" -j"$(nproc)" --target zkexport zkgen >/dev/null
ZKEXPORT=$BUILD/bin/zkexport
ZKGEN=$BUILD/bin/zkgen
mkdir -p "$DATA" "$OUT"
[ -x /usr/bin/time ] || { echo "bench/run.sh: needs /usr/bin/time (apt-get install time)" >&2; exit 1; }

echo "Generating recordings in $DATA/ ..." >&2
"$ZKGEN" --records 1000000 --profile sweep --tag-every 500 --seed 1 -o "$DATA/sweep-1M.zkd"
"$ZKGEN" --records 10000000 --profile sweep --tag-every 500 --seed 1 -o "$DATA/sweep-10M.zkd"
"$ZKGEN" --hours 24 --seed 1 -o "$DATA/skin-24h.zkd"

# Microseconds since the epoch, without starting a process.
now_us() { local t=$EPOCHREALTIME; echo "${t/./}"; }

median() { printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# time_once OUTPUT CMD...: removes OUTPUT (unless empty), runs CMD and prints its wall time in
# microseconds.
time_once() {
  local out=$1 t0 t1
  shift
  [ -n "$out" ] && rm -f "$out"
  t0=$(now_us)
  "$@" >/dev/null
  t1=$(now_us)
  echo $((t1 - t0))
}

# peak_kb OUTPUT CMD...: the peak resident set size of one run, in kB.
peak_kb() {
  local out=$1
  shift
  [ -n "$out" ] && rm -f "$out"
  /usr/bin/time -v "$@" 2>&1 >/dev/null | awk -F': ' '/Maximum resident set size/ { print $2 }'
}

size_of() { stat -c %s "$1"; }
records_of() { echo $(($(size_of "$1") / 20)); }
thousands() { echo "$1" | sed ':a; s/\B[0-9]\{3\}\>/,&/; ta'; }
seconds() { awk -v us="$1" 'BEGIN { printf "%.3f", us / 1e6 }'; }
millions_per_second() { awk -v n="$1" -v us="$2" 'BEGIN { printf "%.1f", n / (us / 1e6) / 1e6 }'; }
mb() { awk -v b="$1" 'BEGIN { printf "%.1f", b / 1e6 }'; }
mb_per_second() { awk -v b="$1" -v us="$2" 'BEGIN { printf "%.0f", b / us }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

rows=()

# bench_export LABEL RECORDING PERIOD COLUMNS
# The export and its floors take turns, run by run, so that a change in the machine's load
# between them shows in all of them alike; each gets one warm-up run first.
bench_export() {
  local label=$1 zkd=$2 period=$3 columns=$4
  local csv=$OUT/export.csv floor=$OUT/floor.bin copy=$OUT/copy.csv
  local cmd=("$ZKEXPORT" -q -p "$period" -c "$columns" -o "$csv" "$zkd")
  echo "Timing $label, $columns, period $period ..." >&2
  time_once "$csv" "${cmd[@]}" >/dev/null
  local csv_bytes
  csv_bytes=$(size_of "$csv")
  local dd_cmd=(dd if=/dev/zero of="$floor" bs=1M count="$csv_bytes" iflag=count_bytes conv=fsync
    status=none)
  time_once "$floor" "${dd_cmd[@]}" >/dev/null
  local t_export=() t_dd=() t_cp=() t_cat=() i
  for ((i = 0; i < RUNS; i++)); do
    t_export+=("$(time_once "$csv" "${cmd[@]}")")
    t_dd+=("$(time_once "$floor" "${dd_cmd[@]}")")
    t_cp+=("$(time_once "$copy" cp "$csv" "$copy")")
    t_cat+=("$(time_once "" cat "$zkd")")
  done
  local kb lines in_bytes export_us dd_us cat_us
  kb=$(peak_kb "$csv" "${cmd[@]}")
  lines=$(($(wc -l <"$csv") - 1))  # the column-header line is not a row
  in_bytes=$(size_of "$zkd")
  export_us=$(median "${t_export[@]}")
  dd_us=$(median "${t_dd[@]}")
  cat_us=$(median "${t_cat[@]}")
  rm -f "$floor" "$copy" "$csv"
  [ "$columns" = "$ALL" ] && columns="all five"
  rows+=("| $label | $(thousands "$(records_of "$zkd")") | $columns | $period | $(thousands "$lines") \
| $(mb "$csv_bytes") | $(seconds "$export_us") | $(millions_per_second "$lines" "$export_us") \
| $(mb_per_second "$in_bytes" "$export_us") | $(mb $((kb * 1000))) | $(seconds "$dd_us") \
| $(seconds "$(median "${t_cp[@]}")") | $(seconds "$cat_us") | $(ratio "$export_us" "$dd_us") |")
}

bench_export "sweep 10M" "$DATA/sweep-10M.zkd" 1 "$ALL"
bench_export "sweep 10M" "$DATA/sweep-10M.zkd" 1 time,data
bench_export "sweep 10M" "$DATA/sweep-10M.zkd" 10 "$ALL"
bench_export "sweep 1M" "$DATA/sweep-1M.zkd" 1 "$ALL"
bench_export "sweep 1M" "$DATA/sweep-1M.zkd" 1 time,data
bench_export "sweep 1M" "$DATA/sweep-1M.zkd" 10 "$ALL"
bench_export "skin 24 h" "$DATA/skin-24h.zkd" 1 "$ALL"

format_rows=()

# bench_format LABEL RECORDING PERIOD FORMAT RUNS
# The format and the CSV of the same seven columns take turns; the output is removed before
# every run.
bench_format() {
  local label=$1 zkd=$2 period=$3 format=$4 runs=$5
  local csv=$OUT/same.csv out=$OUT/export.$format
  local cmd=("$ZKEXPORT" -q -p "$period" -c "$SEVEN" --format "$format")
  if [ "$format" = bids ]; then
    cmd+=(-d "$out" --subject 1 --task bench "$zkd")
  else
    cmd+=(-o "$out" "$zkd")
  fi
  local csv_cmd=("$ZKEXPORT" -q -p "$period" -c "$SEVEN" -o "$csv" "$zkd")
  echo "Timing $label, --format $format, period $period ..." >&2
  local t_format=() t_csv=() i
  for ((i = 0; i < runs; i++)); do
    rm -rf "$out"
    t_format+=("$(time_once "" "${cmd[@]}")")
    t_csv+=("$(time_once "$csv" "${csv_cmd[@]}")")
  done
  local bytes kb format_us csv_us
  bytes=$(du -sb "$out" | awk '{ print $1 }')
  rm -rf "$out"
  kb=$(peak_kb "" "${cmd[@]}")
  rm -rf "$out" "$csv"
  format_us=$(median "${t_format[@]}")
  csv_us=$(median "${t_csv[@]}")
  format_rows+=("| $label | $(thousands "$(records_of "$zkd")") | $period | $format | $runs \
| $(mb "$bytes") | $(seconds "$format_us") | $(seconds "$csv_us") | $(ratio "$format_us" "$csv_us") \
| $(mb $((kb * 1000))) |")
}

for rec in "skin 24 h:$DATA/skin-24h.zkd" "sweep 10M:$DATA/sweep-10M.zkd" "sweep 1M:$DATA/sweep-1M.zkd"; do
  for format in edf bdf bids; do
    bench_format "${rec%%:*}" "${rec#*:}" 1 "$format" "$RUNS"
  done
done
bench_format "skin 24 h" "$DATA/skin-24h.zkd" 10 edf "$RUNS"
bench_format "skin 24 h" "$DATA/skin-24h.zkd" 10 bids "$RUNS"
bench_format "skin 24 h" "$DATA/skin-24h.zkd" 1 xlsx 1
bench_format "sweep 1M" "$DATA/sweep-1M.zkd" 1 xlsx 1

# The recording report of the day against cat of the same file, in turn; quick, so at least
# 21 runs each.
echo "Timing zkexport --info of skin 24 h ..." >&2
report_runs=$((RUNS > 21 ? RUNS : 21))
t_info=() t_read=()
time_once "" "$ZKEXPORT" --info "$DATA/skin-24h.zkd" >/dev/null
for ((i = 0; i < report_runs; i++)); do
  t_info+=("$(time_once "" "$ZKEXPORT" --info "$DATA/skin-24h.zkd")")
  t_read+=("$(time_once "" cat "$DATA/skin-24h.zkd")")
done
info_us=$(median "${t_info[@]}")
read_us=$(median "${t_read[@]}")
info_kb=$(peak_kb "" "$ZKEXPORT" --info "$DATA/skin-24h.zkd")

cpu=$(awk -F': ' '/model name/ { print $2; exit }' /proc/cpuinfo)
fs=$(df -T "$OUT" | awk 'NR == 2 { print $2 }')
echo
echo "Measured $(date -u '+%Y-%m-%d %H:%M UTC') on $cpu, $(nproc) cores, $(awk '/MemTotal/ { printf "%.0f GB", $2 / 1e6 }' /proc/meminfo) RAM,"
echo "output on $fs; commit $(git describe --always --dirty 2>/dev/null || echo unknown), Release build; median of $RUNS runs each."
echo
echo "| Recording | Records | Columns | Period | Rows | CSV (MB) | Export (s) | Rows/s (M) | Input (MB/s) | Peak RSS (MB) | Write floor: dd (s) | cp of the CSV (s) | Read floor: cat (s) | Export ÷ dd |"
echo "|---|---:|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|"
printf '%s\n' "${rows[@]}"
echo
echo "The other formats, all seven columns ($SEVEN), against the CSV of the same columns:"
echo
echo "| Recording | Records | Period | Format | Runs | Output (MB) | Export (s) | CSV (s) | Export ÷ CSV | Peak RSS (MB) |"
echo "|---|---:|---:|---|---:|---:|---:|---:|---:|---:|"
printf '%s\n' "${format_rows[@]}"
echo
echo "The recording report of skin 24 h, against cat of the same file (median of $report_runs runs each):"
echo
echo "| Recording | Records | zkexport --info (s) | cat (s) | Report ÷ cat | Peak RSS (MB) |"
echo "|---|---:|---:|---:|---:|---:|"
echo "| skin 24 h | $(thousands "$(records_of "$DATA/skin-24h.zkd")") | $(seconds "$info_us") | $(seconds "$read_us") \
| $(ratio "$info_us" "$read_us") | $(mb $((info_kb * 1000))) |"
