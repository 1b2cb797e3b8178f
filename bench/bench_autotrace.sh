#!/bin/sh
# Builds and runs the autotrace quality and speed bench against the installed potrace.
# Needs potrace, rsvg-convert and gs (which sets the page of type) on the PATH; the "real"
# part (pictures like users' own, see make_autotrace_fixtures.sh) also needs ImageMagick and
# gnome-backgrounds, and compares with vtracer when VTRACER_DIR names a folder where
# `npm install @neplex/vectorizer@0.1.0` was run (it is skipped otherwise).
# usage: bench/bench_autotrace.sh [BUILD-FOLDER [outline|centerline|timing|real]...]   (default: build, all)
set -e
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build}
[ $# -gt 0 ] && shift
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
c++ -O2 -std=c++20 -o "$work/bench_autotrace" "$here/bench_autotrace.cpp" -lpng
if [ $# -eq 0 ] || echo " $* " | grep -q " real "; then
  "$here/make_autotrace_fixtures.sh" "$work/fixtures"
  export AUTOTRACE_FIXTURES="$work/fixtures" VTRACER_SCRIPT="$here/vtracer_convert.mjs"
fi
"$work/bench_autotrace" "$build/autotrace" "$work" "$@"
