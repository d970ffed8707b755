#!/usr/bin/env bash
# Alerts end to end, with real programs:
#  1. a monitor with a 3-second processor window and two busy loops posts ProcessorBusy firing,
#     then resolved once the loops end, to a webhook receiver of this test and to a real
#     Alertmanager (Debian's prometheus-alertmanager, on 127.0.0.1, clustering off), which
#     routes it to the same receiver;
#  2. two monitors in network namespaces of their own (198.18.5.0/24, joined by a veth pair):
#     one killed, the other's webhook gets MachineSilent, resolved when it answers again; the
#     same one stopped in order says goodbye, and no alert comes.
#   tests/e2e/alerts.sh BUILD_DIR [busy|silent]   (one part only; silent needs root for the
#   namespaces)
set -euo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:?usage: alerts.sh BUILD_DIR [busy|silent]}" && pwd)
part=${2:-}
program=$build/tarnivo
[ -x "$program" ] || { echo "$program not found: build the target tarnivo" >&2; exit 2; }
work=$(mktemp -d)
pids=()
prefix=tvalr
failed=0

cleanup() {
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    wait 2>/dev/null || true
    ip netns del "${prefix}a" 2>/dev/null || true
    ip netns del "${prefix}b" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

check() { # name, then a command that must succeed
    local name=$1
    shift
    if "$@"; then
        echo "ok   $name"
    else
        echo "FAIL $name"
        failed=1
    fi
}

# wait_for FILE PATTERN SECONDS [PATTERN...]: true once a line of FILE matches every PATTERN
# (grep -E; JSON keys come in any order).
wait_for() {
    local file=$1 first=$2 seconds=$3
    shift 3
    for _ in $(seq $((seconds * 5))); do
        lines=$(grep -E "$first" "$file" 2>/dev/null || true)
        for pattern in "$@"; do
            lines=$(grep -E "$pattern" <<<"$lines" || true)
        done
        [ -n "$lines" ] && return 0
        sleep 0.2
    done
    return 1
}

# The share of all processors' time in use over 3 s, in percent (/proc/stat's first line).
busy_share() {
    read -r _ u n s i w q sq st _ </proc/stat
    local busy1=$((u + n + s + q + sq + st)) total1=$((u + n + s + i + w + q + sq + st))
    sleep 3
    read -r _ u n s i w q sq st _ </proc/stat
    local busy2=$((u + n + s + q + sq + st)) total2=$((u + n + s + i + w + q + sq + st))
    echo $(((busy2 - busy1) * 100 / (total2 - total1 + 1)))
}

free_port() {
    python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# until SECONDS COMMAND...: true once COMMAND succeeds.
until_true() {
    local seconds=$1
    shift
    for _ in $(seq $((seconds * 2))); do
        "$@" && return 0
        sleep 0.5
    done
    return 1
}

# A receiver on 127.0.0.1 (of the namespace it runs in, when a command to enter one follows):
# each POST's path and body, one line.
receiver() { # port file, output file, [ip netns exec NS]
    "${@:3}" python3 - "$1" "$2" <<'EOF' &
import http.server, sys
port_file, out = sys.argv[1], sys.argv[2]
class Handler(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        body = self.rfile.read(int(self.headers.get('Content-Length', 0)))
        with open(out, 'a') as f:
            f.write(self.path + ' ' + body.decode('utf-8', 'replace').replace('\n', ' ') + '\n')
        self.send_response(200)
        self.send_header('Content-Length', '0')
        self.end_headers()
    def log_message(self, *args):
        pass
server = http.server.HTTPServer(('127.0.0.1', 0), Handler)
with open(port_file, 'w') as f:
    f.write(str(server.server_port))
server.serve_forever()
EOF
    pids+=($!)
    wait_for "$1" . 10
}

# --- 1. busy loops: the webhook and Alertmanager ---
busy() {
receiver "$work/hook.port" "$work/hook.log"
hook=$(cat "$work/hook.port")
manager=$(free_port)
cat >"$work/alertmanager.yml" <<EOF
route:
  receiver: test
  group_by: [alertname]
  group_wait: 1s
  group_interval: 1s
  repeat_interval: 1h
receivers:
  - name: test
    webhook_configs:
      - url: http://127.0.0.1:$hook/am
        send_resolved: true
EOF
prometheus-alertmanager --config.file="$work/alertmanager.yml" --storage.path="$work/am" \
    --web.listen-address="127.0.0.1:$manager" --cluster.listen-address= \
    --log.level=warn >"$work/am.log" 2>&1 &
pids+=($!)
port=$(free_port)
cat >"$work/busy.ini" <<EOF
[alerts]
processorSeconds=3
webhook=http://127.0.0.1:$hook/hook
alertmanager=http://127.0.0.1:$manager
EOF
"$program" --headless --port "$port" --config "$work/busy.ini" --state "$work/state" \
    --content "$repo/content" >"$work/tarnivo.log" 2>&1 &
pids+=($!)
wait_for "$work/tarnivo.log" "serving" 10
loops=()
for _ in 1 2; do
    timeout 12 sh -c 'while :; do :; done' &
    loops+=($!)
done
check "the webhook gets ProcessorBusy firing, as Alertmanager's payload version 4" \
    wait_for "$work/hook.log" '^/hook ' 30 '"status":"firing"' '"alertname":"ProcessorBusy"' '"version":"4"'
check "Alertmanager takes it and routes it on" \
    wait_for "$work/hook.log" '^/am ' 30 '"status":"firing"' '"alertname":"ProcessorBusy"'
curl -s "http://127.0.0.1:$manager/api/v2/alerts" | grep -q '"alertname":"ProcessorBusy"' ||
    { echo "FAIL Alertmanager's own list lacks ProcessorBusy"; failed=1; }
wait "${loops[@]}" 2>/dev/null || true
# A machine that other work keeps busy without the loops cannot see the alert resolve.
others=$(busy_share)
if [ "$others" -ge 80 ]; then
    echo "SKIPPED resolved: without the loops the processors are still ${others} % busy"
    return
fi
check "once the loops end: resolved, to the webhook and through Alertmanager" \
    wait_for "$work/hook.log" '^/am ' 90 '"status":"resolved"' '"alertname":"ProcessorBusy"'
wait_for "$work/hook.log" '^/hook ' 1 '"status":"resolved"' '"alertname":"ProcessorBusy"' ||
    { echo "FAIL the webhook got no resolved ProcessorBusy"; failed=1; }
}

# --- 2. a machine falls silent ---
silent() {
if [ "$(id -u)" -ne 0 ] || ! ip netns list >/dev/null 2>&1; then
    echo "SKIPPED: silent machines need root to create network namespaces"
    return
fi
a=${prefix}a
b=${prefix}b
ip netns del "$a" 2>/dev/null || true
ip netns del "$b" 2>/dev/null || true
ip netns add "$a"
ip netns add "$b"
ip link add "${a}0" netns "$a" type veth peer name "${b}0" netns "$b"
ip -n "$a" addr add 198.18.5.1/24 dev "${a}0"
ip -n "$b" addr add 198.18.5.2/24 dev "${b}0"
for ns in "$a" "$b"; do
    ip -n "$ns" link set lo up
done
ip -n "$a" link set "${a}0" up
ip -n "$b" link set "${b}0" up

# The watcher's receiver lives in its namespace, on its loopback.
receiver "$work/fleet.port" "$work/fleet.log" ip netns exec "$a"
cat >"$work/watch.ini" <<EOF
[alerts]
watchFleet=true
silentMinutes=1
webhook=http://127.0.0.1:$(cat "$work/fleet.port")/hook
EOF
ip netns exec "$a" "$program" --headless --port 8081 --config "$work/watch.ini" \
    --state "$work/state-a" --content "$repo/content" >"$work/a.log" 2>&1 &
pids+=($!)
start_b() {
    ip netns exec "$b" "$program" --headless --port 8082 --state "$work/state-b" \
        --content "$repo/content" >>"$work/b.log" 2>&1 &
    pid_b=$!
    pids+=($pid_b)
}
start_b
found() { ip netns exec "$a" curl -s http://127.0.0.1:8081/peers.json | grep -q '"198.18.5.2"'; }
check "the watcher finds the other machine" until_true 40 found

kill -KILL "$pid_b"
wait "$pid_b" 2>/dev/null || true
check "killed: the watcher's webhook gets MachineSilent for it" \
    wait_for "$work/fleet.log" '"status":"firing"' 120 '"alertname":"MachineSilent"' '"device":"198.18.5.2"'
start_b
check "back: MachineSilent resolves" \
    wait_for "$work/fleet.log" '"status":"resolved"' 60 '"alertname":"MachineSilent"'
before=$(grep -c MachineSilent "$work/fleet.log")
kill -TERM "$pid_b"
wait "$pid_b" 2>/dev/null || true
sleep 100
check "stopped in order: it said goodbye, and no alert came" \
    test "$(grep -c MachineSilent "$work/fleet.log")" -eq "$before"
}

[ "$part" = silent ] || busy
[ "$part" = busy ] || silent
[ "$failed" -eq 0 ] || for log in hook.log fleet.log tarnivo.log am.log a.log b.log; do
    [ -f "$work/$log" ] && { echo "--- $log:"; tail -c 3000 "$work/$log"; }
done
exit $failed
