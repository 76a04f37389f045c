#!/usr/bin/env bash
# Compares what two builds of zkexport write, byte for byte, in every format: for a change that
# must keep the output as it is (a refactoring, a speed-up), run it with the build before and the
# build after.
#
#   tools/compare_outputs.sh OLD_ZKEXPORT NEW_ZKEXPORT ZKGEN [WORK_DIR]
#
# The recordings: examples/sample.zkd, a sweep over the whole raw range with tags sharing rows,
# twenty minutes of skin, and a recording with gaps, steps back, record types that give no row,
# tags and tags marked before 0 ms. For each: periods 1, 7, 10, 50, 250 and 1638; three column
# sets; CSV with and without headers and with a heading; a range and epochs; EDF+, BDF+ and BIDS
# (the samples decompressed); a workbook (each part of the zip but docProps/core.xml, which
# holds the time it was written). Exit status and standard error are compared too. Prints one
# line per difference and a count; exits 1 when anything differs.
set -uo pipefail
[[ $# -ge 3 ]] || { echo "usage: $0 OLD_ZKEXPORT NEW_ZKEXPORT ZKGEN [WORK_DIR]" >&2; exit 2; }
old=$(realpath "$1") new=$(realpath "$2") zkgen=$(realpath "$3")
here=$(cd "$(dirname "$0")/.." && pwd)
work=${4:-$(mktemp -d)}
mkdir -p "$work" && cd "$work" || exit 2

"$zkgen" --records 200000 --profile sweep --tag-every 97 --seed 5 -o sweep.zkd >/dev/null
"$zkgen" --minutes 20 --seed 3 -o skin.zkd >/dev/null
cp "$here/examples/sample.zkd" sample.zkd
python3 - <<'EOF'
import random, struct
random.seed(7)
out, t = bytearray(), -100
for i in range(50000):
    d = random.random()
    t += random.randint(0, 3000) if d < 0.02 else (-40 if d < 0.03 else 20)
    rec = bytearray(20)
    struct.pack_into("<iH", rec, 0, t, random.randint(0, 65535))
    if random.random() < 1 / 23:
        tag = random.randint(0, 65535)
        rec[13], rec[14], rec[18] = tag & 255, tag >> 8, ord("T")
    rec[19] = ord("P") if i < 5 else random.choice(b"POSTPPPPxp")
    out += rec
open("irregular.zkd", "wb").write(out)
EOF

compared=0 differ=0
# same LABEL: the two runs' outputs (files or folders) o and n, their statuses and messages.
same() {
  compared=$((compared + 1))
  if ! cmp -s o.status n.status || ! cmp -s o.err n.err || ! diff -rq o n >/dev/null 2>&1; then
    differ=$((differ + 1))
    echo "differs: $1"
  fi
}
# both ARGS...: runs each build with ARGS, where the word OUT stands for its output.
both() {
  local side exe args a
  for side in o n; do
    rm -rf "$side" && mkdir "$side"
    exe=$old && [[ $side == n ]] && exe=$new
    args=()
    for a in "$@"; do args+=("${a//OUT/out}"); done
    (cd "$side" && "$exe" -q -f "${args[@]}" >stdout 2>"../$side.err"; echo $? >"../$side.status")
  done
}
# Unpacks what may be compressed, so that the comparison is of the contents.
unpack() {
  local side f
  for side in o n; do
    find "$side" -name '*.gz' -exec gzip -d {} +
    for f in $(find "$side" -name '*.xlsx'); do
      mkdir "$f.d" && (cd "$f.d" && python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall()' "../$(basename "$f")") && rm -f "$f" "$f.d/docProps/core.xml"
    done
  done
}

all=time,seconds,data,baseline,resistance,conductance,tags
for r in sample sweep skin irregular; do
  for p in 1 7 10 50 250 1638; do
    for c in time,data time,data,baseline,resistance,tags $all; do
      for h in "" --no-headers "--heading=Run 1"; do
        both -p "$p" -c "$c" ${h:+"$h"} -o OUT.csv "../$r.zkd"; same "$r csv -p $p -c $c $h"
      done
      for f in edf bdf; do
        both -p "$p" -c "$c" --start "2024-01-02 03:04:05" -o "OUT.$f" "../$r.zkd"; same "$r $f -p $p -c $c"
      done
      both -p "$p" -c "$c" --format bids -d OUT --subject 01 --task rest "../$r.zkd"; unpack
      same "$r bids -p $p -c $c"
    done
    both -p "$p" -c $all --from 1:00 --to 2:30.1 -o OUT.csv "../$r.zkd"; same "$r range -p $p"
    both -p "$p" -c $all --epochs -o OUT.csv "../$r.zkd"; same "$r epochs -p $p"
  done
  both -p 10 -c $all --start "2024-01-02 03:04:05" -o OUT.xlsx "../$r.zkd"; unpack; same "$r xlsx -p 10"
done
echo "$compared compared, $differ differ"
((differ == 0))
