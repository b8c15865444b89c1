#!/usr/bin/env bash
# The man page and the bash completion follow the tool's own help: every subcommand, at
# every depth, and every option of each must appear in both.
#   check_docs.sh QMRT ROFF_PAGE COMPLETION
set -euo pipefail
qmrt=$1 page=$2 completion=$3

# The page as text: font changes and roff's escapes taken out.
text=$(sed -e 's/\\f[BIRP]//g' -e 's/\\-/-/g' -e 's/\\&//g' "$page")
missing=0
need() {  # need WHERE TEXT: TEXT must occur in WHERE (page or completion)
    local haystack
    if [ "$1" = page ]; then haystack=$text; else haystack=$(cat "$completion"); fi
    if ! grep -qF -- "$2" <<<"$haystack"; then
        echo "missing from the $1: $2"
        missing=1
    fi
}

# Lines of one section ("Subcommands:", "Options:") of a help text, first words only.
section() {
    awk -v name="$1" '
        $0 == name { inside = 1; next }
        /^[^ ]/ { inside = 0 }
        inside && /^  [^ ]/ { print $1 }'
}

walk() {  # walk SUBCOMMAND...: checks the help of "qmrt SUBCOMMAND..." and descends
    local help option sub
    help=$("$qmrt" "$@" --help)
    [ $# -eq 0 ] || { need page "qmrt $*"; need completion "${!#}"; }
    for option in $(section Options: <<<"$help" | tr ',' ' '); do
        need page "$option"
        need completion "$option"
    done
    for sub in $(section Subcommands: <<<"$help"); do
        walk "$@" "$sub"
    done
}

walk
need page --version
need completion --version
[ "$missing" -eq 0 ] && echo "docs cover every subcommand and option"
exit "$missing"
