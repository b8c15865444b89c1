#!/usr/bin/env bash
# The namesakes program (namesakes.c) built against the installed library, shared through
# pkg-config and static from the archive, makes an exchange and a fetch with the installed
# reference service: the library's services must not bind to the program's own names.
#   check_namesakes.sh WORK
# The service listens where the packages' library sends its exchange, 127.0.0.1:8443,
# which must be free.
set -euo pipefail
work=$1
source=$(cd "$(dirname "$0")" && pwd)/namesakes.c
rm -rf "$work"
mkdir -p "$work/run"

# shellcheck disable=SC2046
cc -std=c99 -o "$work/namesakes-shared" "$source" $(pkg-config --cflags --libs qmrt)
# shellcheck disable=SC2046
cc -std=c99 -o "$work/namesakes-static" "$source" $(pkg-config --cflags qmrt) \
   "$(pkg-config --variable=libdir qmrt)/libqmrt.a" -lstdc++ -lm

qmrt-service --host 127.0.0.1 --port 8443 >"$work/service.out" 2>"$work/service.log" &
service=$!
trap 'kill "$service" 2>/dev/null; wait "$service" 2>/dev/null || true' EXIT
for _ in $(seq 100); do
  grep -q 'listening on' "$work/service.out" && break
  kill -0 "$service" 2>/dev/null || { cat "$work/service.log"; exit 1; }
  sleep 0.1
done

expected='exchange 0: status=OK perintah=saldo
fetch: {"status":"OK"}
own names called 0 times'
for program in "$work/namesakes-shared" "$work/namesakes-static"; do
  got=$(cd "$work/run" && "$program" https://127.0.0.1:8443/health)
  [ "$got" = "$expected" ] || { printf '%s gave:\n%s\n' "$program" "$got"; exit 1; }
done
echo "namesakes ok: shared and static"
