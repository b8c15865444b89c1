#!/usr/bin/env bash
# Installs the Debian packages the build needs, and only those that are missing.
# Idempotent: with everything present it changes nothing and needs no network.
#   scripts/install-deps.sh [build|bench|matrix]   (default: build, which also runs the tests)
set -euo pipefail

group=${1:-build}
# What the build itself needs is the source package's Build-Depends (debian/control),
# without their versions, architectures and profiles; debhelper provides debhelper-compat.
mapfile -t packages < <(awk '
    /^[^ \t#]/ { field = /^Build-Depends:/; sub(/^Build-Depends:/, "") }
    field && !/^#/' "$(dirname "$0")/../debian/control" |
  tr ',' '\n' | sed 's/[[(<].*//; s/[[:space:]]//g; s/^debhelper-compat$/debhelper/' | grep .)
packages+=(
  make g++
  tzdata curl
  dpkg-dev file lintian autopkgtest  # making and checking the Debian packages
  abigail-tools  # the ABI check
  clang libclang-rt-14-dev
  clang-format  # the sources' layout, checked by make check and make test
)
case "$group" in
  build) ;;
  bench) packages+=(libbenchmark-dev libsimdjson-dev rapidjson-dev libcjson-dev) ;;
  # The build matrix: another compiler, cross compilers, user-mode emulation.
  matrix) packages+=(clang-19 g++-s390x-linux-gnu g++-aarch64-linux-gnu g++-i686-linux-gnu
                     qemu-user-static binfmt-support ninja-build ccache) ;;
  *) echo "usage: $0 [build|bench|matrix]" >&2; exit 2 ;;
esac

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "installing: ${missing[*]}"
sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
