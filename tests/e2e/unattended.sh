#!/usr/bin/env bash
# The monitor left alone, as a service from boot: started without a window and never shown a
# page, it keeps its history from the first second and describes its devices in /metrics at the
# first scrape; stopped and started again with the same state folder, the rows from before are
# still there, with a gap for the time it was not running.
#   tests/e2e/unattended.sh BUILD_DIR [SECONDS]   (default 70)
set -uo pipefail
build=${1:?build directory}
seconds=${2:-70}
state=$(mktemp -d)
log="$state/log"
pid=""
trap '[ -n "$pid" ] && kill "$pid" 2>/dev/null; rm -rf "$state"' EXIT
failures=0
check() { # description, command...
    local what=$1
    shift
    if "$@"; then echo "PASS: $what"; else echo "FAIL: $what"; failures=$((failures + 1)); fi
}

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
start() {
    : >"$log"
    "$build/tarnivo" --headless --port "$port" --state "$state/folder" 2>>"$log" &
    pid=$!
    for _ in $(seq 100); do
        grep -q serving "$log" && return 0
        kill -0 "$pid" 2>/dev/null || return 1
        sleep 0.1
    done
    return 1
}
stop() {
    kill -TERM "$pid"
    wait "$pid"
    local code=$?
    pid=""
    return $code
}
# The second rows of /history.json as "first-row-time rows largest-delta-ms".
rows() {
    curl -s --max-time 5 "http://127.0.0.1:$port/history.json" | python3 -c '
import json, sys
seconds = json.load(sys.stdin)["blocks"][1]
deltas = seconds["deltas"]
print(seconds["start"], len(deltas), max(deltas or [0]))'
}

check "the monitor starts without a window" start
metrics=$(curl -s --max-time 5 "http://127.0.0.1:$port/metrics")
check "the first scrape describes the adapters" grep -q '^tarnivo_network_info{' <<<"$metrics"
check "and the disks" grep -q '^tarnivo_disk_info{' <<<"$metrics"
sleep "$seconds"
read -r first count _ <<<"$(rows)"
echo "after ${seconds} s, nobody looking: $count one-second rows from $first"
check "the history holds a row for nearly every second" test "$count" -ge $((seconds - 10))
check "an orderly stop" stop

sleep 5
check "the monitor starts again with the same state folder" start
sleep 3
read -r again total gap <<<"$(rows)"
echo "after the restart: $total rows from $again, the longest step $gap ms"
check "the rows from before are still there" test "$again" = "$first" -a "$total" -gt "$count"
check "the time it was not running is a gap" test "$gap" -ge 5000
stop
[ $failures -eq 0 ] || cat "$log"
echo "unattended checks: $failures failed"
exit $((failures > 0))
