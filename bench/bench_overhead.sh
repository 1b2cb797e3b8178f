#!/usr/bin/env bash
# What tracewright costs on top of the engines it runs, in one run, each case against bare
# potrace on the very bitmap tracewright hands it and against the by-hand pipeline, with the
# targets (ratios; CPU is user + system of the whole process tree):
#   1. a 300-dpi grey letter scan PNG (2550x3300, rendered text and drawings, turned and
#      blurred like a scanner) to SVG: <= 1.25x bare potrace, <= 0.4x `pngtopnm | potrace -k 0.941`
#   2. a 640x320 logo PNG: <= 1.4x bare potrace
#   3. a 1-bit 300-dpi letter BMP: <= 1.1x bare potrace
#   4. a folder of 200 small images on 2 cores (wall): <= 0.55x potrace one by one
#   5. the 42-page colour-management guide of the corpus (wall): <= 0.45x pdftoppm -gray
#      + potrace by hand, page after page
#   6. peak memory (largest resident set of the run's processes): a 600-dpi grey letter scan
#      within potrace's own peak + 10 MB; with BIG=1 also a 1200-dpi colour letter PNG
#      (10200x13200) within potrace's own + 32 MB
# potrace gets exactly the BMP and options that tracewright hands it: a copy of the program
# runs with a recording potrace beside it (a file beside the program is preferred over the
# stored engine), which keeps the BMP and the arguments and then runs the real potrace.
#
# Usage: bench/bench_overhead.sh [build-folder]
#   RUNS (default 10) runs per measurement; POTRACE (default /usr/bin/potrace); BIG=1 adds
#   the 1200-dpi colour scan (needs about 1.5 GB of memory to make).
#   Needs rsvg-convert and netpbm (pngtopnm, ppmtopgm, pnmrotate, pnmconvol, pnmtopng,
#   pgmtopbm) and pdftoppm. Uses hyperfine when it is installed (and NO_HYPERFINE is not
#   set), else its own loop over /usr/bin/time.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
tw=$build/tracewright
potrace=${POTRACE:-/usr/bin/potrace}
runs=${RUNS:-10}
corpus=$root/../shared/corpus
guide=$corpus/pdf/good/debian-ghostscript-doc/GS9_Color_Management.pdf

for need in "$tw" "$potrace" /usr/bin/time; do
  [ -x "$need" ] || { echo "bench_overhead: $need is missing" >&2; exit 1; }
