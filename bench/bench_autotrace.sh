#!/bin/sh
# Builds and runs the autotrace quality and speed bench against the installed potrace.
# Needs potrace, rsvg-convert and gs (which sets the page of type) on the PATH.
# usage: bench/bench_autotrace.sh [BUILD-FOLDER [outline|centerline|timing]...]   (default: build, all)
set -e
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build}
[ $# -gt 0 ] && shift
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
c++ -O2 -std=c++20 -o "$work/bench_autotrace" "$here/bench_autotrace.cpp" -lpng
"$work/bench_autotrace" "$build/autotrace" "$work" "$@"
