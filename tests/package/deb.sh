#!/usr/bin/env bash
# The Linux package: its files, its systemd unit (systemd-analyze verify), and the program
# started from the unpacked package, which must serve the dashboard and end on SIGTERM.
#   tests/package/deb.sh [dist/tarnivo_<version>_amd64.deb]   (default: scripts/linux-package)
set -uo pipefail
source_dir="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
deb="${1:-$("$source_dir/scripts/linux-package")}" || { echo "FAIL: no package"; exit 1; }

failures=0
not() { ! "$@"; }
check() { # description, command...
    local what=$1
    shift
    if "$@"; then echo "PASS: $what"; else echo "FAIL: $what"; failures=$((failures + 1)); fi
}

root=$(mktemp -d)
pid=""
trap '[ -n "$pid" ] && kill "$pid" 2>/dev/null; rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"
control=$(dpkg-deb -f "$deb")

check "the package holds the program, its web root, the unit and the menu entry" \
    test -x "$root/usr/bin/tarnivo" -a -s "$root/usr/share/tarnivo/content/assets/menu.html" \
    -a -f "$root/lib/systemd/system/tarnivo.service" -a -f "$root/usr/share/applications/tarnivo.desktop"
check "the machine-wide settings file is a conffile" \
    test "$(dpkg-deb -I "$deb" conffiles)" = /etc/tarnivo/tarnivo.ini -a -f "$root/etc/tarnivo/tarnivo.ini"
check "it depends on Qt's libraries" grep -q "^Depends:.*libqt6network6" <<<"$control"

unit="$root/lib/systemd/system/tarnivo.service"
check "the unit runs the program without a window on port 8080" \
    grep -qx "ExecStart=/usr/bin/tarnivo --headless --port 8080" "$unit"
for setting in NoNewPrivileges=yes ProtectSystem=strict CapabilityBoundingSet= DynamicUser=yes \
    StateDirectory=tarnivo; do
    check "the unit sets $setting" grep -qx "$setting" "$unit"
done
# verify checks that the program named in ExecStart exists, so a copy names the unpacked one.
mkdir -p "$root/verify"
sed "s|^ExecStart=/usr/bin/tarnivo|ExecStart=$root/usr/bin/tarnivo|" "$unit" >"$root/verify/tarnivo.service"
verify=$(systemd-analyze verify "$root/verify/tarnivo.service" 2>&1)
check "systemd-analyze verify accepts the unit" test -z "$verify"
[ -z "$verify" ] || echo "$verify"

# The program from the unpacked tree finds its web root in ../share/tarnivo/content, reads the
# shipped settings file without a word, and keeps its history where systemd tells it to.
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
log="$root/log"
STATE_DIRECTORY="$root/state" "$root/usr/bin/tarnivo" --headless --port "$port" \
    --config "$root/etc/tarnivo/tarnivo.ini" 2>"$log" &
pid=$!
for _ in $(seq 100); do
    grep -q serving "$log" && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
done
check "the packaged program starts and says where it serves from" \
    grep -qx "tarnivo: serving $root/usr/share/tarnivo/content on port $port" "$log"
check "the shipped settings file is read without a word" not grep -q "tarnivo.ini" "$log"
page=$(curl -s --max-time 5 "http://127.0.0.1:$port/assets/menu.html")
check "it serves the dashboard" grep -q "<html" <<<"$page"
status=$(curl -s --max-time 5 "http://127.0.0.1:$port/menu.xml?strRequest=requestInit:requestRead")
check "it serves the status document" grep -q "<Memory>" <<<"$status"
kill -TERM "$pid"
wait "$pid"
code=$?
pid=""
check "SIGTERM ends it with exit code 0" test "$code" -eq 0
check "its history is kept in \$STATE_DIRECTORY" test -s "$root/state/history.dat"
[ $failures -eq 0 ] || cat "$log"
echo "package checks: $failures failed"
exit $((failures > 0))
