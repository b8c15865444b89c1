#!/usr/bin/env bash
# Installs the build into a temporary prefix, then builds and runs a C program against it
# with pkg-config and a plain cc, and as a C-only CMake project with find_package(qmrt),
# each against the shared library and the archive.
set -euo pipefail
build=$1 consumer=$2 work=$3
rm -rf "$work"
mkdir -p "$work/run"
cmake --install "$build" --prefix "$work/prefix" >/dev/null

for f in include/qmrt/qmrt.h lib/libqmrt.a lib/libqmrt.so lib/pkgconfig/qmrt.pc \
         lib/cmake/qmrt/qmrtConfig.cmake; do
  [ -e "$work/prefix/$f" ] || { echo "not installed: $f"; exit 1; }
done

export PKG_CONFIG_PATH="$work/prefix/lib/pkgconfig"
export LD_LIBRARY_PATH="$work/prefix/lib"
# shellcheck disable=SC2046
cc -std=c99 -o "$work/consumer-pc" "$consumer/consumer.c" $(pkg-config --cflags --libs qmrt)
(cd "$work/run" && "$work/consumer-pc")
# Static use: the archive needs libcurl (named in the private fields) and the C++ runtime.
[ "$(pkg-config --print-requires-private qmrt)" = libcurl ]
pkg-config --static --libs qmrt | grep -q -- -lstdc++
# shellcheck disable=SC2046
cc -std=c99 -o "$work/consumer-static" "$consumer/consumer.c" \
   $(pkg-config --cflags qmrt) "$work/prefix/lib/libqmrt.a" $(pkg-config --libs libcurl) -lstdc++ -lm
(cd "$work/run" && "$work/consumer-static")

cmake -S "$consumer" -B "$work/cmake-build" -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/cmake-build" >/dev/null
(cd "$work/run" && "$work/cmake-build/consumer")
(cd "$work/run" && "$work/cmake-build/consumer_static")
echo "install ok"
