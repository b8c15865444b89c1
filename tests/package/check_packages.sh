#!/usr/bin/env bash
# Checks the Debian packages as files, without installing them: their names, fields and
# dependencies, their file lists, the library's exported names against its symbols file,
# the tools' versions and man pages from the packaged files, the library's reference
# pages, and lintian.
#   check_packages.sh PACKAGE_DIR
set -euo pipefail
packages=$(cd "$1" && pwd)
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
version=$(dpkg-parsechangelog -l "$source_dir/debian/changelog" -SVersion)
arch=$(dpkg --print-architecture)
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
work=$(mktemp -d "${TMPDIR:-/tmp}/qmrt-packages-XXXXXX")
trap 'rm -rf "$work"' EXIT

failed=0
fail() {
    echo "FAIL: $*"
    failed=1
}
deb() { echo "$packages/${1}_${version}_${arch}.deb"; }

# The three packages and nothing else.
expected_debs=$(printf '%s\n' libqmrt-dev libqmrt0 qmrt | sed "s/\$/_${version}_${arch}.deb/")
[ "$(cd "$packages" && ls ./*.deb | sed 's|^\./||' | sort)" = "$expected_debs" ] ||
    fail "packages in $packages: $(cd "$packages" && echo ./*.deb)"

# field PACKAGE NAME: one control field.
field() { dpkg-deb -f "$(deb "$1")" "$2"; }
# depends_on PACKAGE DEPENDENCY: DEPENDENCY (a package, with its version part if given)
# is one of the package's dependencies.
depends_on() {
    field "$1" Depends | tr ',' '\n' | sed 's/^ *//' | grep -qxF -- "$2" ||
        fail "$1 does not depend on $2: $(field "$1" Depends)"
}
depends_on_package() {
    field "$1" Depends | tr ',' '\n' | sed 's/^ *//; s/ .*//' | grep -qxF -- "$2" ||
        fail "$1 does not depend on $2: $(field "$1" Depends)"
}

for package in libqmrt0 libqmrt-dev qmrt; do
    [ "$(field $package Package)" = $package ] || fail "$package: Package field"
    [ "$(field $package Version)" = "$version" ] || fail "$package: Version field"
    [ "$(field $package Architecture)" = "$arch" ] || fail "$package: Architecture field"
done
# From the binary (dpkg-shlibdeps): the C and C++ run-times. Declared by the package:
# libcurl4, which the library loads on its first transfer and does not link.
for dependency in libc6 libstdc++6; do depends_on_package libqmrt0 $dependency; done
depends_on libqmrt0 "libcurl4 (>= 7.16.2)"
! field libqmrt0 Depends | grep -q libqmrt || fail "libqmrt0 depends on itself"
depends_on libqmrt-dev "libqmrt0 (= $version)"
[ "$(field libqmrt-dev Depends)" = "libqmrt0 (= $version)" ] ||
    fail "libqmrt-dev depends on more than libqmrt0: $(field libqmrt-dev Depends)"
depends_on qmrt "libqmrt0 (= $version)"
for dependency in libc6 libstdc++6 libssl3; do depends_on_package qmrt $dependency; done

# Programs built against the library depend on libqmrt0 of at least this version.
dpkg-deb -e "$(deb libqmrt0)" "$work/control"
[ "$(cat "$work/control/shlibs")" = "libqmrt 0 libqmrt0 (>= $version)" ] ||
    fail "libqmrt0 shlibs: $(cat "$work/control/shlibs")"
grep -qx 'activate-noawait ldconfig' "$work/control/triggers" || fail "libqmrt0: no ldconfig trigger"
for script in preinst postinst prerm postrm; do
    [ ! -e "$work/control/$script" ] || fail "libqmrt0 has a $script"
done

