#!/usr/bin/env bash
# Checks an installed tracewright package (default /usr/bin/tracewright) the way users run
# it: both tracing methods, a PDF of several pages, a folder batch, the failure lines, the
# delivery rules, and that a run writes nothing beside the program or its engines.
set -uo pipefail
export LC_ALL=C
program=${1:-/usr/bin/tracewright}
engines=${2:-/usr/libexec/tracewright}
here=$(cd "$(dirname "$0")/../.." && pwd)
logo=$here/samples/logo.png

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }
expect() { # description, then a command that must succeed
  local what=$1; shift
  if "$@"; then pass "$what"; else fail "$what"; fi
}

work=$(mktemp -d)
chmod 0755 "$work"
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
stamp=$work/stamp
touch "$stamp"
sleep 1

# Runs the program; its standard output, standard error and status land in out, err, rc.
run() {
  "$program" "$@" >"$work/out" 2>"$work/err"
  rc=$?
}

is_svg() { grep -q '<svg' "$1" 2>/dev/null; }

# A PDF of N pages, each with a square and a line of Helvetica, offsets computed exactly.
make_pdf() {
  local pages=$1 file=$2 pdf="%PDF-1.4"$'\n' kids="" i obj
  local -a objects offsets
  objects[1]="<< /Type /Catalog /Pages 2 0 R >>"
  for ((i = 0; i < pages; i++)); do kids+="$((3 + 2 * i)) 0 R "; done
  objects[2]="<< /Type /Pages /Kids [${kids}] /Count $pages >>"
  for ((i = 0; i < pages; i++)); do
    local content="0 g $((36 + 40 * i)) 36 72 72 re f BT /F1 24 Tf 36 200 Td (Page $((i + 1))) Tj ET"
    objects[$((3 + 2 * i))]="<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 300] /Contents $((4 + 2 * i)) 0 R /Resources << /Font << /F1 << /Type /Font /Subtype /Type1 /BaseFont /Helvetica >> >> >> >>"
    objects[$((4 + 2 * i))]="<< /Length ${#content} >>"$'\n'"stream"$'\n'"${content}"$'\n'"endstream"
  done
  local count=$((2 + 2 * pages))
  for ((obj = 1; obj <= count; obj++)); do
    offsets[$obj]=${#pdf}
    pdf+="$obj 0 obj"$'\n'"${objects[$obj]}"$'\n'"endobj"$'\n'
  done
  local xref=${#pdf}
  pdf+="xref"$'\n'"0 $((count + 1))"$'\n'"0000000000 65535 f "$'\n'
  for ((obj = 1; obj <= count; obj++)); do pdf+=$(printf '%010d 00000 n ' "${offsets[$obj]}")$'\n'; done
  pdf+="trailer"$'\n'"<< /Size $((count + 1)) /Root 1 0 R >>"$'\n'"startxref"$'\n'"$xref"$'\n'"%%EOF"$'\n'
  printf '%s' "$pdf" >"$file"
}

# Files the package installed are where the program looks for them.
expect "the program is installed" test -x "$program"
expect "pagerip is in the engine folder" test -x "$engines/pagerip"
expect "the second-method tracer is in the engine folder" test -x "$engines/tracewright-autotrace"
expect "no engine named autotrace is installed" test ! -e "$engines/autotrace"
for binary in "$program" "$engines/pagerip" "$engines/tracewright-autotrace"; do
  expect "$(basename "$binary") is linked dynamically, every library found" \
    bash -c "ldd '$binary' | grep -q 'libc.so' && ! ldd '$binary' | grep -q 'not found'"
done

# An autotrace on PATH (another program of that name) is never run.
mkdir -p "$work/path"
printf '#!/bin/sh\ntouch %s/path/ran\nexit 3\n' "$work" >"$work/path/autotrace"
chmod +x "$work/path/autotrace"

# The sample logo with both methods.
PATH=$work/path:$PATH run "$logo" logo.svg
expect "logo to SVG with potrace: status 1, an SVG" test "$rc" = 1 -a -s logo.svg
expect "logo.svg is an SVG" is_svg logo.svg
expect "job and progress lines" grep -qx 'Processing 1 of 1\.\.\.' out
PATH=$work/path:$PATH run -method2 "$logo" logo-colour.svg
expect "logo to SVG with the second method: status 1, an SVG" test "$rc" = 1 -a -s logo-colour.svg
expect "logo-colour.svg is an SVG" is_svg logo-colour.svg
expect "the autotrace on PATH was not run" test ! -e "$work/path/ran"
run -method2 -centerline "$logo" logo-lines.emf
expect "centre-lines to EMF" test "$rc" = 1 -a -s logo-lines.emf

# A PDF of three pages: three outputs, the later ones numbered.
make_pdf 3 doc.pdf
mkdir pages
run doc.pdf pages/doc.svg
expect "3-page PDF: status 1" test "$rc" = 1
expect "3-page PDF: three progress lines" test "$(grep -c '^Processing [123] of 3\.\.\.$' out)" = 3
expect "3-page PDF: doc.svg, doc000.svg, doc001.svg" \
  bash -c 'is() { grep -q "<svg" "$1"; }; is pages/doc.svg && is pages/doc000.svg && is pages/doc001.svg'
expect "3-page PDF: nothing else" test "$(ls pages | wc -l)" = 3
run -method2 doc.pdf pages/colour.svg
expect "3-page PDF with the second method" test "$rc" = 1 -a -s pages/colour001.svg

# A folder: every file in it, one failure line for the one that is not a picture, a summary.
mkdir in outdir
cp "$logo" in/a.png
cp "$logo" in/b.png
cp "$logo" in/c.png
echo "not a picture" >in/d.png
run in outdir/x.svg
expect "folder: a.svg, b.svg, c.svg" test -s outdir/a.svg -a -s outdir/b.svg -a -s outdir/c.svg
expect "folder: no output for the broken file" test ! -e outdir/d.svg
expect "folder: one failure line for it" grep -qx "tracewright: .*in/d.png: .*" err
expect "folder: the summary" grep -qx 'tracewright: 1 of 4 jobs failed' err
expect "folder: four job lines" test "$(grep -c ' ==> ' out)" = 4

# Failure lines: one line each, nothing written.
mkdir fails
run missing.png fails/missing.svg
expect "missing input: the failure line" grep -qx 'tracewright: missing.png: No such file or directory' err
run "$logo" fails/logo.emf
expect "EMF without -method2: the reason" grep -qx "tracewright: .*logo.png: potrace cannot write .emf files (-method2 writes emf)" err
printf '%%PDF-1.4\nbroken\n' >broken.pdf
run broken.pdf fails/broken.svg
expect "broken PDF: one failure line" test "$(grep -c '^tracewright: .*broken.pdf: ' err)" = 1
expect "failed jobs leave nothing behind" test -z "$(ls -A fails)"

# Delivery: an existing output is never overwritten; the next run takes the next free name.
before=$(md5sum <logo.svg)
run "$logo" logo.svg
expect "existing output kept, the new one numbered" test "$rc" = 1 -a -s logo000.svg
expect "the existing output is unchanged" test "$(md5sum <logo.svg)" = "$before"
expect "no temporary files left in the output folder" test -z "$(find . -name '.trw-*')"
TMPDIR=$work/tmp
mkdir "$TMPDIR"
TMPDIR=$TMPDIR run "$logo" tmpcheck.svg
expect "the run's temporary folder is removed" test -z "$(ls -A "$TMPDIR")"

# A user who cannot write beside the program converts all the same.
if [ "$(id -u)" = 0 ] && id nobody >/dev/null 2>&1; then
  mkdir -m 0777 nobody
  runuser -u nobody -- "$program" "$logo" nobody/logo.svg >/dev/null 2>nobody.err
  expect "as user nobody: the logo converted" test -s nobody/logo.svg
  runuser -u nobody -- "$program" doc.pdf nobody/doc.svg >/dev/null 2>>nobody.err
  expect "as user nobody: the PDF converted" test -s nobody/doc001.svg
fi

# Nothing was written beside the program or its engines.
written=$(find "$(dirname "$program")" "$engines" -maxdepth 1 -newer "$stamp" 2>/dev/null)
expect "nothing written beside the program or the engines" test -z "$written"
[ -n "$written" ] && echo "$written" >&2

if [ "$failures" -gt 0 ]; then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "installed package: every check passed"
