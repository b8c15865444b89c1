#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks the installed copy as a program's
# build uses it (check_consumers.sh).
#   check_install.sh BUILD CONSUMER WORK [CC [SYSROOT_PKG_CONFIG_DIRS [CMAKE_ARGS...]]]
# A cross build names its target's C compiler (with its flags), the pkg-config folders
# of its sysroot and the toolchain arguments of the consumer project.
set -euo pipefail
build=$1 consumer=$2 work=$3 cc=${4:-cc} target_pc_dirs=${5:-}
cmake_args=("${@:6}")
prefix=$work/prefix
rm -rf "$work"
cmake --install "$build" --prefix "$prefix" >/dev/null
libdir=$prefix/$(sed -n 's/^CMAKE_INSTALL_LIBDIR:[A-Z]*=//p' "$build/CMakeCache.txt")

if [ -n "$target_pc_dirs" ]; then
  # The target's own .pc files only, and none of the host's.
  export PKG_CONFIG_LIBDIR="$libdir/pkgconfig:$target_pc_dirs"
  cmake_args+=("-Dqmrt_DIR=$libdir/cmake/qmrt")
else
  export PKG_CONFIG_PATH="$libdir/pkgconfig"
fi
export LD_LIBRARY_PATH="$libdir"
"$(dirname "$0")/check_consumers.sh" "$consumer" "$work/consumers" "$cc" \
  "-DCMAKE_PREFIX_PATH=$prefix" "${cmake_args[@]}"