# The file lists, exactly (directories left out).
files_of() { dpkg-deb -c "$(deb "$1")" | awk '$1 !~ /^d/ { print $6 }' | sed 's|^\./|/|' | sort; }
expect_files() {
    local package=$1 expected
    expected=$(sed -e "s/@LIB@/usr\/lib\/$multiarch/" -e "s/@VERSION@/$version/" -e '/^$/d' |
        sed 's|^|/|' | sort)
    [ "$(files_of "$package")" = "$expected" ] ||
        fail "$package files:$(diff <(echo "$expected") <(files_of "$package") | sed 's/^/  /')"
}
expect_files libqmrt0 <<'LIST'
@LIB@/libqmrt.so.0
@LIB@/libqmrt.so.@VERSION@
usr/share/doc/libqmrt0/changelog.gz
usr/share/doc/libqmrt0/copyright
LIST
expect_files libqmrt-dev <<'LIST'
usr/include/qmrt/calendar.h
usr/include/qmrt/diag.h
usr/include/qmrt/http.h
usr/include/qmrt/json.h
usr/include/qmrt/locks.h
usr/include/qmrt/memory.h
usr/include/qmrt/qmrt.h
@LIB@/cmake/qmrt/qmrtConfig.cmake
@LIB@/cmake/qmrt/qmrtConfigVersion.cmake
@LIB@/cmake/qmrt/qmrtTargets-relwithdebinfo.cmake
@LIB@/cmake/qmrt/qmrtTargets.cmake
@LIB@/libqmrt.a
@LIB@/libqmrt.so
@LIB@/pkgconfig/qmrt.pc
usr/share/doc/libqmrt-dev/changelog.gz
usr/share/doc/libqmrt-dev/copyright
usr/share/man/man3/BASIC_LOCK_descriptor.3.gz
usr/share/man/man3/DQ_LOCKING.3.gz
usr/share/man/man3/QM_CPMEM_LONG.3.gz
usr/share/man/man3/QM_SYSDATE.3.gz
usr/share/man/man3/QM_SYSTIME.3.gz
usr/share/man/man3/QM_TODAY.3.gz
usr/share/man/man3/QM_callService.3.gz
usr/share/man/man3/QM_getJsonValue.3.gz
usr/share/man/man3/QMdatein.3.gz
usr/share/man/man3/QMleapyr.3.gz
usr/share/man/man3/VERIFY_LOCK_descriptor.3.gz
usr/share/man/man3/buf_concat.3.gz
usr/share/man/man3/buf_push.3.gz
usr/share/man/man3/buf_size.3.gz
usr/share/man/man3/buf_tostr.3.gz
usr/share/man/man3/fetch_data.3.gz
usr/share/man/man3/g_birt_size.3.gz
usr/share/man/man3/g_birt_temp.3.gz
usr/share/man/man3/g_shmfd.3.gz
usr/share/man/man3/g_slotnum.3.gz
usr/share/man/man3/g_timesec.3.gz
usr/share/man/man3/g_usernum.3.gz
usr/share/man/man3/g_wt.3.gz
usr/share/man/man3/jsmn_init.3.gz
usr/share/man/man3/jsmn_parse.3.gz
usr/share/man/man3/json_fetch.3.gz
usr/share/man/man3/json_getreply.3.gz
usr/share/man/man3/json_token_streq.3.gz
usr/share/man/man3/json_token_tostr.3.gz
usr/share/man/man3/json_tokenise.3.gz
usr/share/man/man3/log_die.3.gz
usr/share/man/man3/log_info.3.gz
usr/share/man/man3/mballc.3.gz
usr/share/man/man3/mbfree.3.gz
usr/share/man/man3/qm_calstr.3.gz
usr/share/man/man3/qm_errstr.3.gz
usr/share/man/man3/qmrt.3.gz
usr/share/man/man3/utdategi.3.gz
usr/share/man/man3/utdategj.3.gz
usr/share/man/man3/utdateij.3.gz
usr/share/man/man3/utdatejg.3.gz
usr/share/man/man3/utdateji.3.gz
usr/share/man/man3/utdateni.3.gz
usr/share/man/man3/utdatenj.3.gz
usr/share/man/man3/uttimesi.3.gz
usr/share/man/man3/write_debug2.3.gz
usr/share/man/man3/writefunction.3.gz
LIST
expect_files qmrt <<'LIST'
usr/bin/qmrt
usr/bin/qmrt-service
usr/share/bash-completion/completions/qmrt
usr/share/man/man1/qmrt.1.gz
usr/share/man/man1/qmrt-service.1.gz
usr/share/doc/qmrt/changelog.gz
usr/share/doc/qmrt/copyright
LIST

# The packaged files, unpacked side by side.
root=$work/root
for package in libqmrt0 libqmrt-dev qmrt; do dpkg-deb -x "$(deb $package)" "$root"; done
library=$root/usr/lib/$multiarch/libqmrt.so.0

# The library exports exactly the names of its symbols file, each with its version node
# ("log_die@QMRT_0"), and the nodes themselves (nm's "QMRT_0", the file's "QMRT_0@QMRT_0").
exported=$(nm -D --defined-only "$library" |
    awk '{ name = $3; sub(/@@/, "@", name); if (name !~ /@/) name = name "@" name; print name }' | sort)
listed=$(sed -n 's/^ \([^ ]*\) .*/\1/p' "$work/control/symbols" | sort)
names=$(grep -vc '^\(.*\)@\1$' <<<"$listed")
[ "$names" -eq 46 ] || fail "the symbols file lists $names names, not 46"
[ "$exported" = "$listed" ] ||
    fail "exports differ from the symbols file:$(diff <(echo "$listed") <(echo "$exported") | sed 's/^/  /')"
[ "$(readelf -d "$library" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')" = libqmrt.so.0 ] ||
    fail "SONAME of libqmrt.so.0"
