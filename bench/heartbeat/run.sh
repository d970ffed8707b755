#!/bin/sh
# Heartbeat bench: how many requests per second the heartbeat thread answers, and whether it
# stays off the processor while nothing arrives (also while another program holds its port).
# Usage: bench/heartbeat/run.sh [seconds]   (Linux: reads /proc for the CPU time)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=${BUILD_DIR:-$here/../../build-bench-heartbeat}
seconds=${1:-3}

cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 >/dev/null
bench=$build/heartbeat_bench

"$bench" rate "$seconds"

# utime and stime, in clock ticks, of a running process (fields 14 and 15 of its stat line,
# counted after the command name, which may hold blanks).
cpu_ticks() {
    sed 's/.*) //' "/proc/$1/stat" | awk '{ print $12 + $13 }'
}

for mode in idle taken; do
    "$bench" "$mode" $((seconds + 2)) &
    pid=$!
    sleep 1 # start-up and the first bind are not idle time
    before=$(cpu_ticks "$pid")
    sleep "$seconds"
    after=$(cpu_ticks "$pid")
    wait "$pid"
    verdict="idle"
    [ "$before" = "$after" ] || verdict="BUSY"
    echo "$mode: utime+stime $before -> $after ticks over ${seconds} s: $verdict"
    [ "$verdict" = "idle" ]
done
