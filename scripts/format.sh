#!/usr/bin/env bash
# The C and C++ sources as .clang-format lays them out.
#   scripts/format.sh check   fails, naming each file, when one would change
#   scripts/format.sh fix     rewrites them in place
set -euo pipefail
cd "$(dirname "$0")/.."
mode=${1:-check}
patterns=('*.c' '*.h' '*.cpp' '*.hpp' '*.ipp')
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  mapfile -t files < <(git ls-files -- "${patterns[@]}")
else
  mapfile -t files < <(find . -path ./build -prune -o -type f \( -name '*.c' -o -name '*.h' \
    -o -name '*.cpp' -o -name '*.hpp' -o -name '*.ipp' \) -print | sort)
fi
case "$mode" in
  fix) clang-format -i "${files[@]}" ;;
  check)
    changed=()
    for file in "${files[@]}"; do
      clang-format --dry-run --Werror "$file" >/dev/null 2>&1 || changed+=("$file")
    done
    if [ ${#changed[@]} -gt 0 ]; then
      printf 'not formatted as .clang-format says (scripts/format.sh fix mends them):\n' >&2
      printf '  %s\n' "${changed[@]}" >&2
      exit 1
    fi
    echo "format ok: ${#files[@]} files" ;;
  *) echo "usage: $0 [check|fix]" >&2; exit 2 ;;
esac
