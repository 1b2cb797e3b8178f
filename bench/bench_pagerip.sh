#!/bin/sh
# Compares pagerip with mutool draw and pdftoppm (all writing PNG files) on a 10-page
# text PDF and a 10-page image PDF, at 150 and 300 dpi. Prints the best of 3 wall times.
# Usage: bench/bench_pagerip.sh [build folder]   (default: build)
set -eu

here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build}
pagerip=$build/pagerip
corpus=$here/../shared/corpus
runs=${RUNS:-3}

[ -x "$pagerip" ] || { echo "no pagerip in $build" >&2; exit 1; }
for tool in mutool pdftoppm python3; do
	command -v $tool >/dev/null || { echo "$tool is needed" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

python3 - "$work" "$corpus" <<'PY'
import os, struct, sys

work, corpus = sys.argv[1], sys.argv[2]

def write_pdf(path, page_objects):
    """page_objects: list of (content bytes, resources bytes, extra objects)."""
    objs = [None, None]
    kids = []
    for content, resources, extra in page_objects:
        first = len(objs) + 1
        kids.append(first)
        objs.append(b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources "
                    + resources(first + 2) + b" /Contents %d 0 R >>" % (first + 1))
        objs.append(b"<< /Length %d >>\nstream\n" % len(content) + content + b"\nendstream")
        objs.extend(extra)
    objs[0] = b"<< /Type /Catalog /Pages 2 0 R >>"
    objs[1] = b"<< /Type /Pages /Kids [" + b" ".join(b"%d 0 R" % k for k in kids) + b"] /Count %d >>" % len(kids)
    out = b"%PDF-1.4\n"
    offsets = []
    for i, o in enumerate(objs, 1):
        offsets.append(len(out))
        out += b"%d 0 obj\n" % i + o + b"\nendobj\n"
    xref = len(out)
    out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objs) + 1)
    out += b"".join(b"%010d 00000 n \n" % o for o in offsets)
    out += b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (len(objs) + 1, xref)
    open(path, "wb").write(out)

def jpeg_size(data):
    i = 2
    while i + 9 < len(data):
        marker, length = data[i + 1], struct.unpack(">H", data[i + 2:i + 4])[0]
        if marker in (0xC0, 0xC1, 0xC2):
            h, w = struct.unpack(">HH", data[i + 5:i + 9])
            return w, h, data[i + 9]
        i += 2 + length
    raise ValueError("no frame header")

# Image: a photograph filling each page.
photo = os.path.join(corpus, "jpg/good/pillow/xmp_test.jpg")
if os.path.exists(photo):
    jpeg = open(photo, "rb").read()
    w, h, comps = jpeg_size(jpeg)
    space = b"/DeviceRGB" if comps == 3 else b"/DeviceGray"
    pages = []
    for _ in range(10):
        image = (b"<< /Type /XObject /Subtype /Image /Width %d /Height %d /ColorSpace %s "
                 b"/BitsPerComponent 8 /Filter /DCTDecode /Length %d >>\nstream\n" % (w, h, space, len(jpeg))
                 + jpeg + b"\nendstream")
        pages.append((b"q 540 0 0 720 36 36 cm /Im0 Do Q",
                      lambda n: b"<< /XObject << /Im0 %d 0 R >> >>" % n, [image]))
    write_pdf(os.path.join(work, "image.pdf"), pages)

# Text fallback: ten pages of lines in the standard fonts.
pages = []
words = b"the quick brown fox jumps over a lazy dog while vectors trace every outline"
for p in range(10):
    lines = b"".join(b"BT /F1 10 Tf 54 %d Td (%d.%d %s) Tj ET\n" % (760 - 12 * i, p + 1, i, words) for i in range(60))
    pages.append((lines, lambda n: b"<< /Font << /F1 %d 0 R >> >>" % n,
                  [b"<< /Type /Font /Subtype /Type1 /BaseFont /Times-Roman >>"]))
write_pdf(os.path.join(work, "generated-text.pdf"), pages)
PY

# Text: ten pages of a real manual when the corpus is there.
manual=$corpus/pdf/good/debian-gnucobol3/gnucobol.pdf
if [ -f "$manual" ]; then
	mutool merge -o "$work/text.pdf" "$manual" 11-20
else
	mv "$work/generated-text.pdf" "$work/text.pdf"
fi

now_ms() { date +%s%3N; }

best_of() {
	best=
	for _ in $(seq $runs); do
		rm -rf "$work/out"; mkdir "$work/out"
		start=$(now_ms)
		"$@" >/dev/null 2>&1 || true
		elapsed=$(( $(now_ms) - start ))
		if [ -z "$best" ] || [ "$elapsed" -lt "$best" ]; then best=$elapsed; fi
	done
	count=$(ls "$work/out" | wc -l)
	bytes=$(du -sb "$work/out" | cut -f1)
	printf '%6d ms  %2d files  %6d KiB' "$best" "$count" $((bytes / 1024))
}

echo "pagerip $(stat -c %s "$pagerip") bytes; best of $runs runs, 10 pages, PNG output"
for pdf in text image; do
	[ -f "$work/$pdf.pdf" ] || { echo "$pdf: skipped (no source file)"; continue; }
	for dpi in 150 300; do
		echo "$pdf.pdf at $dpi dpi:"
		echo "  pagerip     $(best_of "$pagerip" -r $dpi "$work/$pdf.pdf" "$work/out/p.png")"
		echo "  mutool draw $(best_of mutool draw -q -r $dpi -o "$work/out/p%d.png" "$work/$pdf.pdf")"
		echo "  pdftoppm    $(best_of pdftoppm -r $dpi -png "$work/$pdf.pdf" "$work/out/p")"
	done
done

# The whole conversion: tracewright PDF -> SVG (pages rendered, thresholded at 240, traced)
# against the same done by hand with pdftoppm and potrace (grey pages, cut at 240/255).
tracewright=$build/tracewright
if [ -x "$tracewright" ] && command -v potrace >/dev/null; then
	by_hand() {
		pdftoppm -r 150 -gray "$work/$1.pdf" "$work/out/p"
		for page in "$work"/out/p*.pgm; do potrace -s -k 0.94 -o "${page%.pgm}.svg" "$page"; done
		rm -f "$work"/out/p*.pgm
	}
	echo "PDF to SVG at 150 dpi, whole conversion:"
	for pdf in text image; do
		[ -f "$work/$pdf.pdf" ] || continue
		echo "  $pdf: tracewright          $(best_of "$tracewright" "$work/$pdf.pdf" "$work/out/page.svg")"
		echo "  $pdf: pdftoppm + potrace   $(best_of by_hand "$pdf")"
	done
fi
