#!/bin/sh
# Builds and runs the autotrace quality and speed bench.
# usage: bench/bench_autotrace.sh [BUILD-FOLDER]   (default: build)
set -e
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
c++ -O2 -std=c++20 -o "$work/bench_autotrace" "$here/bench_autotrace.cpp" -lpng
"$work/bench_autotrace" "$build/autotrace" "$work"
