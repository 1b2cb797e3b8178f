#!/usr/bin/env bash
# Builds the Debian package into build-deb/ (or the folder given as $1):
# tracewright_<version>_<arch>.deb, its -dbgsym package, .buildinfo and .changes.
# The version is CMakeLists.txt's project version; when debian/changelog is not at it yet,
# an entry for it is added first. The tests are left out of the package build: CI runs
# them on the default build and checks the installed package.
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:-build-deb}")

version=$(sed -n 's/^project(Tracewright VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[ -n "$version" ] || { echo "build-deb: no project version in CMakeLists.txt" >&2; exit 1; }
packaged=$(dpkg-parsechangelog -S Version)
if [ "$packaged" != "$version" ]; then
  maintainer=$(sed -n 's/^Maintainer: //p' debian/control)
  entry=$(mktemp)
  {
    printf 'tracewright (%s) unstable; urgency=medium\n\n' "$version"
    printf '  * Tracewright %s.\n\n' "$version"
    printf ' -- %s  %s\n\n' "$maintainer" "$(date -R)"
    cat debian/changelog
  } >"$entry"
  mv "$entry" debian/changelog
  echo "build-deb: debian/changelog now at $version (was $packaged); commit it with the release"
fi

# dpkg-buildpackage writes its results beside the source folder, so the package is built
# from a copy of the checkout (tracked and new files, not the build folders).
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
tree="$work/tracewright-$version"
mkdir "$tree"
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  git ls-files -z --cached --others --exclude-standard | xargs -0 cp --parents -a -t "$tree"
else
  tar -C . --exclude='./build*' -cf - . | tar -C "$tree" -xf -
fi

(cd "$tree" && DEB_BUILD_OPTIONS="nocheck parallel=$(nproc) ${DEB_BUILD_OPTIONS:-}" \
  dpkg-buildpackage -us -uc -b)

mkdir -p "$out"
rm -f "$out"/tracewright*_*.{deb,ddeb,buildinfo,changes}
mv "$work"/tracewright*_"$version"_* "$out"/
ls -1 "$out"
