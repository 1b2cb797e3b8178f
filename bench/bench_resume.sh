#!/usr/bin/env bash
# A big batch resumed after a kill: N small line drawings (default 10,000; anti-aliased
# renders of SVG art) traced to SVG into one folder with TRACEWRIGHT_EXISTING=skip, once
# whole, and once killed with SIGKILL halfway and run again. Reports the
# resumed run's time against the whole run's (target: about 0.5) and checks that the resumed
# folder holds exactly one output per input, no numbered twin and no private file.
#
# Usage: bench/bench_resume.sh [build-folder]     N=10000 (inputs), TRACEWRIGHT_JOBS as usual
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
tw=$build/tracewright
count=${N:-10000}
command -v rsvg-convert >/dev/null || { echo "bench_resume: rsvg-convert is needed" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/art" "$work/in" "$work/full" "$work/resumed"

# Twenty different drawings, anti-aliased, 96 x 96, copied under N names.
for i in $(seq 0 19); do
  r=$((10 + i)); x=$((20 + i * 2)); w=$((2 + i % 5))
  cat > "$work/art/a$i.svg" <<SVG
<svg xmlns="http://www.w3.org/2000/svg" width="96" height="96"><rect width="96" height="96" fill="white"/>
<circle cx="$x" cy="48" r="$r" fill="none" stroke="black" stroke-width="$w"/>
<path d="M10 80 C 30 $((20 + i)), 60 90, 86 $((30 + i))" fill="none" stroke="black" stroke-width="3"/>
<text x="50" y="30" font-size="20" font-family="sans-serif">$i</text></svg>
SVG
  rsvg-convert "$work/art/a$i.svg" -o "$work/art/a$i.png"
done
for i in $(seq -f %05g 0 $((count - 1))); do cp "$work/art/a$((10#$i % 20)).png" "$work/in/f$i.png"; done

now() { date +%s.%N; }
export TRACEWRIGHT_EXISTING=skip TRACEWRIGHT_PROGRESS=0 TRACEWRIGHT_EXIT=posix

start=$(now)
"$tw" "$work/in" "$work/full/*.svg" > /dev/null
full=$(echo "$(now) - $start" | bc)

start=$(now)
"$tw" "$work/in" "$work/resumed/*.svg" > /dev/null &
pid=$!
# Killed once half the outputs are there (half the whole run's time on an idle machine; a
# shared machine's load changes the speed from run to run).
while [ "$(find "$work/resumed" -name 'f*.svg' | wc -l)" -lt $((count / 2)) ] && kill -0 "$pid" 2>/dev/null; do sleep 0.05; done
kill -KILL "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true
killed=$(echo "$(now) - $start" | bc)
atkill=$(find "$work/resumed" -name '*.svg' | wc -l)
parts=$(find "$work/resumed" -name '.trw-*' | wc -l)
sleep 1
start=$(now)
"$tw" "$work/in" "$work/resumed/*.svg" > /dev/null
resumed=$(echo "$(now) - $start" | bc)

# A run with nothing left to do: what skipping costs.
start=$(now)
"$tw" "$work/in" "$work/full/*.svg" > /dev/null
nothing=$(echo "$(now) - $start" | bc)

outputs=$(find "$work/resumed" -type f | wc -l)
twins=$(find "$work/resumed" -name 'f?????[0-9][0-9][0-9]*.svg' | wc -l)
left=$(find "$work/resumed" -name '.trw-*' | wc -l)
printf 'inputs %d, whole run %.2f s\n' "$count" "$full"
printf 'killed after %.2f s with %d outputs and %d private files\n' "$killed" "$atkill" "$parts"
printf 'resumed run %.2f s: %d files, %d numbered twins, %d private files left\n' "$resumed" "$outputs" "$twins" "$left"
printf 'ratio resumed / whole: %.2f (target about 0.5); killed + resumed / whole: %.2f\n' \
  "$(echo "$resumed / $full" | bc -l)" "$(echo "($killed + $resumed) / $full" | bc -l)"
printf 'a run with every output there: %.2f s, %.3f of the whole run\n' "$nothing" "$(echo "$nothing / $full" | bc -l)"
printf 'share of the inputs left at the kill: %.2f; resumed / (whole x that share): %.2f (target about 1)\n' \
  "$(echo "($count - $atkill) / $count" | bc -l)" "$(echo "$resumed / ($full * ($count - $atkill) / $count)" | bc -l)"
[ "$outputs" -eq "$count" ] && [ "$twins" -eq 0 ] && [ "$left" -eq 0 ]
