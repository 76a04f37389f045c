#!/usr/bin/env bash
# The mutation check: puts each deliberate fault of mutants.txt, one at a time, into a scratch
# copy of this checkout, rebuilds it and runs the test suite, which should notice the fault.
#
#   tests/mutation/run.sh                  every mutant
#   tests/mutation/run.sh --only ID[,ID]   only these
#   tests/mutation/run.sh --list           list the mutants, build nothing
#   tests/mutation/run.sh --check          check that each mutant's text occurs once, build nothing
#
# The copy and its build (the dev preset) live in $ZK_MUTATION_DIR (default /tmp/zk-mutation)
# and are reused by the next run; the checkout itself is only read. A test that runs longer
# than $ZK_MUTATION_TIMEOUT seconds (default 90) counts as a hang, not as a catch.
# $ZK_MUTATION_PRESET=nogui builds without the Qt window (see build() below) and skips the
# mutants of the Qt adapter (ui/qt/, app/), which the default dev preset checks.
# Prints a Markdown table; exits 0 when every mutant was caught, 1 otherwise.
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
repo=$(git -C "$here" rev-parse --show-toplevel) || exit 2
scratch=${ZK_MUTATION_DIR:-/tmp/zk-mutation}
timeout=${ZK_MUTATION_TIMEOUT:-90}
src=$scratch/src
only="" list=0 check=0
while (($#)); do
  case $1 in
    --only) only=${2:?--only needs a list of ids}; shift 2 ;;
    --list) list=1; shift ;;
    --check) check=1; shift ;;
    *) echo "usage: $0 [--only ID[,ID...]] [--list | --check]" >&2; exit 2 ;;
  esac
done

# mut list: "id<TAB>file<TAB>breaks" per mutant; mut apply ID DIR: puts it into DIR's copy of
# its file, or exits 3 (after printing how often the text occurs) when it doesn't occur once.
mut() {
  python3 - "$here/mutants.txt" "$@" <<'EOF'
import sys
path, cmd, *args = sys.argv[1:]
mutants, cur = [], {}
for line in open(path, encoding="utf-8").read().split("\n") + [""]:
    if line.startswith("#"):
        continue
    if not line.strip():
        if cur:
            missing = {"id", "file", "find", "replace", "breaks"} - cur.keys()
            if missing or any(m["id"] == cur["id"] for m in mutants):
                sys.exit(f"mutants.txt: block {cur.get('id', '?')}: missing {missing} or id used twice")
            mutants.append(cur)
        cur = {}
        continue
    key, sep, value = line.partition(": ")
    if not sep:
        sys.exit(f"mutants.txt: not 'key: value': {line}")
    cur[key] = value
if cmd == "list":
    for m in mutants:
        print(f"{m['id']}\t{m['file']}\t{m['breaks']}")
else:
    m = next(m for m in mutants if m["id"] == args[0])
    target = f"{args[1]}/{m['file']}"
    try:
        text = open(target, encoding="utf-8").read()
    except OSError as e:
        print(e.strerror)
        sys.exit(3)
    if text.count(m["find"]) != 1:
        print(f"occurs {text.count(m['find'])} times")
        sys.exit(3)
    open(target, "w", encoding="utf-8").write(text.replace(m["find"], m["replace"]))
EOF
}

table=$(mut list) || exit 2
if [[ -n $only ]]; then
  IFS=, read -ra wanted <<<"$only"
  for id in "${wanted[@]}"; do
    grep -q "^$id	" <<<"$table" || { echo "no mutant '$id'" >&2; exit 2; }
  done
  table=$(awk -F'\t' -v ids=",$only," 'index(ids, "," $1 ",")' <<<"$table")
fi
if ((list)); then
  column -t -s $'\t' <<<"$table"
  exit 0
fi
if ((check)); then
  # Each mutant applied to a scratch copy of its file only: a moved or reworded line shows here.
  bad=0 tmp=$(mktemp -d) && trap 'rm -rf "$tmp"' EXIT
  while IFS=$'\t' read -r id file _; do
    mkdir -p "$tmp/$(dirname "$file")" && cp "$repo/$file" "$tmp/$file" 2>/dev/null
    why=$(mut apply "$id" "$tmp") || { echo "$id ($file): $why"; bad=$((bad + 1)); }
    cp "$repo/$file" "$tmp/$file" 2>/dev/null
  done <<<"$table"
  echo "$(wc -l <<<"$table") mutants, $bad stale"
  ((bad == 0)); exit
