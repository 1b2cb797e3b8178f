#!/usr/bin/env bash
# Installs what building, running and testing Tracewright needs on Debian 12.
set -euo pipefail
SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
packages=(
  # build
  build-essential cmake ninja-build pkg-config
  # image libraries
  zlib1g-dev libpng-dev libdeflate-dev libjpeg-dev libtiff-dev libopenjp2-7-dev libwebp-dev
  # the page renderer's PDF library (static) and what it links with
  libmupdf-dev libmujs-dev libgumbo-dev libjbig2dec0-dev libharfbuzz-dev libfreetype-dev
  # installed fonts for PDFs that name fonts they do not embed
  libfontconfig-dev
  # the outline tracer, embedded into the program
  potrace
  # tests: GoogleTest and renderers that read the vector outputs back
  libgtest-dev librsvg2-bin poppler-utils ghostscript emf2svg
  # tests: a CJK font for non-embedded Japanese text
  fonts-wqy-microhei
  # tests: spreading a batch over several jobs
  parallel
  # benchmarks: timing, and the by-hand pipelines they are measured against
  hyperfine netpbm
  # the Debian package: building, checking, its manual page
  debhelper dpkg-dev lintian man-db
)
installed=$(dpkg-query -W -f='${Status}\n' "${packages[@]}" 2>/dev/null | grep -c 'install ok installed' || true)
if [ "$installed" = "${#packages[@]}" ]; then
  exit 0
fi
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${packages[@]}"
