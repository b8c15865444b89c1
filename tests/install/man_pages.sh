#!/usr/bin/env bash
# Installs the build into a temporary prefix and holds its reference pages to the
# library (check_man_pages.sh); then shows that the check fails where it must, on copies
# of the pages with one link removed and with one prototype that differs from its header.
#   man_pages.sh BUILD_DIR SYMBOLS WORK [CC [SYSROOT_PKG_CONFIG_DIRS]]
# A cross build names its target's C compiler, with its flags, and the pkg-config folders
# of its sysroot; the examples are only built, never run.
set -euo pipefail
build=$1 symbols=$2 work=$3
export CC=${4:-cc}
[ -z "${5:-}" ] || export PKG_CONFIG_LIBDIR=$5
check=$(cd "$(dirname "$0")" && pwd)/check_man_pages.sh
rm -rf "$work"
mkdir -p "$work"
cmake --install "$build" --prefix "$work/prefix" >/dev/null
pc=$work/prefix/$(sed -n 's/^CMAKE_INSTALL_LIBDIR:[A-Z]*=//p' "$build/CMakeCache.txt")/pkgconfig

"$check" "$work/prefix/share/man" "$pc" "$symbols"

# must_fail MANDIR PAGE LINE...: the check of MANDIR, with PAGE checked in full, fails
# and reports each LINE.
must_fail() {
    local mandir=$1 page=$2 report line
    shift 2
    if report=$("$check" "$mandir" "$pc" "$symbols" "$page"); then
        echo "the check passed pages that are wrong: $mandir"
        exit 1
    fi
    for line in "$@"; do
        grep -qxF -- "$line" <<<"$report" || {
            echo "the check of $mandir does not report: $line"
            echo "$report"
            exit 1
        }
    done
}

cp -a "$work/prefix/share/man" "$work/missing"
rm "$work/missing/man3/utdategj.3.gz"
must_fail "$work/missing" utdateij.3 "FAIL: no page for utdategj: man3/utdategj.3.gz"

cp -a "$work/prefix/share/man" "$work/wrong"
page=$work/wrong/man3/QM_TODAY.3.gz
zcat "$page" | sed 's/^int32_t QM_TODAY(char \*destination, int16_t format);$/int32_t QM_TODAY(char *destination, int32_t format);/' |
    gzip -9n >"$page.new"
mv "$page.new" "$page"
must_fail "$work/wrong" QM_TODAY.3 \
    "FAIL: QM_TODAY.3: the SYNOPSIS differs from <qmrt/calendar.h>: int32_t QM_TODAY(char*destination,int32_t format)" \
    "FAIL: QM_TODAY.3: the SYNOPSIS does not compile against the installed headers:"
echo "the check fails on a missing page and on a prototype that differs from the header"
