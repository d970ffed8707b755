"""A small laboratory LAN for the attack benches: network namespaces joined by a bridge in a
namespace of its own, copies of the monitor without its window (tarnivo_discovery_host) in some
of them, and an attacker that sends UDP datagrams with any source address it likes. Every
address is in 198.18.0.0/15; nothing reaches the machine's own networks.

Run as a program inside a namespace for the attacker's and the victim's parts:
    lanlab.py spoof DEST FIRST_SOURCE COUNT PAYLOAD_HEX [--same-source] [--per-burst N]
                                                       [--pause-ms MS]
    lanlab.py count SECONDS          counts heartbeat replies arriving at UDP port 49497
"""

import atexit
import json
import os
import signal
import socket
import struct
import subprocess
import sys
import time

HEARTBEAT_PORT = 49497
HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(HERE))


def skip_without_root(what):
    """Prints SKIPPED and ends the program when namespaces cannot be made here."""
    ok = os.geteuid() == 0 and subprocess.run(
        ["ip", "netns", "list"], capture_output=True).returncode == 0
    if not ok:
        print(f"SKIPPED: {what} needs root to create network namespaces; nothing was measured")
        sys.exit(0)


def discovery_host():
    """The headless monitor of the build in BUILD_DIR (first argument, or build/)."""
    build = os.environ.get("BUILD_DIR") or (sys.argv[1] if len(sys.argv) > 1 else
                                            os.path.join(REPO, "build"))
    host = os.path.join(build, "tarnivo_discovery_host")
    if not os.access(host, os.X_OK):
        print(f"{host} not found: build the target tarnivo_discovery_host", file=sys.stderr)
        sys.exit(2)
    return host


def run(*args):
    subprocess.run(args, check=True)


class Lab:
    def __init__(self, prefix):
        self.prefix = prefix
        self.bridge_ns = prefix + "b"
        self.namespaces = []
        self.processes = []
        self.logs = {}
        self._remove(self.bridge_ns)
        atexit.register(self.close)
        signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
        run("ip", "netns", "add", self.bridge_ns)
        run("ip", "-n", self.bridge_ns, "link", "add", prefix + "br", "type", "bridge")
        run("ip", "-n", self.bridge_ns, "link", "set", prefix + "br", "up")

    @staticmethod
    def _remove(ns):
        subprocess.run(["ip", "netns", "del", ns], capture_output=True)

    def host(self, index, cidr):
        """A namespace with one link to the bridge, at the given address; its name."""
        ns = f"{self.prefix}{index}"
        self._remove(ns)
        run("ip", "netns", "add", ns)
        self.namespaces.append(ns)
        run("ip", "link", "add", ns + "a", "netns", ns, "type", "veth", "peer", "name",
            ns + "b", "netns", self.bridge_ns)
        run("ip", "-n", self.bridge_ns, "link", "set", ns + "b", "master", self.prefix + "br")
        run("ip", "-n", self.bridge_ns, "link", "set", ns + "b", "up")
        run("ip", "-n", ns, "addr", "add", cidr, "dev", ns + "a")
        run("ip", "-n", ns, "link", "set", ns + "a", "up")
        run("ip", "-n", ns, "link", "set", "lo", "up")
        # Forged sources off every subnet must reach the program, as they would from a router
        # that does not filter: the kernel's reverse-path check is left out of the measurement.
        for conf in ("all", "default", ns + "a"):
            run("ip", "netns", "exec", ns, "sysctl", "-qw", f"net.ipv4.conf.{conf}.rp_filter=0")
        return ns

    def monitor(self, ns, port, settings=None):
        """Starts a copy of the monitor in the namespace, with a machine-wide settings file if
        one is given, and waits until it accepts."""
        log = open(os.path.join("/tmp", f"{ns}.log"), "w+")
        process = subprocess.Popen(
            ["ip", "netns", "exec", ns, discovery_host(), str(port),
             os.path.join(REPO, "content"), *([settings] if settings else [])],
            stdout=log, stderr=subprocess.STDOUT)
        self.processes.append(process)
        self.logs[ns] = log
        for _ in range(100):
            log.seek(0)
            if log.read().startswith("listening"):
                return
            time.sleep(0.1)
        log.seek(0)
        raise RuntimeError(f"the monitor in {ns} did not start: {log.read()}")

    def python(self, ns, *args, background=False):
        command = ["ip", "netns", "exec", ns, sys.executable, os.path.abspath(__file__),
                   *map(str, args)]
        if background:
            return subprocess.Popen(command, stdout=subprocess.PIPE, text=True)
        return subprocess.run(command, check=True, stdout=subprocess.PIPE, text=True).stdout

    def get(self, ns, url):
        """A GET from inside a namespace; the body as text."""
        return subprocess.run(["ip", "netns", "exec", ns, "curl", "-s", "--max-time", "10", url],
                              check=True, stdout=subprocess.PIPE, text=True).stdout

    def close(self):
        for process in self.processes:
            if process.poll() is None:
                process.terminate()
        for process in self.processes:
            try:
                process.wait(5)
            except subprocess.TimeoutExpired:
                process.kill()
        self.processes = []
        for ns in self.namespaces + [self.bridge_ns]:
            self._remove(ns)
        self.namespaces = []


