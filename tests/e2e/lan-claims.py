#!/usr/bin/env python3
"""Who may look, and who may speak for another network, against the real monitor in network
namespaces of its own (addresses in 198.18.0.0/15; nothing reaches the machine's own networks).
The monitor is on two networks: 198.18.0.1/24, shared with an attacker at 198.18.0.3 and a
Prometheus host at 198.18.0.4, and 198.18.8.1/24 behind it, with the loose reverse-path
filter usual on Linux. It lets in only 198.18.0.4 (web/allowedAddresses). What a local user
says in this machine's name is checked on loopback (tests/heartbeat).
    tests/e2e/lan-claims.py BUILD_DIR      (needs root; says SKIPPED without it)
"""
import json
import os
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..",
                                "bench", "lan-attacks"))
import lanlab  # noqa: E402

MONITOR = "http://198.18.0.1:8081"
failures = []


def check(what, condition, detail=""):
    print(("PASS   " if condition else "FAIL   ") + what + (f" ({detail})" if detail else ""))
    if not condition:
        failures.append(what)


def answer(port):
    return (b"Start:Heartbeat\nstrType:typeResponse\nstrCommand:commandPort\nintPort:%d\n"
            b"Stop:Heartbeat" % port).hex()


def fetch(lab_ns, url):
    """Status and body of a GET from inside a namespace."""
    out = subprocess.run(["ip", "netns", "exec", lab_ns, "curl", "-s", "--max-time", "10",
                          "-w", "\n%{http_code}", url],
                         check=True, stdout=subprocess.PIPE, text=True).stdout
    body, _, status = out.rpartition("\n")
    return int(status), body


def main():
    lanlab.skip_without_root("who may speak for this machine, end to end")
    lanlab.discovery_host()
    lab = lanlab.Lab("tvlc")
    monitor = lab.host(0, "198.18.0.1/24")
    attacker = lab.host(1, "198.18.0.3/24")
    prometheus = lab.host(2, "198.18.0.4/24")
    # The second network: a link to a namespace of its own.
    behind = "tvlc9"
    lanlab.run("ip", "netns", "add", behind)
    lab.namespaces.append(behind)
    lanlab.run("ip", "link", "add", "tvlc9a", "netns", monitor, "type", "veth", "peer", "name",
               "tvlc9b", "netns", behind)
    lanlab.run("ip", "-n", monitor, "addr", "add", "198.18.8.1/24", "dev", "tvlc9a")
    lanlab.run("ip", "-n", behind, "addr", "add", "198.18.8.2/24", "dev", "tvlc9b")
    lanlab.run("ip", "-n", monitor, "link", "set", "tvlc9a", "up")
    lanlab.run("ip", "-n", behind, "link", "set", "tvlc9b", "up")
    for conf in ("all", "default", "tvlc0a", "tvlc9a"):
        lanlab.run("ip", "netns", "exec", monitor, "sysctl", "-qw",
                   f"net.ipv4.conf.{conf}.rp_filter=2")

    settings = tempfile.NamedTemporaryFile("w", suffix=".ini", delete=False)
    settings.write("[web]\nallowedAddresses=198.18.0.4\n")
    settings.close()
    lab.monitor(monitor, 8081, settings.name)

    status, body = fetch(attacker, MONITOR + "/summary.json")
    check("an address off the list gets 403 naming the setting",
          status == 403 and "web/allowedAddresses" in body, f"{status} {body.strip()}")
    status, _ = fetch(prometheus, MONITOR + "/metrics")
    check("the listed address is served", status == 200, str(status))
    status, _ = fetch(monitor, "http://127.0.0.1:8081/summary.json")
    check("this machine is always served", status == 200, str(status))

    # A neighbour on the first network answers a round in the name of a machine on the second:
    # every /fleet.json would then connect there.
    lab.get(monitor, "http://127.0.0.1:8081/peers.json?strRequest=requestLook")
    lab.python(attacker, "spoof", "198.18.0.1", "198.18.8.77", 1, answer(6379))
    time.sleep(1.3)  # past the round's answer time
    peers = json.loads(lab.get(monitor, "http://127.0.0.1:8081/peers.json"))["peers"]
    check("an answer from another of this machine's networks is not listed",
          all(p["address"] != "198.18.8.77" for p in peers), json.dumps(peers))

    os.unlink(settings.name)
    print(f"{len(failures)} failed" if failures else "all passed")
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
