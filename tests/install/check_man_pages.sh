#!/usr/bin/env bash
# Holds the installed reference pages (section 3) to the library they describe:
# - every exported name of the symbols file opens a page whose SYNOPSIS declares it, and
#   every page documents an exported name (the overview qmrt(3) lists them all);
# - each SYNOPSIS is the text of the header it includes (comments and spacing aside), and
#   compiles against the installed headers, where a declaration that differs from the
#   header's is a conflicting redeclaration, an error in C;
# - each EXAMPLE compiles and links against the installed library.
#   [CC=COMPILER] check_man_pages.sh MANDIR PKG_CONFIG_DIR SYMBOLS [PAGE...]
# MANDIR holds man3/; PKG_CONFIG_DIR holds the installed qmrt.pc. PAGEs ("QM_TODAY.3")
# limit the checks of each page to those; every name is looked up all the same. CC, with
# its flags, compiles (default cc); a cross build also sets PKG_CONFIG_LIBDIR to the .pc
# folders of its sysroot, so that no host .pc file is taken.
set -euo pipefail
mandir=$(cd "$1" && pwd) symbols=$3 cc=${CC:-cc}
if [ -n "${PKG_CONFIG_LIBDIR:-}" ]; then
    export PKG_CONFIG_LIBDIR=$2:$PKG_CONFIG_LIBDIR
else
    export PKG_CONFIG_PATH=$2
fi
shift 3
only=" $* "
includedir=$(pkg-config --variable=includedir qmrt)
work=$(mktemp -d "${TMPDIR:-/tmp}/qmrt-man-pages-XXXXXX")
trap 'rm -rf "$work"' EXIT

failed=0
fail() {
    echo "FAIL: $*"
    failed=1
}