! readelf -d "$library" | grep NEEDED | grep -q libcurl || fail "libqmrt.so.0 needs libcurl at start-up"

# The library never binds to its own exported functions, which a program may define too:
# no relocation of the shared library names one (a call through the PLT, an address handed
# to libcurl), no member of the archive calls one, and a member that defines an exported
# name defines nothing else, and one function or only cells, so that a program's namesake
# keeps that member out of a static link.
nm -D --defined-only "$library" |
    awk '$2 != "A" { sub(/@.*/, "", $3); print $3, ($2 == "T" ? "function" : "cell") }' >"$work/exported"
bound=$(readelf -rW "$library" | awk '
    NR == FNR { if ($2 == "function") f[$1]; next }
    NF >= 5 { sub(/@.*/, "", $5); if ($5 in f) print $5 }' "$work/exported" - | sort -u)
[ -z "$bound" ] || fail "libqmrt.so.0 binds to its exported functions:" $bound
members=$(nm -A --format=posix "$root/usr/lib/$multiarch/libqmrt.a" | awk '
    NR == FNR { kind[$1] = $2; next }
    $3 == "U" && ($2 in kind) && kind[$2] == "function" { print $1, "calls", $2 }
    $3 ~ /^[TDBRGS]$/ {
        names[$1] = names[$1] " " $2
        if ($2 in kind) { exported[$1]; count[$1, kind[$2]]++ } else own[$1]
    }
    END {
        for (m in exported)
            if ((m in own) || count[m, "function"] > 1 || (count[m, "function"] && count[m, "cell"]))
                print m, "defines", names[m]
    }' "$work/exported" -)
[ -z "$members" ] || fail "the library binds to its own faces:
$members"

# No search path of their own: the packaged tools find the library where the system does.
for binary in "$root/usr/bin/qmrt" "$root/usr/bin/qmrt-service" "$library"; do
    ! readelf -d "$binary" | grep -qE 'RPATH|RUNPATH' || fail "$binary has a search path"
done

# pkg-config finds the packaged headers and library from where qmrt.pc lies.
pc_path() { PKG_CONFIG_PATH=$root/usr/lib/$multiarch/pkgconfig pkg-config --variable="$1" qmrt; }
[ "$(realpath -m "$(pc_path includedir)")" = "$(realpath -m "$root/usr/include")" ] ||
    fail "qmrt.pc: includedir $(pc_path includedir)"
[ "$(realpath -m "$(pc_path libdir)")" = "$(realpath -m "$root/usr/lib/$multiarch")" ] ||
    fail "qmrt.pc: libdir $(pc_path libdir)"

export LD_LIBRARY_PATH=$root/usr/lib/$multiarch
[ "$("$root/usr/bin/qmrt" --version)" = "qmrt $version" ] || fail "qmrt --version"
[ "$("$root/usr/bin/qmrt-service" --version)" = "qmrt-service $version" ] ||
    fail "qmrt-service --version"
zcat "$root/usr/share/man/man1/qmrt.1.gz" >"$work/qmrt.1"
"$source_dir/tests/cli/check_docs.sh" "$root/usr/bin/qmrt" "$work/qmrt.1" \
    "$root/usr/share/bash-completion/completions/qmrt" || fail "qmrt's man page or completion"
zcat "$root/usr/share/man/man1/qmrt-service.1.gz" | grep -q '^\.SH OPTIONS' ||
    fail "qmrt-service's man page"
unset LD_LIBRARY_PATH

# A program's build finds the unpacked packages as it finds installed ones, from where
# qmrt.pc and the CMake package lie, and links and runs against them.
if ! report=$(PKG_CONFIG_PATH=$root/usr/lib/$multiarch/pkgconfig LD_LIBRARY_PATH=$root/usr/lib/$multiarch \
    "$source_dir/tests/install/check_consumers.sh" "$source_dir/tests/install/consumer" \
    "$work/consumers" cc "-DCMAKE_PREFIX_PATH=$root/usr" 2>&1); then
    fail "a program built on the packages:"
    echo "$report"
fi

# The reference pages: a page for every exported name, each SYNOPSIS the headers' and each
# EXAMPLE built against the packaged library.
"$source_dir/tests/install/check_man_pages.sh" "$root/usr/share/man" \
    "$root/usr/lib/$multiarch/pkgconfig" "$work/control/symbols" || fail "the reference pages"

# lintian on the source package and the three packages: no error and no warning.
changes=$packages/qmrt_${version}_${arch}.changes
if ! report=$(lintian --fail-on error,warning "$changes" 2>&1); then
    fail "lintian reports errors or warnings"
fi
grep -v 'root privileges' <<<"$report" || true

if [ "$failed" -eq 0 ]; then
    echo "packages ok: libqmrt0, libqmrt-dev and qmrt $version"
fi
exit "$failed"