def ipv4(text):
    return struct.unpack("!I", socket.inet_aton(text))[0]


def dotted(number):
    return socket.inet_ntoa(struct.pack("!I", number))


def udp_packet(source, destination, payload):
    """An IPv4 datagram from and to the heartbeat port; the kernel fills in the IP checksum,
    and a UDP checksum of 0 means none."""
    udp = struct.pack("!HHHH", HEARTBEAT_PORT, HEARTBEAT_PORT, 8 + len(payload), 0) + payload
    header = struct.pack("!BBHHHBBH4s4s", 0x45, 0, 20 + len(udp), 0, 0, 64, socket.IPPROTO_UDP,
                         0, socket.inet_aton(source), socket.inet_aton(destination))
    return header + udp


def spoof(destination, first_source, count, payload, same_source, per_burst, pause_ms):
    raw = socket.socket(socket.AF_INET, socket.SOCK_RAW, socket.IPPROTO_RAW)
    raw.setsockopt(socket.SOL_SOCKET, socket.SO_BROADCAST, 1)
    first = ipv4(first_source)
    sent = 0
    for i in range(count):
        source = first_source if same_source else dotted(first + i)
        raw.sendto(udp_packet(source, destination, payload), (destination, 0))
        sent += 1
        # Paced, so that the receiver's socket buffer does not drop them before the program
        # sees them: the program is measured, not the kernel.
        if (i + 1) % per_burst == 0:
            time.sleep(pause_ms / 1000)
    print(json.dumps({"sent": sent, "bytes": sent * len(payload)}))


def count(seconds):
    listener = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("0.0.0.0", HEARTBEAT_PORT))
    listener.settimeout(0.1)
    replies, size, senders = 0, 0, {}
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        try:
            data, (sender, _) = listener.recvfrom(2048)
        except socket.timeout:
            continue
        if b"\nstrType:typeResponse\n" in data:
            replies += 1
            size += len(data)
            senders[sender] = senders.get(sender, 0) + 1
    print(json.dumps({"replies": replies, "bytes": size, "senders": senders}))


def metric(text, name):
    for line in text.splitlines():
        if line.startswith(name + " "):
            return int(float(line.split()[1]))
    return None


if __name__ == "__main__":
    role = sys.argv[1] if len(sys.argv) > 1 else ""
    if role == "spoof":
        options = sys.argv[6:]
        value = lambda flag, default: int(options[options.index(flag) + 1]) \
            if flag in options else default
        spoof(sys.argv[2], sys.argv[3], int(sys.argv[4]), bytes.fromhex(sys.argv[5]),
              "--same-source" in options, value("--per-burst", 50), value("--pause-ms", 5))
    elif role == "count":
        count(float(sys.argv[2]))
    else:
        print(__doc__, file=sys.stderr)
        sys.exit(2)
