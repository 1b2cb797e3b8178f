#!/usr/bin/env bash
# tracewright against bare potrace on the same bitonal bitmaps, side by side in one run.
# Usage: bench/bench_convert.sh [build-folder]   (needs python3 and potrace)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
tw=$build/tracewright
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/in" "$work/folder" "$work/out-tw" "$work/out-po"
python3 "$root/bench/make_bitmaps.py" "$work/in" logo card a5-150dpi letter-300dpi
python3 "$root/bench/make_bitmaps.py" "$work/folder" folder200

now() { date +%s%N; }
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
runs=${RUNS:-9}

printf '%-16s %12s %12s %12s\n' image "potrace ms" "tracewright" "overhead ms"
for bmp in "$work"/in/*.bmp; do
  name=$(basename "$bmp" .bmp)
  po=(); tw_t=()
  for _ in $(seq "$runs"); do
    rm -f "$work"/out-po/* "$work"/out-tw/*
    t0=$(now); potrace -s -o "$work/out-po/$name.svg" "$bmp"; t1=$(now)
    "$tw" "$bmp" "$work/out-tw/$name.svg" >/dev/null || true; t2=$(now)  # 1 means converted
    po+=($(( (t1 - t0) / 1000 ))); tw_t+=($(( (t2 - t1) / 1000 )))
  done
  p=$(printf '%s\n' "${po[@]}" | median); t=$(printf '%s\n' "${tw_t[@]}" | median)
  awk -v n="$name" -v p="$p" -v t="$t" 'BEGIN {printf "%-16s %12.1f %12.1f %12.1f\n", n, p/1000, t/1000, (t-p)/1000}'
done

rm -f "$work"/out-po/* "$work"/out-tw/*
t0=$(now)
for bmp in "$work"/folder/*.bmp; do potrace -s -o "$work/out-po/$(basename "$bmp" .bmp).svg" "$bmp"; done
t1=$(now)
"$tw" "$work/folder" "$work/out-tw/*.svg" >/dev/null || true
t2=$(now)
awk -v p=$(( (t1 - t0) / 1000 )) -v t=$(( (t2 - t1) / 1000 )) \
  'BEGIN {printf "200-file folder: potrace one by one %.0f ms, tracewright %.0f ms (%.2f ms per file more)\n", p/1000, t/1000, (t-p)/1000/200}'
