#!/usr/bin/env bash
# The shared library's ABI held to its baseline, abi/libqmrt.so.0.abi: the functions and
# cells the public headers declare, their types and the layouts of those types, as
# libabigail reads them from the library's debug information.
#   scripts/abi.sh check LIBRARY      any change fails with abidiff's report, but a new name,
#                                     which is reported
#   scripts/abi.sh baseline LIBRARY   writes the baseline anew: the deliberate step that
#                                     accepts the library's ABI as it is
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/.." && pwd)
baseline=$source_dir/abi/libqmrt.so.0.abi
headers=$source_dir/include/qmrt
[ $# -eq 2 ] || { echo "usage: $0 check|baseline LIBRARY" >&2; exit 2; }
mode=$1 library=$2
# What a program sees: the exported names the headers declare, and their types.
interface=(--headers-dir "$headers" --drop-private-types --exported-interfaces-only)

case $mode in
  baseline)
    # No paths of this checkout (translation units are named from the project's root), so
    # that the baseline is the same wherever it is made.
    abidw "${interface[@]}" --no-corpus-path --no-comp-dir-path --no-show-locs "$library" |
      sed "s|path='$source_dir/|path='|" >"$baseline.new"
    # A library without debug information gives its names alone, no type.
    grep -q "name='json_token'" "$baseline.new" ||
      { rm -f "$baseline.new"; echo "$library: no types read: is it built with -g?" >&2; exit 1; }
    mv "$baseline.new" "$baseline"
    echo "baseline written: ${baseline#"$source_dir"/}" ;;
  check)
    # The baseline holds the headers' interface alone, and the library is compared on it;
    # a library without debug information would be compared on its names alone.
    abidiff=(abidiff --exported-interfaces-only --fail-no-debug-info)
    if ! report=$("${abidiff[@]}" --no-added-syms "$baseline" "$library"); then
      echo "$report"
      echo "FAIL: the ABI of $library differs from ${baseline#"$source_dir"/}"
      exit 1
    fi
    # Only new names are left: allowed, and told.
    report=$("${abidiff[@]}" "$baseline" "$library") || echo "$report"
    echo "abi ok: ${library##*/} keeps the ABI of ${baseline#"$source_dir"/}" ;;
  *) echo "usage: $0 check|baseline LIBRARY" >&2; exit 2 ;;
esac
