#!/bin/sh
# Makes the second tracer's fixtures of pictures like users' own into OUT-FOLDER:
# anti-aliased renders of SVG art (our own in autotrace_fixtures/, icons and wallpapers
# Debian ships), photos from gnome-backgrounds, grey pages degraded like a scanner
# (rotation, blur, noise, dust), an anti-aliased line drawing and an enlarged sprite.
# Needs rsvg-convert, ImageMagick and gnome-backgrounds; a missing source skips its fixture.
# usage: bench/make_autotrace_fixtures.sh OUT-FOLDER
set -e
here=$(cd "$(dirname "$0")" && pwd)
out=${1:?usage: make_autotrace_fixtures.sh OUT-FOLDER}
mkdir -p "$out"
flat() { rsvg-convert -b white "$@"; }
for f in fox flag map lines; do flat "$here/autotrace_fixtures/$f.svg" -o "$out/$f.png"; done
cp "$here/../samples/logo.png" "$out/logo.png"
gvim=/usr/share/icons/hicolor/scalable/apps/gvim.svg
[ -f $gvim ] && flat -w 768 -h 768 $gvim -o "$out/gvim.png"
bg=/usr/share/backgrounds/gnome
[ -f $bg/blobs-l.svg ] && flat -w 1024 $bg/blobs-l.svg -o "$out/blobs.png"
[ -f $bg/truchet-l.webp ] && convert $bg/truchet-l.webp -resize 600x400^ -gravity center -extent 600x400 "$out/photo1.png"
[ -f $bg/wood-l.webp ] && convert $bg/wood-l.webp -resize 512x512^ -gravity center -extent 512x512 "$out/photo2.png"

# Pages of type as a flatbed scanner at 150 dpi sees them: a little rotated, blurred, grey
# ink on off-white paper, sensor noise and dust.
text="$out/text.txt"
i=0; : > "$text"
while [ $i -lt 60 ]; do
  echo "The quick brown fox jumps over the lazy dog; pack my box with five dozen liquor jugs. $i" >> "$text"
  i=$((i + 1))
done
# NAME-clean.png is the same page before the scanner: the shapes a trace should recover.
scan() {  # scan WIDTH HEIGHT POINTSIZE NAME
  convert -size "$1x$2" xc:'#f3f1ea' -fill '#1e1c1a' -font Times-Roman -pointsize "$3" \
    -annotate +60+80 "$(cat "$text")" -rotate 0.7 -gravity center -crop "$1x$2+0+0" +repage \
    -depth 8 -type TrueColor "$out/$4-clean.png"
  convert "$out/$4-clean.png" -blur 0x0.7 -attenuate 0.4 +noise Gaussian \
    -fill '#3a3836' -draw 'circle 300,500 301,501' -draw 'circle 900,1200 901,1201' -draw 'point 700,300' \
    -colorspace Gray -depth 8 -type TrueColor "$out/$4.png"
}
scan 1275 1650 17 letter
scan 1240 1754 16 a4
body=$(cat "$text")
convert -size 4000x4000 xc:white -fill black -font Helvetica -pointsize 20 -interline-spacing 4 \
  -annotate +40+40 "$body" -annotate +2000+40 "$body" -annotate +40+2000 "$body" -annotate +2000+2000 "$body" \
  -depth 8 -type TrueColor "$out/page4000-clean.png"
convert "$out/page4000-clean.png" -blur 0x0.5 -depth 8 -type TrueColor "$out/page4000.png"

# A sprite of 16 x 16 pixels, enlarged 16 times without smoothing.
awk 'BEGIN { print "P3 16 16 255";
  for (y = 0; y < 16; y++) for (x = 0; x < 16; x++) {
    d = (x - 7.5) * (x - 7.5) + (y - 7.5) * (y - 7.5);
    if (d < 20) c = "230 60 50"; else if (d < 40) c = "250 200 40"; else if (d < 56) c = "40 40 60"; else c = "120 200 240";
    if (x == 5 && y == 6 || x == 10 && y == 6) c = "255 255 255";
    print c } }' | convert ppm:- -scale 1600% "$out/sprite.png"
