#!/usr/bin/env bash
# The build matrix: the library, its tools and its tests built the ways distributions
# build them, each with warnings as errors, and the plain tests run in each. Cross builds
# for other architectures run their tests under qemu-user. Prints one summary row per
# entry (time, passed, failed and skipped tests) and every skipped test with its reason.
#   scripts/matrix.sh [ENTRY...]     (default: every entry; build folders in build/matrix)
set -uo pipefail
cd "$(dirname "$0")/.."
source_dir=$PWD
matrix=$source_dir/build/matrix
jobs=${JOBS:-$(nproc)}

declare -A description=(
  [gcc]="g++ 12, default build type, configured as a packager does"
  [clang14]="clang 14, default build type"
  [clang19]="clang 19, default build type"
  [gcc-sanitize]="g++ RelWithDebInfo, ASan+UBSan through CMAKE_*_FLAGS: the library and its tests build"
  [gcc-fortify]="g++ Release, -O3 -D_FORTIFY_SOURCE=3 -D_GLIBCXX_ASSERTIONS"
  [gcc-lto]="g++ with LTO, -flto=auto -ffat-lto-objects"
  [s390x]="s390x (big-endian) cross build, tests under qemu-user"
  [arm64]="arm64 cross build, tests under qemu-user"
  [i386]="i386 cross build, tests natively or under qemu-user"
)
all_entries=(gcc clang14 clang19 gcc-sanitize gcc-fortify gcc-lto s390x arm64 i386)
entries=("${@:-${all_entries[@]}}")
for entry in "${entries[@]}"; do
  [ -n "${description[$entry]:-}" ] || { echo "unknown entry: $entry" >&2; exit 2; }
done

scripts/install-deps.sh matrix || exit 1

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)

# Programs of another architecture run through qemu-user once binfmt_misc knows them.
enable_binfmt() {
  [ -e /proc/sys/fs/binfmt_misc/register ] ||
    "${sudo[@]}" mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc || return 1
  [ -e "/proc/sys/fs/binfmt_misc/qemu-$1" ] || "${sudo[@]}" update-binfmts --enable "qemu-$1"
}

# Whether this kernel runs i386 programs itself; some keep their 32-bit support off.
# If not, i386 programs run under qemu-i386, which Debian does not register on x86-64.
i386_emulator() {
  local probe=$matrix/i386-probe
  printf 'int main(void) { return 0; }\n' > "$probe.c"
  i686-linux-gnu-gcc -static -o "$probe" "$probe.c" >&2 || return 1
  if "$probe" 2>/dev/null; then return 0; fi
  echo "-DQMRT_TARGET_EMULATOR=qemu-i386-static"
  [ -e /proc/sys/fs/binfmt_misc/qemu-i386 ] && return 0
  printf '%s' ':qemu-i386:M:0:\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' |
    "${sudo[@]}" tee /proc/sys/fs/binfmt_misc/register >/dev/null
}

# The configure arguments of an entry, one a line.
arguments() {
  local flags
  case $1 in
    gcc) ;;
    clang14) printf '%s\n' -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ ;;
    clang19) printf '%s\n' -DCMAKE_C_COMPILER=clang-19 -DCMAKE_CXX_COMPILER=clang++-19 ;;
    gcc-sanitize)
      # A build only, and without the tools: make test runs the sanitized tests, and the
      # other entries build the tools.
      flags=-fsanitize=address,undefined
      printf '%s\n' -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQMRT_BUILD_TOOLS=OFF "-DCMAKE_C_FLAGS=$flags" \
        "-DCMAKE_CXX_FLAGS=$flags" "-DCMAKE_EXE_LINKER_FLAGS=$flags" \
        "-DCMAKE_SHARED_LINKER_FLAGS=$flags" ;;
    gcc-fortify)
      flags="-O3 -D_FORTIFY_SOURCE=3 -D_GLIBCXX_ASSERTIONS"
      printf '%s\n' -DCMAKE_BUILD_TYPE=Release "-DCMAKE_C_FLAGS=$flags" "-DCMAKE_CXX_FLAGS=$flags" ;;
    gcc-lto)
      flags="-flto=auto -ffat-lto-objects"
      printf '%s\n' "-DCMAKE_C_FLAGS=$flags" "-DCMAKE_CXX_FLAGS=$flags" \
        "-DCMAKE_EXE_LINKER_FLAGS=-flto=auto" "-DCMAKE_SHARED_LINKER_FLAGS=-flto=auto" ;;
    s390x | arm64 | i386)
      scripts/sysroot.sh "$1" "$matrix/sysroots/$1" >&2 || return 1
      case $1 in
        s390x) enable_binfmt s390x >&2 || return 1 ;;
        arm64) enable_binfmt aarch64 >&2 || return 1 ;;
        i386) i386_emulator || return 1 ;;
      esac
      printf '%s\n' "-DCMAKE_TOOLCHAIN_FILE=$source_dir/cmake/toolchains/debian-cross.cmake" \
        "-DQMRT_TARGET_ARCH=$1" "-DQMRT_SYSROOT=$matrix/sysroots/$1/root" ;;
  esac
  # The project's own builds: warnings are errors. Objects are cached between runs.
  printf '%s\n' -DQMRT_WERROR=ON -DCMAKE_C_COMPILER_LAUNCHER=ccache \
    -DCMAKE_CXX_COMPILER_LAUNCHER=ccache
}

