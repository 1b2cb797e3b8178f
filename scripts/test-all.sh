#!/usr/bin/env bash
# Installs dependencies, builds, and runs every test: the full suite on an optimised build,
# then the unit tests and the fuzz corpora replayed under AddressSanitizer and
# UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
jobs=$(nproc)

scripts/build.sh build
(cd build && ctest --output-on-failure -j"$jobs")

cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=Sanitize -DTW_EMBED_ENGINES=OFF >/dev/null
ninja -C build-sanitize
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# Whole-program tests with the real engines run in the optimised build above.
(cd build-sanitize && ctest --output-on-failure -j"$jobs" -E 'EndToEnd|Engine|Pagerip')
