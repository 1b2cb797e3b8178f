#!/usr/bin/env bash
# Converts every good corpus file with two builds of tracewright, with the default engine and
# with -method2, and checks that both builds give byte-identical vector files and hand
# byte-identical bitonal bitmaps to potrace. Standard error is kept beside, not compared: the
# reasons it gives may be worded differently from build to build.
# Usage: bench/compare_conversions.sh OLD_BUILD_DIR NEW_BUILD_DIR [CORPUS_DIR]
# Needs potrace on PATH (or TW_POTRACE=/path/to/potrace). KEEP=1 keeps the work folder.
# METHODS (default "default method2") chooses the methods; FORMATS (default: every format
# folder) the corpus folders, for instance FORMATS="bmp gif jpg pcx png pnm tga tif".
# Each run's standard output and exit status are compared too. Then whole batches (a folder,
# a pattern, multi-page and multi-frame files) run at TRACEWRIGHT_JOBS=1, 2 and 8 (BATCH_JOBS),
# and their outputs, standard output and exit status must be the same in both builds and at
# every number of engines; standard error is compared there and any difference listed.
# BATCHES=0 leaves the batches out, SINGLES=0 the one-file runs; MATCH (a grep pattern) keeps
# only the inputs whose path matches; TIMEOUT (default 120) is the seconds one run may take.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
[[ $# -ge 2 ]] || { echo "usage: $0 OLD_BUILD_DIR NEW_BUILD_DIR [CORPUS_DIR]" >&2; exit 2; }
old=$(cd "$1" && pwd)
new=$(cd "$2" && pwd)
corpus=$(cd "${3:-$root/../shared/corpus}" && pwd)
real_potrace=${TW_POTRACE:-$(command -v potrace)}
jobs=${JOBS:-2}
# One engine at a time inside each run, so that the kept bitmaps are numbered in page order.
export TRACEWRIGHT_JOBS=1

work=$(mktemp -d)
if [[ -z ${KEEP:-} ]]; then trap 'rm -rf "$work"' EXIT; else echo "work folder: $work"; fi

# A copy of each program with a potrace beside it that keeps the bitmap it is given (the
# last argument, or standard input when that is "-") under $TW_KEEP_BITMAP.<n>.bmp and then
# runs the real potrace on it. An engine beside the program is used instead of the one it
# carries.
for side in old new; do
  build=$old; [[ $side == new ]] && build=$new
  mkdir -p "$work/$side/bin"
  cp "$build/tracewright" "$work/$side/bin/"
  cat > "$work/$side/bin/potrace" <<EOF
#!/usr/bin/env bash
if [[ -n \${TW_KEEP_BITMAP:-} ]]; then
  n=0
  while [[ -e \$TW_KEEP_BITMAP.\$n.bmp ]]; do n=\$((n + 1)); done
  kept=\$TW_KEEP_BITMAP.\$n.bmp
  if [[ \${@: -1} == - ]]; then cat >"\$kept"; exec "$real_potrace" "\$@" <"\$kept"; fi
  cp "\${@: -1}" "\$kept"
fi
exec "$real_potrace" "\$@"
EOF
  chmod +x "$work/$side/bin/potrace"
done

# <format>/good/...; the reference renderings under ref/ and srcref/ are not inputs.
find "$corpus" -path "$corpus/*/good/*" -not -path "$corpus/ref/*" -not -path "$corpus/srcref/*" \
  -type f | sort > "$work/inputs.all"
if [[ -n ${FORMATS:-} ]]; then
  : > "$work/inputs"
  for format in $FORMATS; do grep "^$corpus/$format/" "$work/inputs.all" >> "$work/inputs" || true; done
else
  cp "$work/inputs.all" "$work/inputs"
fi
if [[ -n ${MATCH:-} ]]; then grep -e "$MATCH" "$work/inputs" > "$work/inputs.kept" || true; mv "$work/inputs.kept" "$work/inputs"; fi
methods=${METHODS:-default method2}
timeout=${TIMEOUT:-120}
total=$(wc -l < "$work/inputs")
echo "$total good files, methods: $methods, two builds"

# One input through one build: outputs under out/<side>/<key>/<method>/, bitmaps beside them.
convert_one() {
  local side=$1 input=$2 key method dir
  key=$(printf '%s' "${input#"$corpus"/}" | tr '/' '_')
  for method in $methods; do
    dir="$work/out/$side/$key/$method"
    mkdir -p "$dir"
    local extra=()
    [[ $method == method2 ]] && extra=(-method2)
    local status=0
    (cd "$dir" && TW_KEEP_BITMAP="$dir/bitmap" timeout "$timeout" "$work/$side/bin/tracewright" \
      "${extra[@]}" "$input" "$dir/out.svg" > "$dir/stdout" 2> "$dir/stderr") || status=$?
    echo "$status" > "$dir/status"
    # The printed lines name the output folder, which differs between the builds.
    sed -i -e "s|$work/out/$side/|OUT/|g" "$dir/stdout"
  done
}
export -f convert_one
export work corpus methods timeout

same=0
differ=0
if [[ ${SINGLES:-1} != 0 ]]; then
for side in old new; do
  echo "converting with the $side build..."
  xargs -d '\n' -P "$jobs" -I{} bash -c 'convert_one "$1" "$2"' _ "$side" {} < "$work/inputs"
done

converted=0
bitmaps=0
while IFS= read -r input; do
  key=$(printf '%s' "${input#"$corpus"/}" | tr '/' '_')
  if diff -r -q -x stderr "$work/out/old/$key" "$work/out/new/$key" > /dev/null; then
    same=$((same + 1))
  else
    differ=$((differ + 1))
    echo "DIFFERS: ${input#"$corpus"/}"
    diff -r -q -x stderr "$work/out/old/$key" "$work/out/new/$key" | sed 's/^/  /' | head -5 || true
  fi
  if ls "$work/out/new/$key"/*/out*.svg > /dev/null 2>&1; then converted=$((converted + 1)); fi
  bitmaps=$((bitmaps + $(find "$work/out/new/$key" -name 'bitmap.*.bmp' | wc -l)))
done < "$work/inputs"

echo "identical: $same of $total files ($converted converted by the new build, $bitmaps bitmaps" \
  "handed to potrace); differing: $differ"
fi

# Whole batches: outputs/<side>/<batch>/<method>/<jobs>/ holds the outputs, stdout, stderr and
# status of one run; every run of a batch must give what the old build gives at one engine.
batch_differ=0
if [[ ${BATCHES:-1} != 0 ]]; then
  batch_jobs=${BATCH_JOBS:-1 2 8}
  # name, then the arguments (input, output) relative to the corpus and the output folder.
  batches=(
    "folder-gif|gif/good/gif-test-suite/gifs|@/"
    "folder-tif|tif/good/libtiff|@/*.svg"
    "folder-pdf|pdf/good/debian-groff-base|@/*.eps"
    "pattern-png|png/good/pngsuite/png/*.png|@/*.svg"
    "pattern-tif|tif/good/libtiff/*.tif*|@/*.dxf"
    "pages-pdf|pdf/good/debian-groff-base/typesetting.pdf|@/page.svg"
    "frames-gif|gif/good/gif-test-suite/gifs/$(ls "$corpus/gif/good/gif-test-suite/gifs" | head -1)|@/frame.svg"
  )
  run_batch() {
    local side=$1 name=$2 input=$3 output=$4 method=$5 jobs=$6 dir
    dir="$work/batch/$side/$name/$method/$jobs"
    mkdir -p "$dir/out"
    local extra=()
    [[ $method == method2 ]] && extra=(-method2)
    local status=0
    (cd "$dir" && TRACEWRIGHT_JOBS=$jobs timeout 1200 "$work/$side/bin/tracewright" "${extra[@]}" \
      "$corpus/$input" "${output//@/$dir/out}" > "$dir/stdout" 2> "$dir/stderr") || status=$?
    echo "$status" > "$dir/status"
    sed -i -e "s|$dir/out|OUT|g" -e "s|$corpus/|CORPUS/|g" "$dir/stdout" "$dir/stderr"
  }
  for entry in "${batches[@]}"; do
    IFS='|' read -r name input output <<< "$entry"
    for method in $methods; do
      for side in old new; do
        for jobs in $batch_jobs; do run_batch "$side" "$name" "$input" "$output" "$method" "$jobs"; done
      done
      reference="$work/batch/old/$name/$method/1"
      for side in old new; do
        for jobs in $batch_jobs; do
          dir="$work/batch/$side/$name/$method/$jobs"
          [[ $dir == "$reference" ]] && continue
          if ! diff -r -q -x stderr "$reference" "$dir" > /dev/null; then
            batch_differ=$((batch_differ + 1))
            echo "BATCH DIFFERS: $name $method, $side build at $jobs engines"
            diff -r -q -x stderr "$reference" "$dir" | sed 's/^/  /' | head -5 || true
          elif ! cmp -s "$reference/stderr" "$dir/stderr"; then
            echo "batch $name $method, $side build at $jobs engines: standard error differs"
            diff "$reference/stderr" "$dir/stderr" | sed 's/^/  /' | head -5 || true
          fi
        done
      done
      echo "batch $name $method: status $(cat "$reference/status"), $(ls "$reference/out" | wc -l) outputs," \
        "$(grep -c '^Processing' "$reference/stdout" || true) images"
    done
  done
fi
echo "batches differing: $batch_differ"
[[ $differ -eq 0 && $batch_differ -eq 0 ]]
