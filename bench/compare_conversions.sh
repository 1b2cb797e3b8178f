#!/usr/bin/env bash
# Converts every good corpus file with two builds of tracewright, with the default engine and
# with -method2, and checks that both builds give byte-identical vector files and hand
# byte-identical bitonal bitmaps to potrace. Standard error is kept beside, not compared: the
# reasons it gives may be worded differently from build to build.
# Usage: bench/compare_conversions.sh OLD_BUILD_DIR NEW_BUILD_DIR [CORPUS_DIR]
# Needs potrace on PATH (or TW_POTRACE=/path/to/potrace). KEEP=1 keeps the work folder.
# METHODS (default "default method2") chooses the methods; FORMATS (default: every format
# folder) the corpus folders, for instance FORMATS="bmp gif jpg pcx png pnm tga tif".
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
# last argument) under $TW_KEEP_BITMAP.<n>.bmp and then runs the real potrace. An engine
# beside the program is used instead of the one it carries.
for side in old new; do
  build=$old; [[ $side == new ]] && build=$new
  mkdir -p "$work/$side/bin"
  cp "$build/tracewright" "$work/$side/bin/"
  cat > "$work/$side/bin/potrace" <<EOF
#!/usr/bin/env bash
if [[ -n \${TW_KEEP_BITMAP:-} ]]; then
  n=0
  while [[ -e \$TW_KEEP_BITMAP.\$n.bmp ]]; do n=\$((n + 1)); done
  cp "\${@: -1}" "\$TW_KEEP_BITMAP.\$n.bmp"
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
methods=${METHODS:-default method2}
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
    (cd "$dir" && TW_KEEP_BITMAP="$dir/bitmap" timeout 120 "$work/$side/bin/tracewright" \
      "${extra[@]}" "$input" "$dir/out.svg" > "$dir/stdout" 2> "$dir/stderr") || true
    # The printed lines name the output folder, which differs between the builds.
    sed -i -e "s|$work/out/$side/|OUT/|g" "$dir/stdout"
  done
}
export -f convert_one
export work corpus methods

for side in old new; do
  echo "converting with the $side build..."
  xargs -d '\n' -P "$jobs" -I{} bash -c 'convert_one "$1" "$2"' _ "$side" {} < "$work/inputs"
done

same=0
differ=0
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
[[ $differ -eq 0 ]]