# The reason a skipped test gave: the line after GoogleTest's "Skipped", or the line of a
# test that says "skipped: ..." itself.
skip_reason() {
  awk -v test="$2" '
    index($0, " Test: " test) && substr($0, index($0, " Test: ") + 7) == test { inside = 1 }
    inside && /^<end of output>$/ { exit }
    inside && after_skipped { print; found = 1; exit }
    inside && /: Skipped$/ { after_skipped = 1 }
    inside && /^skipped: / { sub(/^skipped: /, ""); print; found = 1; exit }
    END { if (!found) print "no reason given" }' "$1/Testing/Temporary/LastTest.log"
}

# Ninja schedules the many small compiles of a build with less overhead than make.
configure() {
  local dir=$1
  shift
  grep -qs '^CMAKE_GENERATOR:INTERNAL=Ninja$' "$dir/CMakeCache.txt" || rm -rf "$dir"
  cmake -S "$source_dir" -B "$dir" -G Ninja "$@"
}

mkdir -p "$matrix"
rows=() skips=() failed=0
for entry in "${entries[@]}"; do
  dir=$matrix/$entry log=$matrix/$entry.log
  echo "== $entry: ${description[$entry]}"
  start=$SECONDS
  status=ok passed=- failures=- skipped=-
  if ! mapfile -t args < <(arguments "$entry" 2>>"$log") || [ ${#args[@]} -eq 0 ]; then
    status="setup failed"
  elif ! configure "$dir" "${args[@]}" >"$log" 2>&1; then
    status="configure failed"
  elif ! cmake --build "$dir" -j "$jobs" >>"$log" 2>&1; then
    status="build failed"
  elif [ "$entry" != gcc-sanitize ]; then
    ctest --test-dir "$dir" -j "$jobs" --timeout 300 >"$dir/ctest.log" 2>&1
    total=$(sed -n 's/.* tests failed out of \([0-9]*\)$/\1/p' "$dir/ctest.log")
    failures=$(sed -n 's/.*, \([0-9]*\) tests failed out of .*/\1/p' "$dir/ctest.log")
    if [ -z "$total" ]; then
      status="tests did not run"
    else
      skipped=$(grep -c '(Skipped)$' "$dir/ctest.log")
      passed=$((total - failures - skipped))
      [ "$failures" -eq 0 ] || status="tests failed"
      # Each skipped test with the reason it gave.
      while read -r name; do
        skips+=("$entry: $name: $(skip_reason "$dir" "$name")")
      done < <(sed -n 's/^[[:space:]]*[0-9]* - \(.*\) (Skipped)$/\1/p' "$dir/ctest.log")
    fi
  fi
  [ "$status" = ok ] || { failed=1; echo "   $status: see $log${total:+ and $dir/ctest.log}"; }
  rows+=("$(printf '%-13s %-18s %5ss %7s %7s %7s' "$entry" "$status" $((SECONDS - start)) \
            "$passed" "$failures" "$skipped")")
  total=
done

echo
printf '%-13s %-18s %6s %7s %7s %7s\n' entry result time passed failed skipped
printf '%s\n' "${rows[@]}"
if [ ${#skips[@]} -gt 0 ]; then
  echo
  echo "skipped tests:"
  printf '  %s\n' "${skips[@]}"
fi
exit $failed
