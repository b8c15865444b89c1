#!/usr/bin/env bash
# Makes a sysroot of Debian packages for another architecture, for cross builds and for
# running their tests: apt resolves the target's packages in a private state of its own
# (the host's package database is not touched), and they are unpacked, not installed.
#   scripts/sysroot.sh ARCH DIR    (ARCH: a Debian architecture, e.g. s390x, arm64, i386)
# The sysroot is DIR/root; it is made again only when the package list changes.
set -euo pipefail
arch=$1 dir=$(realpath -m "$2")
packages=(
  libc6-dev libstdc++-12-dev
  libcurl4-openssl-dev libssl-dev libgtest-dev libgmock-dev
  libcpp-httplib-dev nlohmann-json3-dev libcli11-dev
)
stamp="$arch ${packages[*]}"
[ -f "$dir/stamp" ] && [ "$(cat "$dir/stamp")" = "$stamp" ] && exit 0

rm -rf "$dir"
state=$dir/apt
mkdir -p "$state/lists/partial" "$state/cache/archives/partial" "$state/sources.list.d" \
         "$state/preferences.d"
touch "$state/status" "$state/sources.list"
# The host's Debian sources only: other repositories may not carry the architecture.
cp /etc/apt/sources.list.d/debian.sources "$state/sources.list.d/" 2>/dev/null ||
  cp /etc/apt/sources.list "$state/sources.list.d/debian.list"
apt=(apt-get -qq -o Debug::NoLocking=1 -o APT::Install-Recommends=0
     -o APT::Architecture="$arch" -o APT::Architectures::="$arch"
     -o Dir::State::status="$state/status" -o Dir::State::Lists="$state/lists"
     -o Dir::Cache="$state/cache" -o Dir::Etc::SourceList="$state/sources.list"
     -o Dir::Etc::SourceParts="$state/sources.list.d"
     -o Dir::Etc::PreferencesParts="$state/preferences.d")
"${apt[@]}" update
"${apt[@]}" install --download-only -y "${packages[@]}" >/dev/null

root=$dir/root
mkdir -p "$root"
for deb in "$state"/cache/archives/*.deb; do dpkg-deb -x "$deb" "$root"; done
# Links that point to absolute paths would leave the sysroot: make them relative.
find "$root" -type l -lname '/*' | while read -r link; do
  target=$(readlink "$link")
  ln -sfn "$(realpath -m --relative-to="$(dirname "$link")" "$root$target")" "$link"
done
rm -rf "$state/cache/archives"
echo "$stamp" > "$dir/stamp"
