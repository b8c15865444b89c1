#!/usr/bin/env bash
# Shows that the packages are reproducible: builds them twice, one build after the other,
# each from its own clone of the committed tree at another path, with another umask, time
# zone and locale, and compares the .deb files byte for byte.
#   scripts/package-repro.sh WORK     (the clones and their packages in WORK/one, WORK/two)
# The time of a build comes from debian/changelog (SOURCE_DATE_EPOCH, as dpkg-buildpackage
# sets it), not from the clock; the tests are left out of both builds.
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$1"
work=$(cd "$1" && pwd)
rm -rf "$work/one" "$work/two"
commit=$(git -C "$source_dir" rev-parse HEAD)

# build DIR UMASK TZ LOCALE: a clone of the commit in DIR, its packages in DIR/packages.
build() {
  local dir=$1
  git clone --quiet --no-hardlinks "$source_dir" "$dir/src"
  git -C "$dir/src" checkout --quiet "$commit"
  (umask "$2" && cd "$dir/src" &&
     TZ=$3 LC_ALL=$4 DEB_BUILD_OPTIONS="${DEB_BUILD_OPTIONS:-} nocheck" \
       scripts/package.sh "$dir/packages") >"$dir.log" 2>&1 ||
    { tail -n 30 "$dir.log"; echo "the build in $dir failed: see $dir.log"; exit 1; }
}
build "$work/one" 022 UTC C.UTF-8
build "$work/two/at/another/depth" 002 Pacific/Kiritimati C

failed=0
for deb in "$work"/one/packages/*.deb; do
  other=$work/two/at/another/depth/packages/${deb##*/}
  if cmp -s "$deb" "$other"; then
    sha256sum "$deb" | sed "s|$work/one/packages/||"
  else
    echo "differs: ${deb##*/}"
    failed=1
  fi
done
[ "$(ls "$work"/one/packages/*.deb | wc -l)" -eq 3 ] || { echo "not three packages"; failed=1; }
[ "$failed" -eq 0 ] && echo "reproducible: both builds of $commit gave the same packages, byte for byte"
exit "$failed"
