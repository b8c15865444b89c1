#!/usr/bin/env bash
# Builds the Debian source package and the packages libqmrt0, libqmrt-dev and qmrt with
# dpkg-buildpackage, from a copy of this tree as it stands (its tracked files and the new
# ones git does not ignore), so that the build writes nothing into the tree itself.
#   scripts/package.sh OUT     (the copy in OUT/qmrt; the packages, .dsc and .changes in OUT)
# DEB_BUILD_OPTIONS passes through: nocheck builds no test; JOBS sets the parallel builds.
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$1"
out=$(cd "$1" && pwd)
copy=$out/qmrt
rm -rf "$copy"
rm -f "$out"/*.deb "$out"/*.dsc "$out"/*.tar.* "$out"/*.changes "$out"/*.buildinfo
mkdir "$copy"

if git -C "$source_dir" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  # Tracked files deleted in the working tree are left out.
  git -C "$source_dir" ls-files -z --cached --others --exclude-standard |
    (cd "$source_dir" && while IFS= read -r -d '' file; do
       [ -e "$file" ] && printf '%s\0' "$file"
     done) |
    tar -C "$source_dir" --null -T - -cf - | tar -C "$copy" -xf -
else
  tar -C "$source_dir" --exclude=./build -cf - . | tar -C "$copy" -xf -
fi

cd "$copy"
dpkg-buildpackage -us -uc ${JOBS:+-J"$JOBS"}
