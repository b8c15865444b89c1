#!/usr/bin/env bash
# Builds and runs a C program against an installed copy of the library: with pkg-config
# and a plain cc, and as a C-only CMake project with find_package(qmrt), each against the
# shared library and the archive. The program makes no transfer and checks that nothing
# of libcurl was loaded into it.
#   check_consumers.sh CONSUMER WORK [CC [CMAKE_ARGS...]]
# pkg-config finds the copy's qmrt.pc, and the dynamic linker its library, as the caller's
# environment says: in the system's folders for the installed packages. CC, with its
# flags, compiles (default cc); CMAKE_ARGS go to the consumer project.
set -euo pipefail
consumer=$1 work=$2 cc=${3:-cc}
cmake_args=("${@:4}")
rm -rf "$work"
mkdir -p "$work/run"

libdir=$(pkg-config --variable=libdir qmrt)
includedir=$(pkg-config --variable=includedir qmrt)
for f in "$includedir/qmrt/qmrt.h" "$libdir/libqmrt.a" "$libdir/libqmrt.so" \
         "$libdir/cmake/qmrt/qmrtConfig.cmake"; do
  [ -e "$f" ] || { echo "not installed: $f"; exit 1; }
done

# libcurl is loaded by the first transfer, not with the library: the library neither needs
# it nor names one of its functions for the dynamic linker.
library=$libdir/libqmrt.so
! readelf -d "$library" | grep NEEDED | grep -q libcurl || { echo "libqmrt.so needs libcurl"; exit 1; }
! readelf --dyn-syms -W "$library" | awk '$7 == "UND" { print $8 }' | grep -q '^curl_' ||
  { echo "libqmrt.so binds to libcurl"; exit 1; }

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
   $(pkg-config --cflags qmrt) "$libdir/libqmrt.a" -lstdc++ -lm
(cd "$work/run" && "$work/consumer-static")

cmake -S "$consumer" -B "$work/cmake-build" "${cmake_args[@]}" >/dev/null
cmake --build "$work/cmake-build" >/dev/null
(cd "$work/run" && "$work/cmake-build/consumer")
(cd "$work/run" && "$work/cmake-build/consumer_static")
echo "install ok"