done
for tool in python3 rsvg-convert pngtopnm ppmtopgm pnmrotate pnmconvol pnmtopng pgmtopbm pdftoppm; do
  command -v "$tool" >/dev/null || { echo "bench_overhead: $tool is needed" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/in" "$work/folder" "$work/out" "$work/spy" "$work/record"

# --- inputs -----------------------------------------------------------------------------
python3 "$root/bench/make_bitmaps.py" "$work/in" letter-300dpi
mv "$work/in/letter-300dpi.bmp" "$work/in/letter.bmp"
python3 "$root/bench/make_bitmaps.py" "$work/folder" folder200
# The logo at 640x320, anti-aliased, from its own picture scaled up smoothly.
pngtopnm "$root/samples/logo.png" | pnmscale -xsize 640 -ysize 320 | pnmtopng >"$work/in/logo.png"

# A letter page of text lines and drawings as SVG, rendered anti-aliased, then scanned:
# turned by 0.6 degrees and blurred a little. scan DPI OUT [colour]
python3 - "$work/page.svg" <<'PY'
import random, sys
rnd = random.Random(7)
words = "the quick brown fox jumps over a lazy dog while seven wizards quietly box jugs".split()
out = ['<svg xmlns="http://www.w3.org/2000/svg" width="612" height="792" viewBox="0 0 612 792">',
       '<rect width="612" height="792" fill="white"/>']
y = 72
while y < 560:
    line = " ".join(rnd.choice(words) for _ in range(11))
    out.append('<text x="60" y="%d" font-family="serif" font-size="11">%s</text>' % (y, line))
    y += 15
for i in range(6):
    cx, cy, r = 100 + 80 * i, 650, 20 + 4 * i
    out.append('<circle cx="%d" cy="%d" r="%d" fill="none" stroke="#%02x3060" stroke-width="2"/>' % (cx, cy, r, 40 * i))
out.append('<path d="M60 720 C160 680 260 760 360 700 S520 690 552 740" fill="none" stroke="#205020" stroke-width="3"/>')
out.append('<rect x="400" y="600" width="120" height="30" fill="#c04040"/>')
out.append('</svg>')
open(sys.argv[1], "w").write("\n".join(out))
PY
scan() {
  local dpi=$1 out=$2 colour=${3:-}
  local w=$((dpi * 17 / 2)) h=$((dpi * 11))
  rsvg-convert -b white -w "$w" -h "$h" "$work/page.svg" -o "$work/render.png"
  if [ -n "$colour" ]; then
    pngtopnm "$work/render.png" | pnmtopng >"$out"
  else
    printf 'P2\n3 3\n16\n1 2 1\n2 4 2\n1 2 1\n' >"$work/blur.pgm"
    pngtopnm "$work/render.png" | ppmtopgm | pnmrotate -background=white 0.6 \
      | pnmconvol -nooffset "$work/blur.pgm" 2>/dev/null | pnmtopng >"$out"
  fi
  rm -f "$work/render.png"
}
scan 300 "$work/in/scan300.png"
scan 600 "$work/in/scan600.png"
[ -n "${BIG:-}" ] && scan 1200 "$work/in/scan1200.png" colour

# --- the BMP and options tracewright hands potrace --------------------------------------
cp "$tw" "$work/spy/tracewright"
cat >"$work/spy/potrace" <<EOF
#!/bin/sh
# Keeps the last call's arguments and bitmap (standard input for "-"), then runs the real
# potrace.
: >"$work/record/args"
for arg in "\$@"; do printf '%s\n' "\$arg" >>"$work/record/args"; done
for last in "\$@"; do :; done
if [ "\$last" = - ]; then cat >"$work/record/input.bmp"; else cp "\$last" "$work/record/input.bmp"; fi
exec "$potrace" "\$@" <"$work/record/input.bmp"
EOF
chmod 755 "$work/spy/potrace"

# Writes $work/<name>.potrace: a script running potrace as tracewright did on <input>.
record_potrace_call() {
  local name=$1 input=$2
  rm -f "$work/record/args" "$work/record/input.bmp"
  "$work/spy/tracewright" "$input" "$work/out/spy-$name.svg" >/dev/null || true
  [ -s "$work/record/input.bmp" ] || { echo "bench_overhead: tracewright ran no potrace on $input" >&2; exit 1; }
  cp "$work/record/input.bmp" "$work/$name.bmp"
  mapfile -t args <"$work/record/args"
  local n=${#args[@]} i script="exec $potrace"
  for ((i = 0; i < n - 1; i++)); do
    if ((i > 0)) && [ "${args[i-1]}" = "-o" ]; then script+=" $work/out/potrace-$name.svg"; else script+=" '${args[i]}'"; fi
  done
  script+=" $work/$name.bmp"
  printf '#!/bin/sh\n%s\n' "$script" >"$work/$name.potrace"
  chmod 755 "$work/$name.potrace"
}
record_potrace_call logo "$work/in/logo.png"
record_potrace_call letter "$work/in/letter.bmp"
record_potrace_call scan300 "$work/in/scan300.png"
record_potrace_call scan600 "$work/in/scan600.png"

# By hand: the PNG decoded by netpbm and thresholded by potrace at tracewright's level.
printf '#!/bin/sh\npngtopnm %s | %s -k 0.941 -s -o %s/out/hand.svg\n' \
  "$work/in/scan300.png" "$potrace" "$work" >"$work/scan300.hand"
# The guide by hand: pages rendered grey at tracewright's 150 dpi, then traced one by one.
printf '#!/bin/sh\n[ -d %s/hand ] && mv %s/hand "$(mktemp -d %s/old/XXXXXX)"\nmkdir -p %s/hand\npdftoppm -r 150 -gray %s %s/hand/p\nfor p in %s/hand/*.pgm; do %s -k 0.941 -s "$p"; done\n' \
  "$work" "$work" "$work" "$work" "$guide" "$work" "$work" "$potrace" >"$work/guide.hand"
chmod 755 "$work/scan300.hand" "$work/guide.hand"

# Bare potrace one file at a time over the folder, and a reset of the output folders.
{
  echo '#!/bin/sh'
  for bmp in "$work"/folder/*.bmp; do
    echo "$potrace -s -o $work/out/folder-po/$(basename "$bmp" .bmp).svg $bmp"
  done
} >"$work/folder.potrace"
# The reset moves the last run's outputs aside instead of deleting them: ext4 without a
# journal skips every inode freed in the last minute when it makes a file, one by one, so
# deleting 200 outputs before each run made every later file in the same block group cost
# more, whichever program came later in the run paying for the others' deletions.
mkdir -p "$work/old"
cat >"$work/reset" <<EOF
#!/bin/sh
aside=\$(mktemp -d "$work/old/XXXXXX")
for d in folder-tw folder-po pdf; do
  [ -d "$work/out/\$d" ] && mv "$work/out/\$d" "\$aside/"
  mkdir -p "$work/out/\$d"
done
for f in "$work"/out/*.svg; do [ -e "\$f" ] && mv "\$f" "\$aside/"; done
exit 0
EOF
chmod 755 "$work/folder.potrace" "$work/reset"

# --- measuring ---------------------------------------------------------------------------
# measure LABEL COMMAND... : appends "LABEL wall_ms cpu_ms" (means over the runs) to results.
results=$work/results
: >"$results"
if [ -z "${NO_HYPERFINE:-}" ] && command -v hyperfine >/dev/null; then
  echo "measuring with hyperfine, $runs runs each"
  measure() {
    local label=$1; shift
    local cmd="" arg
    for arg in "$@"; do cmd+="${cmd:+ }$arg"; done
    hyperfine -N -i --style none --warmup 1 --runs "$runs" --prepare "$work/reset" \
      --export-json "$work/h.json" -- "$cmd" >/dev/null 2>&1 || { echo "$label failed" >&2; return 0; }
    python3 - "$work/h.json" "$label" >>"$results" <<'PY'
import json, sys
r = json.load(open(sys.argv[1]))["results"][0]
print(sys.argv[2], round(r["mean"] * 1000, 1), round((r["user"] + r["system"]) * 1000, 1))
PY
  }
else
  echo "measuring with /usr/bin/time, $runs runs each (install hyperfine for warm-up and spread)"
  measure() {
    local label=$1; shift
    local wall=0 cpu=0 i line
    for ((i = 0; i < runs; i++)); do
      "$work/reset"
      /usr/bin/time -f '%e %U %S' -o "$work/t" "$@" >/dev/null 2>&1 || true
      line=$(tail -1 "$work/t")
      wall=$(awk -v a="$wall" -v l="$line" 'BEGIN {split(l, f, " "); print a + f[1]}')
      cpu=$(awk -v a="$cpu" -v l="$line" 'BEGIN {split(l, f, " "); print a + f[2] + f[3]}')
    done
    awk -v l="$label" -v w="$wall" -v c="$cpu" -v n="$runs" \
      'BEGIN {printf "%s %.1f %.1f\n", l, w * 1000 / n, c * 1000 / n}' >>"$results"
  }
fi
field() { awk -v l="$1" -v f="$2" '$1 == l {print $f}' "$results"; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {if (b > 0) printf "%.2f", a / b; else print "-"}'; }
verdict() { awk -v r="$1" -v t="$2" 'BEGIN {print (r != "-" && r <= t) ? "ok" : "OVER"}'; }
peak() {  # peak resident set in MiB of a command and the processes it waited for
  "$work/reset"
  /usr/bin/time -v -o "$work/v" "$@" >/dev/null 2>&1 || true
  awk -F: '/Maximum resident set size/ {printf "%.1f", $2 / 1024}' "$work/v"
}

measure potrace-logo "$work/logo.potrace"
measure tw-logo "$tw" "$work/in/logo.png" "$work/out/logo.svg"
measure tw-help "$tw" -h
measure potrace-letter "$work/letter.potrace"
measure tw-letter "$tw" "$work/in/letter.bmp" "$work/out/letter.svg"
measure potrace-scan300 "$work/scan300.potrace"
measure hand-scan300 "$work/scan300.hand"
measure tw-scan300 "$tw" "$work/in/scan300.png" "$work/out/scan300.svg"
measure potrace-folder "$work/folder.potrace"
measure tw-folder-jobs2 env TRACEWRIGHT_JOBS=2 "$tw" "$work/folder" "$work/out/folder-tw/*.svg"
measure tw-folder-jobs- env -u TRACEWRIGHT_JOBS "$tw" "$work/folder" "$work/out/folder-tw/*.svg"
if [ -f "$guide" ]; then
  measure hand-guide "$work/guide.hand"
  measure tw-guide "$tw" "$guide" "$work/out/pdf/guide.svg"
fi

# --- report -------------------------------------------------------------------------------
echo
printf '%-40s %10s %10s %10s %8s %10s %8s\n' case "tw ms" "potrace" ratio target "by hand" ratio
row() {  # label tracewright-label potrace-label hand-label column(2 wall, 3 cpu) potrace-target hand-target
  local t p h rp rh
  t=$(field "$2" "$5"); p=$(field "$3" "$5"); rp=$(ratio "$t" "$p")
  local line
  line=$(printf '%-40s %10s %10s %10s %8s' "$1" "$t" "${p:--}" "$rp" "${6:+<= $6}")
  [ -n "$6" ] && line+=" $(verdict "$rp" "$6")"
  if [ -n "$4" ]; then
    h=$(field "$4" "$5"); rh=$(ratio "$t" "$h")
    line+=$(printf ' %10s %8s <= %s %s' "$h" "$rh" "$7" "$(verdict "$rh" "$7")")
  fi
  echo "$line"
}
row "300-dpi grey letter PNG -> SVG (CPU)" tw-scan300 potrace-scan300 hand-scan300 3 1.25 0.4
row "640x320 logo PNG -> SVG (CPU)" tw-logo potrace-logo "" 3 1.4
row "1-bit letter BMP -> SVG (CPU)" tw-letter potrace-letter "" 3 1.1
row "200 files, TRACEWRIGHT_JOBS=2 (wall)" tw-folder-jobs2 potrace-folder "" 2 0.55
row "200 files, TRACEWRIGHT_JOBS unset (wall)" tw-folder-jobs- potrace-folder "" 2 0.55
if [ -f "$guide" ]; then
  g=$(field tw-guide 2); h=$(field hand-guide 2); r=$(ratio "$g" "$h")
  printf '%-40s %10s %10s %10s %8s %10s %8s <= 0.45 %s\n' "42-page guide -> SVG (wall)" "$g" - - "" "$h" "$r" "$(verdict "$r" 0.45)"
else
  echo "GS9_Color_Management.pdf not found under $corpus: skipped"
fi
echo
printf 'tracewright -h: %s ms wall, %s ms CPU\n' "$(field tw-help 2)" "$(field tw-help 3)"
# Peak memory against potrace's own on the same bitmap.
memrow() {  # label tracewright-peak potrace-peak allowance
  local d
  d=$(awk -v a="$2" -v b="$3" 'BEGIN {if (a == "" || b == "") print "-"; else printf "%.1f", a - b}')
  printf '%-40s %8s MiB, potrace %8s MiB: +%s MiB (<= %s) %s\n' "$1" "$2" "$3" "$d" "$4" \
    "$(awk -v d="$d" -v t="$4" 'BEGIN {print (d != "-" && d <= t) ? "ok" : "OVER"}')"
}
memrow "peak, 600-dpi grey letter scan" "$(peak "$tw" "$work/in/scan600.png" "$work/out/scan600.svg")" \
  "$(peak "$work/scan600.potrace")" 10
if [ -n "${BIG:-}" ]; then
  pngtopnm "$work/in/scan1200.png" | ppmtopgm | pgmtopbm -threshold -value 0.941 >"$work/scan1200.pbm"
  big=$(peak "$tw" "$work/in/scan1200.png" "$work/out/scan1200.svg")
  [ -s "$work/out/scan1200.svg" ] || echo "  (tracewright made no output for the 1200-dpi scan)"
  memrow "peak, 1200-dpi colour letter PNG" "$big" \
    "$(peak "$potrace" -s -o "$work/out/po1200.svg" "$work/scan1200.pbm")" 32
fi
printf 'peak memory, 200-file folder: %s MiB\n' "$(peak "$tw" "$work/folder" "$work/out/folder-tw/*.svg")"
