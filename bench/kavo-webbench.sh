#!/usr/bin/env bash
# kavo-webbench.sh DBDIR [SECONDS]: serves the database of DBDIR with the optimised native
# kavo web on loopback and measures it with wrk:
#   1. the search alone (kavo-searchbench, inline engine, median of 15 runs) for "report";
#   2. /query.json?q=report with 1 and 10 connections: requests/s and latency percentiles;
#   3. /other (no search) with 1 connection: the server's own time per request;
#   4. the same /query.json load while another client holds 1,000 idle connections.
# The database files are hard-linked into a scratch folder so that the settings file the
# service writes does not touch DBDIR. Needs out/native-release (cmake --preset
# native-release && cmake --build --preset native-release --target kavo kavo-searchbench).
set -euo pipefail
db=${1:?usage: kavo-webbench.sh DBDIR [SECONDS]}
secs=${2:-10}
root=$(cd "$(dirname "$0")/.." && pwd)
bin=$root/out/native-release/bin
work=$(mktemp -d /tmp/kavo-webbench.XXXXXX)
server_pid=
holder_pid=
cleanup() {
    [ -n "$holder_pid" ] && kill "$holder_pid" 2>/dev/null || true
    if [ -n "$server_pid" ]; then
        echo x >&8 || true
        for _ in $(seq 1 50); do kill -0 "$server_pid" 2>/dev/null || break; sleep 0.1; done
        kill "$server_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/db"
ln "$db/kavo.frs" "$db/kavo.nrs" "$work/db/" 2>/dev/null || cp "$db/kavo.frs" "$db/kavo.nrs" "$work/db/"
[ -f "$db/kavo.hid" ] && cp "$db/kavo.hid" "$work/db/"

echo "== search alone (inline engine)"
printf 'report\n' > "$work/q.txt"
"$bin/kavo-searchbench" "$work/db" "$work/q.txt" 15 | tail -n 3

mkfifo "$work/in"
"$bin/kavo" --dbdir "$work/db" web --ip 127.0.0.1 --port 0 < "$work/in" > "$work/out" 2>&1 &
server_pid=$!
exec 8>"$work/in"
for _ in $(seq 1 600); do grep -q "Press any key" "$work/out" && break; sleep 0.1; done
port=$(sed -n 's/.*started at [0-9.]*:\([0-9]*\)\..*/\1/p' "$work/out")
[ -n "$port" ] || { cat "$work/out"; exit 1; }
url="http://127.0.0.1:$port"
echo "== first request (loads the database)"
curl -s -o /dev/null -w "%{time_total} s, %{size_download} bytes\n" "$url/query.json?q=report"
curl -s "$url/query.json?q=report&to=2"; echo

run() {
    echo "== wrk -c$1 $2"
    wrk -t"$(( $1 < 2 ? 1 : 2 ))" -c"$1" -d"${secs}s" --latency "$url$2" |
        grep -E "Requests/sec|Latency  |50%|75%|90%|99%|requests in|Non-2xx|Socket errors"
}
run 1 "/query.json?q=report"
run 10 "/query.json?q=report"
run 1 "/other"

echo "== 1,000 idle connections held by another client"
python3 - "$port" <<'PY' &
import socket, sys, time
socks = []
for _ in range(1000):
    s = socket.create_connection(("127.0.0.1", int(sys.argv[1])))
    socks.append(s)
print("holding", len(socks), "idle connections", flush=True)
time.sleep(3600)
PY
holder_pid=$!
sleep 3
run 10 "/query.json?q=report"
