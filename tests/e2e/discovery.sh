#!/usr/bin/env bash
# Discovery across machines, end to end: three copies of the monitor, each in a network
# namespace of its own, joined by a bridge in a fourth one, and a lone fourth copy on a network
# of its own; nothing reaches the machine's own networks (addresses in 198.18.0.0/15, the
# benchmarking range). The checks and the dashboard run inside the first namespace
# (tests/e2e/discovery.mjs), which also reaches the lone copy.
#   tests/e2e/discovery.sh BUILD_DIR [--docs]    (needs root for the namespaces)
set -euo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:?usage: discovery.sh BUILD_DIR [--docs]}" && pwd)
shift
host=$build/tarnivo_discovery_host
[ -x "$host" ] || { echo "$host not found: build the target tarnivo_discovery_host" >&2; exit 2; }

if [ "$(id -u)" -ne 0 ] || ! ip netns list >/dev/null 2>&1; then
    echo "SKIPPED: discovery end to end needs root to create network namespaces; nothing was tested"
    exit 0
fi

prefix=tvdis
bridge_ns=${prefix}b
names=("${prefix}0" "${prefix}1" "${prefix}2" "${prefix}3")
ports=(8081 8082 8083 8084)
logs=$(mktemp -d)
pids=()

remove_namespaces() {
    # Deleting a namespace also deletes the veth ends and the bridge inside it.
    for ns in "${names[@]}" "$bridge_ns"; do
        ip netns del "$ns" 2>/dev/null || true
    done
}
cleanup() {
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    wait 2>/dev/null || true
    remove_namespaces
    rm -rf "$logs"
}
trap cleanup EXIT
remove_namespaces # left over from an interrupted run

ip netns add "$bridge_ns"
ip -n "$bridge_ns" link add "${prefix}br" type bridge
ip -n "$bridge_ns" link set "${prefix}br" up
for i in 0 1 2; do
    ns=${names[$i]}
    ip netns add "$ns"
    ip link add "${ns}a" netns "$ns" type veth peer name "${ns}b" netns "$bridge_ns"
    ip -n "$bridge_ns" link set "${ns}b" master "${prefix}br"
    ip -n "$bridge_ns" link set "${ns}b" up
    ip -n "$ns" addr add "198.18.0.$((i + 1))/24" dev "${ns}a"
    ip -n "$ns" link set "${ns}a" up
    ip -n "$ns" link set lo up
done
# Beside the first copy, a bridge with no member, up without a carrier, as Docker leaves
# docker0: no round goes there, and an answer from its address is still this machine.
ip -n "${names[0]}" link add "${prefix}dk" type bridge
ip -n "${names[0]}" addr add 198.18.64.1/24 dev "${prefix}dk"
ip -n "${names[0]}" link set "${prefix}dk" up

# The lone copy's network is a link to an unbridged end in the bridge's namespace: nobody else
# is on it. The first namespace reaches its web server over a point-to-point pair (/32
# addresses), which no round is sent over.
lone=${names[3]}
ip netns add "$lone"
ip -n "$lone" link set lo up
ip link add "${lone}d" netns "$lone" type veth peer name "${lone}e" netns "$bridge_ns"
ip -n "$bridge_ns" link set "${lone}e" up
ip -n "$lone" addr add 198.18.1.1/24 dev "${lone}d"
ip -n "$lone" link set "${lone}d" up
ip link add "${lone}a" netns "$lone" type veth peer name "${lone}b" netns "${names[0]}"
ip -n "$lone" addr add 198.18.2.2/32 peer 198.18.2.1/32 dev "${lone}a"
ip -n "${names[0]}" addr add 198.18.2.1/32 peer 198.18.2.2/32 dev "${lone}b"
ip -n "$lone" link set "${lone}a" up
ip -n "${names[0]}" link set "${lone}b" up

for i in 0 1 2 3; do
    ip netns exec "${names[$i]}" "$host" "${ports[$i]}" "$repo/content" >"$logs/$i.log" 2>&1 &
    pids+=($!)
done
for i in 0 1 2 3; do
    for _ in $(seq 100); do
        grep -q '^listening' "$logs/$i.log" && break
        sleep 0.1
    done
    grep -q '^listening' "$logs/$i.log" || { echo "copy $i did not start:"; cat "$logs/$i.log"; exit 1; }
done

status=0
ip netns exec "${names[0]}" env TARNIVO_PEER_PIDS="${pids[*]}" \
    timeout 300 node "$repo/tests/e2e/discovery.mjs" "$@" || status=$?
if [ "$status" -ne 0 ]; then
    for i in "${!pids[@]}"; do
        kill -0 "${pids[$i]}" 2>/dev/null && state=running || state=ended
        echo "--- copy $i ($state):"
        tail -20 "$logs/$i.log"
    done
fi
exit $status