# code SECTION < ROFF: the code blocks of one section of a page, as C text again.
code() {
    perl -ne '
        BEGIN { $want = shift }
        if (/^\.SH (.*)$/) { $in = $1 eq $want; next }
        next unless $in;
        if (/^\.nf/) { $block = 1; next }
        if (/^\.fi/) { $block = 0; next }
        next if !$block || /^\.(RS|RE)\b/;
        s/\\(\\|e|&|-|\(aq|\*\(Aq)/$1 eq "&" ? "" : $1 eq "-" ? "-" : $1 =~ m{aq|Aq} ? "\x27" : "\\"/ge;
        print' "$1"
}

# items < C_TEXT: the top-level declarations and definitions of a C text, one a line,
# comments and spacing dropped, as the text check compares them: what the compiler sees
# outside any conditional (the include guard aside), and #define lines.
items() {
    perl -e '
        local $/; $_ = <STDIN>;
        s{/\*.*?\*/}{ }gs; s{//[^\n]*}{}g;
        my ($depth, $text, @out) = (0, "");
        for (split /\n/) {
            if (/^\s*#\s*if/) { $depth++; next }
            if (/^\s*#\s*endif/) { $depth--; next }
            next if $depth > 1;
            if (/^\s*#\s*define\s+(.*)/) { push @out, "#define $1" unless $1 =~ /^QMRT_\w+_H\s*$/; next }
            next if /^\s*#/;
            $text .= "$_\n";
        }
        my ($braces, $item) = (0, "");
        for my $c (split //, $text) {
            $braces++ if $c eq "{"; $braces-- if $c eq "}";
            if ($c eq ";" && $braces == 0) { push @out, $item; $item = ""; next }
            $item .= $c;
        }
        for (@out) {
            s/\s+/ /g; s/^ | $//g;
            s/(?<=\W) | (?=\W)//g;  # a blank is kept only between two words
            print "$_\n" if length;
        }'
}

# declarations < C_TEXT: the text for the compiler: its #include and #define lines and its
# declarations, without the definitions of types (redefining a struct is an error even
# when it is the same).
declarations() {
    local text
    text=$(cat)
    grep -E '^\s*#\s*(include|define)' <<<"$text" || true
    items <<<"$text" | grep -vE '^#|^(typedef|enum|struct|union)\b' | sed 's/$/;/' || true
}

cflags=(-std=c99 -pedantic-errors -Wall -Wextra -Werror)
# The exported names, without the version nodes the file lists as well ("QMRT_0@QMRT_0").
mapfile -t names < <(sed -n '/^ \([^@]*\)@\1 /d; s/^ \([^@]*\)@[^ ]* .*/\1/p' "$symbols")

# Every exported name opens a page, which declares it.
declare -A page_of synopsis_of
for name in "${names[@]}"; do
    page=$mandir/man3/$name.3.gz
    if [ ! -e "$page" ]; then
        fail "no page for $name: man3/$name.3.gz"
        continue
    fi
    target=$(basename "$(realpath "$page")" .gz)
    page_of[$target]+=" $name"
    [ -n "${synopsis_of[$target]:-}" ] || synopsis_of[$target]=$(zcat "$page" | code SYNOPSIS | items)
    grep -qE "(^|\W)$name(\(|\[|$)" <<<"${synopsis_of[$target]}" ||
        fail "$target: the SYNOPSIS does not declare $name"
done

overview=$mandir/man3/qmrt.3.gz
[ -f "$overview" ] || fail "no overview page qmrt(3)"

for page in "$mandir"/man3/*.3.gz; do
    [ -L "$page" ] && continue
    name=$(basename "$page" .gz)
    [ "$only" = "  " ] || [[ "$only" == *" $name "* ]] || continue
    roff=$work/$name
    zcat "$page" >"$roff"
    if [ "$name" = qmrt.3 ]; then
        text=$(sed 's/\\f[BIRP]//g' "$roff")
        for listed in "${names[@]}"; do
            grep -qw -- "$listed" <<<"$text" || fail "qmrt.3 does not list $listed"
        done
    else
        [ -n "${page_of[$name]:-}" ] || fail "$name documents no exported name"
        for section in NAME SYNOPSIS DESCRIPTION 'RETURN VALUE' ERRORS CELLS EXAMPLE 'SEE ALSO'; do
            grep -qx ".SH $section" "$roff" || fail "$name has no $section section"
        done
    fi

    # The SYNOPSIS is the header's own text.
    code SYNOPSIS <"$roff" >"$work/$name.synopsis.h"
    headers=$(sed -n 's|^#include <\(qmrt/[a-z]*\.h\)>$|\1|p' "$work/$name.synopsis.h")
    [ -n "$headers" ] || fail "$name: the SYNOPSIS includes no header of the library"
    declared=$(for header in $headers; do
        if [ "$header" = qmrt/qmrt.h ]; then cat "$includedir"/qmrt/*.h; else cat "$includedir/$header"; fi
    done | items)
    while read -r item; do
        grep -qxF -- "$item" <<<"$declared" ||
            fail "$name: the SYNOPSIS differs from <$headers>: $item"
    done < <(items <"$work/$name.synopsis.h")

    # ... and compiles against the installed headers.
    declarations <"$work/$name.synopsis.h" >"$work/$name.synopsis.c"
    # shellcheck disable=SC2086
    if ! $cc "${cflags[@]}" -fsyntax-only -I"$includedir" "$work/$name.synopsis.c" \
        >"$work/$name.synopsis.log" 2>&1; then
        fail "$name: the SYNOPSIS does not compile against the installed headers:"
        sed 's/^/  /' "$work/$name.synopsis.log"
    fi

    # The EXAMPLE builds against the installed library.
    code EXAMPLE <"$roff" >"$work/$name.example.c"
    [ -s "$work/$name.example.c" ] || fail "$name has no example"
    # shellcheck disable=SC2046,SC2086
    if [ -s "$work/$name.example.c" ] &&
        ! $cc "${cflags[@]}" -o "$work/$name.example" "$work/$name.example.c" \
            $(pkg-config --cflags --libs qmrt) >"$work/$name.example.log" 2>&1; then
        fail "$name: the EXAMPLE does not build:"
        sed 's/^/  /' "$work/$name.example.log"
    fi
done

if [ "$failed" -eq 0 ]; then
    echo "man pages ok: ${#names[@]} exported names, each with its page, and qmrt(3)"
fi
exit "$failed"
