#!/usr/bin/env bash
# The demo: starts the reference service on 127.0.0.1:8443, walks through the library's
# services with the qmrt tool in a scratch working directory, then stops what it started
# (by PID) and removes the scratch directory, also when a step fails or it is interrupted.
#   scripts/demo.sh [BUILD_DIR]   (default: build/release)
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-build/release}" && pwd)
qmrt=$build/tools/cli/qmrt
service=$build/tools/service/qmrt-service
host=127.0.0.1
port=8443  # the exchange's endpoint is fixed at build time: https://127.0.0.1:8443/service

if [ -t 1 ]; then
    bold=$'\e[1m' dim=$'\e[2m' reset=$'\e[0m'
else
    bold='' dim='' reset=''
fi

fail() {
    printf 'demo: %s\n' "$*" >&2
    exit 1
}

heading() { printf '\n%s== %s ==%s\n' "$bold" "$1" "$reset"; }
say() { printf '%s\n' "$*" | fold -s -w 88; }

# The arguments as they would be typed: quoted only where the shell needs it.
typed() {
    local words=() arg
    for arg in "$@"; do
        if [[ $arg =~ ^[A-Za-z0-9_./:=@%+-]+$ ]]; then
            words+=("$arg")
        else
            words+=("'${arg//\'/\'\\\'\'}'")
        fi
    done
    printf '%s' "${words[*]}"
}

# expect STATUS qmrt-ARGS...: shows the command, runs it, and stops the demo when it does
# not end with the expected status (0 done, 1 the service said no).
expect() {
    local expected=$1 status=0
    shift
    printf '%s$ qmrt %s%s\n' "$bold" "$(typed "$@")" "$reset"
    "$qmrt" "$@" 2>&1 || status=$?
    if [ "$status" -ne 0 ]; then printf '%s(exit status %d)%s\n' "$dim" "$status" "$reset"; fi
    [ "$status" -eq "$expected" ] || fail "qmrt $* ended with status $status, not $expected"
}

# wait_for FILE TEXT PID: until TEXT shows in FILE, while process PID lives (10 s at most).
wait_for() {
    local file=$1 text=$2 pid=$3 tries=0
    until grep -q "$text" "$file" 2>/dev/null; do
        kill -0 "$pid" 2>/dev/null || return 1
        tries=$((tries + 1))
        [ "$tries" -le 100 ] || return 1
        sleep 0.1
    done
}

[ -x "$qmrt" ] || fail "$qmrt is missing: build first (make build)"
[ -x "$service" ] || fail "$service is missing: build first (make build)"

