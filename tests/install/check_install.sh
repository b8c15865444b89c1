#!/usr/bin/env bash
# Installs the build into a temporary prefix, then builds and runs a C program against it
# with pkg-config and a plain cc, and as a C-only CMake project with find_package(qmrt),
# each against the shared library and the archive. The program makes no transfer and
# checks that nothing of libcurl was loaded into it.
#   check_install.sh BUILD CONSUMER WORK [CC [SYSROOT_PKG_CONFIG_DIRS [CMAKE_ARGS...]]]
# A cross build names its target's C compiler (with its flags), the pkg-config folders
# of its sysroot and the toolchain arguments of the consumer project.
set -euo pipefail
build=$1 consumer=$2 work=$3 cc=${4:-cc} target_pc_dirs=${5:-}
cmake_args=("${@:6}")
rm -rf "$work"
mkdir -p "$work/run"
cmake --install "$build" --prefix "$work/prefix" >/dev/null

for f in include/qmrt/qmrt.h lib/libqmrt.a lib/libqmrt.so lib/pkgconfig/qmrt.pc \
         lib/cmake/qmrt/qmrtConfig.cmake; do
  [ -e "$work/prefix/$f" ] || { echo "not installed: $f"; exit 1; }
done

# libcurl is loaded by the first transfer, not with the library: the library neither needs
# it nor names one of its functions for the dynamic linker.
library=$work/prefix/lib/libqmrt.so
! readelf -d "$library" | grep NEEDED | grep -q libcurl || { echo "libqmrt.so needs libcurl"; exit 1; }
! readelf --dyn-syms -W "$library" | awk '$7 == "UND" { print $8 }' | grep -q '^curl_' ||
  { echo "libqmrt.so binds to libcurl"; exit 1; }

if [ -n "$target_pc_dirs" ]; then
  # The target's own .pc files only, and none of the host's.
  export PKG_CONFIG_LIBDIR="$work/prefix/lib/pkgconfig:$target_pc_dirs"
  cmake_args+=("-Dqmrt_DIR=$work/prefix/lib/cmake/qmrt")
else
  export PKG_CONFIG_PATH="$work/prefix/lib/pkgconfig"
fi
export LD_LIBRARY_PATH="$work/prefix/lib"
# shellcheck disable=SC2046,SC2086
$cc -std=c99 -o "$work/consumer-pc" "$consumer/consumer.c" $(pkg-config --cflags --libs qmrt)
(cd "$work/run" && "$work/consumer-pc")
# Static use: the archive needs the C++ run-time, named in the private fields, and no
# package of its own (libcurl least of all).
[ -z "$(pkg-config --print-requires-private qmrt)" ]
pkg-config --static --libs qmrt | grep -q -- -lstdc++
! pkg-config --static --libs qmrt | grep -q curl
# shellcheck disable=SC2046,SC2086
$cc -std=c99 -o "$work/consumer-static" "$consumer/consumer.c" \
   $(pkg-config --cflags qmrt) "$work/prefix/lib/libqmrt.a" -lstdc++ -lm
(cd "$work/run" && "$work/consumer-static")

cmake -S "$consumer" -B "$work/cmake-build" -DCMAKE_PREFIX_PATH="$work/prefix" "${cmake_args[@]}" \
  >/dev/null
cmake --build "$work/cmake-build" >/dev/null
(cd "$work/run" && "$work/cmake-build/consumer")
(cd "$work/run" && "$work/cmake-build/consumer_static")
echo "install ok"