fi

start=$SECONDS
log() { echo "[$(date +%T)] $*" >&2; }

# The tracked files as they are in the work tree; only those that differ from the copy are
# written, so the build is incremental and a file restored after a mutant is compiled again.
log "copying $repo to $src"
mkdir -p "$src"
git -C "$repo" ls-files -z | while IFS= read -r -d '' f; do
  [[ -f $repo/$f ]] || continue  # deleted in the work tree
  if ! cmp -s "$repo/$f" "$src/$f"; then
    mkdir -p "$(dirname "$src/$f")" && cp "$repo/$f" "$src/$f"
  fi
done

# $ZK_MUTATION_PRESET (default dev) chooses the build: "nogui" leaves out the Qt window and its
# tests (the window's logic is tested without Qt), which makes each rebuild much shorter.
preset=${ZK_MUTATION_PRESET:-dev}
build() {
  (cd "$src" && cmake --preset "$preset" -DZK_BUILD_BENCH=OFF &&
    cmake --build --preset "$preset" --parallel 2) >"$scratch/build.log" 2>&1
}

# Runs the suite, stopping at the first failure; prints that test's name, or nothing when all
# pass. A test that times out is left out and the suite run again, so a hang is told apart
# from a catch: then the output is "timeout: NAME".
run_suite() {
  local exclude="" hung="" line name
  for _ in 1 2 3 4 5; do
    (cd "$src" && ctest --preset "$preset" --timeout "$timeout" --stop-on-failure \
      ${exclude:+-E "$exclude"}) >"$scratch/test.log" 2>&1 && { [[ -n $hung ]] && echo "timeout: $hung"; return; }
    line=$(grep -E 'Test +#[0-9]+: .*\*\*\*' "$scratch/test.log" | grep -vE '\*\*\*(Skipped|Not Run)' | head -1)
    name=$(sed -E 's/.*Test +#[0-9]+: ([^ ]+) .*/\1/' <<<"$line")
    if [[ -z $line ]]; then echo "ctest failed, see $scratch/test.log"; return; fi
    if [[ $line != *Timeout* ]]; then echo "$name"; return; fi
    hung=${hung:+$hung, }$name
    exclude=${exclude:+$exclude|}^$(sed 's/[][\.*^$+?(){}|]/\\&/g' <<<"$name")\$
  done
  echo "timeout: $hung"
}

log "building the unmutated copy (log: $scratch/build.log)"
build || { log "the unmutated copy does not build"; exit 2; }
log "running the unmutated suite"
baseline=$(run_suite)
[[ -z $baseline ]] || { log "the unmutated suite fails ($baseline); no point in mutating"; exit 2; }

rows="" caught=0 missed=0 broken=0 stale=0 skipped=0
while IFS=$'\t' read -r id file breaks; do
  if [[ $preset == nogui && ( $file == ui/qt/* || $file == app/* ) ]]; then
    # The Qt window is not built: its mutants need the dev preset (--only their ids).
    skipped=$((skipped + 1))
    log "$id: skipped (the Qt window is not built)"
    rows+="| $id | $file | $breaks | skipped: needs the dev preset | |"$'\n'
    continue
  fi
  cp "$src/$file" "$scratch/original"
  if ! why=$(mut apply "$id" "$src"); then
    result="stale ($why)" by="" stale=$((stale + 1))
  elif log "$id: building" && ! build; then
    result="build fails" by="" broken=$((broken + 1))
  else
    log "$id: testing"
    by=$(run_suite)
    if [[ -z $by || $by == timeout:* ]]; then result="NOT caught" missed=$((missed + 1)); else result=caught caught=$((caught + 1)); fi
  fi
  cp "$scratch/original" "$src/$file"  # a new time stamp: the next build compiles it again
  log "$id: $result${by:+ ($by)}"
  rows+="| $id | $file | $breaks | $result | ${by//|/\\|} |"$'\n'
done <<<"$table"

echo "| id | file | what it breaks | result | caught by |"
echo "|---|---|---|---|---|"
printf '%s' "$rows"
echo
echo "$caught caught, $missed not caught ($broken build fails, $stale stale${skipped:+, $skipped skipped}) in $(((SECONDS - start) / 60)) min"
((missed + broken + stale == 0))