service_pid=''
holder_pid=''
scratch=''
cleanup() {
    local status=$?
    local pid
    for pid in $holder_pid $service_pid; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    cd /
    if [ -n "$scratch" ]; then rm -rf "$scratch"; fi
    exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

if (exec 3<>"/dev/tcp/$host/$port") 2>/dev/null; then
    fail "port $port on $host is already in use; the library's exchange is built to reach" \
        "https://$host:$port/service, so stop whatever listens there and run the demo again"
fi

scratch=$(mktemp -d "${TMPDIR:-/tmp}/qmrt-demo-XXXXXX")
mkdir "$scratch/work"
cd "$scratch/work"

heading "qmrt demo"
say "The suite's programs call the qmrt library as plain C functions; the qmrt tool gives" \
    "the same services to the shell. Everything below runs in the scratch working directory" \
    "$scratch/work, where the library writes its trace file \"debug2\" and its lock files."

"$service" --host "$host" --port "$port" >"$scratch/service.out" 2>"$scratch/service.log" &
service_pid=$!
if ! wait_for "$scratch/service.out" "listening on" "$service_pid"; then
    cat "$scratch/service.log" >&2
    fail "qmrt-service did not start on $host:$port"
fi
say "Started qmrt-service in the background (PID $service_pid): $(cat "$scratch/service.out")"

heading "Dates: packed dates and day numbers"
say "A packed date is year * 10000 + month * 100 + day. Dates are computed through day" \
    "numbers (Julian Day Numbers), in which consecutive days have consecutive numbers."
expect 0 date jdn 20240228
expect 0 date shift 20240228 1
expect 0 date shift 20240228 2
say "2023 has no 29 February, so the day after 28 February is 1 March:"
expect 0 date shift 20230228 1
expect 0 date parts 2460370
say "Validation answers with the packed date, or says no (status 1):"
expect 0 date valid 2024 2 29
expect 1 date valid 2023 2 29

heading "Clock: the current date and time as texts"
say "qmrt now CODE prints the text of one of nine layouts (default 8):"
for code in 0 1 2 3 4 5 6 7 8; do
    printf '  %s$ qmrt now %d%s   %s\n' "$bold" "$code" "$reset" "$("$qmrt" now "$code")"
done
say "and --time the time of day as (hour + 10) * 10000 + minute * 100 + second:"
expect 0 now --time

heading "JSON: tokens and values by key"
cp "$repo/examples/data/reply.json" reply.json
say "The tokenizer turns a text into a flat table of tokens: kind, byte offsets, number of" \
    "direct children. This is examples/data/reply.json:"
expect 0 json tokens --width 36 reply.json
say "A value is read by its key, at any depth; objects and arrays come back as their text:"
expect 0 json get reply.json holder balance history
cp "$repo/data/twitter.json" twitter.json
say "A real document: data/twitter.json ($(($(wc -c <twitter.json) / 1024)) KiB, the one the tests and" \
    "benchmarks read too). Its first tokens, and how many there are:"
printf '%s$ qmrt json tokens --width 30 twitter.json | sed -n 1,6p%s\n' "$bold" "$reset"
"$qmrt" json tokens --width 30 twitter.json | sed -n 1,6p
printf '  ... %d tokens\n' "$(("$("$qmrt" json tokens twitter.json | wc -l)" - 1))"
printf '{"a": [1, 2}' >broken.json
say "Invalid JSON is reported with the status and the offset where the parse stopped" \
    "(broken.json holds {\"a\": [1, 2}):"
expect 1 json tokens broken.json

heading "Exchange with the web service"
say "qmrt call posts a JSON request to the service and reads values of its reply by key." \
    "This reference service echoes the request's members and adds status and served_at."
expect 0 call '{"account": "A-1029", "amount": 150000, "memo": "setoran tunai"}' \
    status served_at account amount
say "Every step of the exchange went to the trace file \"debug2\":"
sed 's/^/  | /' debug2
say "A key the reply does not have is a no, with the library's message:"
expect 1 call '{"account": "A-1029"}' balance

heading "Exclusion locks"
say "The suite's programs keep apart with byte-range locks on .LOCK and .VF_LOCK. A program" \
    "in user slot 3 holds one of the bytes 39 to 41; here qmrt plays it and keeps its lock:"
printf '%s$ qmrt lock 2 --slot 3 --hold &%s\n' "$bold" "$reset"
"$qmrt" lock 2 --slot 3 --hold >holder.out &
holder_pid=$!
wait_for holder.out "holding the locks" "$holder_pid" || fail "the lock holder did not start"
sed 's/^/  /' holder.out
say "Who holds what, read from the kernel's lock table and named by the byte map:"
expect 0 locks
say "tovrasel/kinsoret needs bytes 1 to 201, slot bytes included, so it is refused now:"
expect 1 lock 1
printf '%s$ kill %d%s\n' "$bold" "$holder_pid" "$reset"
kill "$holder_pid"
wait "$holder_pid" || fail "the lock holder ended with status $?"
holder_pid=''
expect 0 locks

heading "Done"
kill "$service_pid"
wait "$service_pid" || true
say "Stopped qmrt-service (PID $service_pid). Its request log:"
service_pid=''

sed 's/^/  | /' "$scratch/service.log"
say "The scratch directory goes with the end of the demo."
