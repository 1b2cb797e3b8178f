#!/usr/bin/env bash
# What tracewright costs on top of the engines it runs, side by side with bare potrace in one
# run, against the targets of the overhead work:
#   1. a 640x320 logo PNG to SVG: CPU time of tracewright / potrace on the same BMP, <= 1.5
#   2. a 2550x3300 letter page at 300 dpi from BMP: the same ratio, <= 1.15
#   3. a folder of 200 small images: wall time against potrace run once per file, <= 0.6,
#      with TRACEWRIGHT_JOBS=1, 2 and unset
#   4. PDFs to SVG: the 42-page colour-management guide of the corpus (<= 2.0 s) and 500
#      blank pages (<= 5 s)
#   5. peak memory (largest resident set of the run's processes) of a folder batch and of
#      the guide
# potrace gets exactly the BMP and options that tracewright hands it: a copy of the program
# runs with a recording potrace beside it (a file beside the program is preferred over the
# stored engine), which keeps the BMP and the arguments and then runs the real potrace.
#
# Usage: bench/bench_overhead.sh [build-folder]
#   RUNS (default 10) runs per measurement; POTRACE (default /usr/bin/potrace).
#   Uses hyperfine when it is installed (and NO_HYPERFINE is not set), else its own loop over
#   /usr/bin/time.
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
command -v python3 >/dev/null || { echo "bench_overhead: python3 is needed" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/in" "$work/folder" "$work/out" "$work/spy" "$work/record"

# --- inputs -----------------------------------------------------------------------------
python3 "$root/bench/make_bitmaps.py" "$work/in" letter-300dpi
mv "$work/in/letter-300dpi.bmp" "$work/in/letter.bmp"
python3 "$root/bench/make_bitmaps.py" "$work/folder" folder200
cp "$root/samples/logo.png" "$work/in/logo.png"
python3 - "$work/in/blank500.pdf" <<'PY'
import sys
count = 500
objs = ["<< /Type /Catalog /Pages 2 0 R >>", None, "<< /Length 0 >>\nstream\n\nendstream"]
kids = []
for _ in range(count):
    kids.append(len(objs) + 1)
    objs.append("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 3 0 R >>")
objs[1] = "<< /Type /Pages /Kids [%s] /Count %d >>" % (" ".join("%d 0 R" % k for k in kids), count)
out = "%PDF-1.4\n"
offsets = []
for i, body in enumerate(objs, 1):
    offsets.append(len(out))
    out += "%d 0 obj\n%s\nendobj\n" % (i, body)
xref = len(out)
out += "xref\n0 %d\n0000000000 65535 f \n" % (len(objs) + 1)
out += "".join("%010d 00000 n \n" % o for o in offsets)
out += "trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (len(objs) + 1, xref)
open(sys.argv[1], "w").write(out)
PY

# --- the BMP and options tracewright hands potrace --------------------------------------
cp "$tw" "$work/spy/tracewright"
cat >"$work/spy/potrace" <<EOF
#!/bin/sh
# Keeps the last call's arguments and bitmap, then runs the real potrace.
: >"$work/record/args"
for arg in "\$@"; do printf '%s\n' "\$arg" >>"$work/record/args"; done
for last in "\$@"; do :; done
cp "\$last" "$work/record/input.bmp"
exec "$potrace" "\$@"
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

# Bare potrace one file at a time over the folder, and a reset of the output folders.
{
  echo '#!/bin/sh'
  for bmp in "$work"/folder/*.bmp; do
    echo "$potrace -s -o $work/out/folder-po/$(basename "$bmp" .bmp).svg $bmp"
  done
} >"$work/folder.potrace"
printf '#!/bin/sh\nrm -rf %s/out/folder-tw %s/out/folder-po %s/out/pdf\nmkdir -p %s/out/folder-tw %s/out/folder-po %s/out/pdf\nrm -f %s/out/*.svg\n' \
  "$work" "$work" "$work" "$work" "$work" "$work" "$work" >"$work/reset"
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
measure potrace-folder "$work/folder.potrace"
measure tw-folder-jobs1 env TRACEWRIGHT_JOBS=1 "$tw" "$work/folder" "$work/out/folder-tw/*.svg"
measure tw-folder-jobs2 env TRACEWRIGHT_JOBS=2 "$tw" "$work/folder" "$work/out/folder-tw/*.svg"
measure tw-folder-jobs- env -u TRACEWRIGHT_JOBS "$tw" "$work/folder" "$work/out/folder-tw/*.svg"
if [ -f "$guide" ]; then
  measure tw-guide "$tw" "$guide" "$work/out/pdf/guide.svg"
fi
measure tw-blank500 "$tw" "$work/in/blank500.pdf" "$work/out/pdf/blank.svg"

# --- report -------------------------------------------------------------------------------
echo
printf '%-34s %12s %12s %8s %8s\n' case "potrace ms" "tracewright" ratio target
row() {  # label potrace-label tracewright-label column(2 wall, 3 cpu) target
  local p t r
  p=$(field "$2" "$4"); t=$(field "$3" "$4"); r=$(ratio "$t" "$p")
  printf '%-34s %12s %12s %8s %8s %s\n' "$1" "$p" "$t" "$r" "<= $5" "$(verdict "$r" "$5")"
}
row "logo PNG -> SVG (CPU)" potrace-logo tw-logo 3 1.5
row "letter 300 dpi BMP -> SVG (CPU)" potrace-letter tw-letter 3 1.15
row "200 files, TRACEWRIGHT_JOBS=1 (wall)" potrace-folder tw-folder-jobs1 2 0.6
row "200 files, TRACEWRIGHT_JOBS=2 (wall)" potrace-folder tw-folder-jobs2 2 0.6
row "200 files, TRACEWRIGHT_JOBS unset" potrace-folder tw-folder-jobs- 2 0.6
echo
printf 'tracewright -h: %s ms wall, %s ms CPU\n' "$(field tw-help 2)" "$(field tw-help 3)"
if [ -f "$guide" ]; then
  g=$(field tw-guide 2)
  printf 'GS9_Color_Management.pdf (42 pages) -> SVG: %s ms wall (target <= 2000) %s\n' \
    "$g" "$(verdict "$(ratio "$g" 2000)" 1)"
else
  echo "GS9_Color_Management.pdf not found under $corpus: skipped"
fi
b=$(field tw-blank500 2)
printf '500 blank pages -> SVG: %s ms wall (target <= 5000) %s\n' "$b" "$(verdict "$(ratio "$b" 5000)" 1)"
printf 'peak memory, 200-file folder: %s MiB\n' "$(peak "$tw" "$work/folder" "$work/out/folder-tw/*.svg")"
if [ -f "$guide" ]; then
  printf 'peak memory, 42-page guide: %s MiB\n' "$(peak "$tw" "$guide" "$work/out/pdf/guide.svg")"
fi
