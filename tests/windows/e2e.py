#!/usr/bin/env python3
"""The packed Windows program, end to end under Wine.

Unpacks the zip, starts tarnivo.exe on the X display in $DISPLAY, types a free port into the
window titled "Tarnivo" and presses Start, then asks every route and compares the answers
with those of the Linux build's listener (tarnivo_httpd_bench) on the same web root: byte for
byte where the answer does not depend on the machine, by structure for the status document.
Asks the heartbeat on UDP 49497 from a network namespace of its own (a veth pair in
198.18.0.0/30), presses Stop, closes the window and expects exit code 0. Before that, reads the
version resource and the manifest back from the executable, and runs "tarnivo.exe --report"
to standard output and to a file.

Then the service: registers it with "tarnivo.exe --install-service --port N", starts, queries
and stops it through Wine's service manager (sc, net), expecting the dashboard while it runs
and the stop within 5 s, and removes it. With --msi, installs the package silently with
PORT=<n> (msiexec /qn), expects the installed service to serve there, repairs it (the port
stays), upgrades it in place with --newer-msi, uninstalls it without leftovers, and installs it
once more with SERVICE=0, with CONFIG=<prepared file> and with ALLOWED=<addresses>. Before all that, an install whose port
is taken must fail with 1603 and leave no service behind.

Runs inside a network namespace that scripts/windows-test creates, so that port 49497 is its
own. Exits non-zero on the first failed check.
"""
import argparse
import os
import re
import shutil
import socket
import subprocess
import sys
import time
import zipfile

HEARTBEAT = 49497
checks = 0


def say(text):
    print(f"e2e: {text}", flush=True)


def check(condition, what, detail=""):
    global checks
    if not condition:
        say(f"FAIL {what}" + (f"\n{detail}" if detail else ""))
        sys.exit(1)
    checks += 1
    say(f"ok   {what}")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def fetch(port, target, timeout=10):
    """The whole answer to one HTTP/1.0 request, as bytes; b"" when nobody answers."""
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=timeout) as s:
            s.sendall(f"GET {target} HTTP/1.0\r\n\r\n".encode())
            data = b""
            while True:
                piece = s.recv(65536)
                if not piece:
                    return data
                data += piece
    except OSError:
        return b""


def wait_for(what, probe, seconds):
    deadline = time.time() + seconds
    while time.time() < deadline:
        result = probe()
        if result:
            return result
        time.sleep(0.5)
    check(False, what, f"not within {seconds} s")


def xdotool(*args):
    return subprocess.run(["xdotool", *args], capture_output=True, text=True).stdout.strip()


# Button centres in the window's client area: the menu bar's height, then the fixed positions
# of the settings group (10, 10) and its buttons.
MENU_BAR = int(os.environ.get("TARNIVO_MENU_BAR", "20"))
PORT = (10 + 10 + 75, MENU_BAR + 10 + 20 + 10)
START = (10 + 10 + 35, MENU_BAR + 10 + 50 + 11)
STOP = (10 + 90 + 35, MENU_BAR + 10 + 50 + 11)


def click(window, point):
    xdotool("mousemove", "--window", window, str(point[0]), str(point[1]))
    xdotool("click", "1")


def split(answer):
    head, _, body = answer.partition(b"\r\n\r\n")
    return head.split(b"\r\n"), body


def skeleton(xml):
    """The status document with every figure and text replaced, one record per kind."""
    text = re.sub(r">[^<]+<", "><", xml.decode())
    seen, kinds = set(), []
    for record in re.findall(r"<(\w+)>((?:<str|<int)[^/]*?(?:</\w+>)+?)</\1>", text):
        if record[0] not in seen:
            seen.add(record[0])
            kinds.append(record[0] + ":" + record[1])
    return kinds


def records(xml, kind):
    return re.findall(rf"<{kind}>(.*?)</{kind}>", xml.decode(), re.S)


def field(record, name):
    match = re.search(rf"<{name}>(.*?)</{name}>", record, re.S)
    return match.group(1) if match else None


def heartbeat(request, netns_pid):
    """Sends request from 198.18.0.2:49497 in the requester's namespace; the reply or b""."""
    code = (
        "import socket,sys\n"
        "s=socket.socket(socket.AF_INET,socket.SOCK_DGRAM)\n"
        f"s.bind(('198.18.0.2',{HEARTBEAT}));s.settimeout(5)\n"
        f"s.sendto(sys.stdin.buffer.read(),('198.18.0.1',{HEARTBEAT}))\n"
        "try:\n d,a=s.recvfrom(4096)\n"
        f" sys.stdout.buffer.write(d if a[1]=={HEARTBEAT} else b'wrong port')\n"
        "except socket.timeout: pass\n")
    result = subprocess.run(["nsenter", "-t", str(netns_pid), "-n", sys.executable, "-c", code],
                            input=request, capture_output=True)
    return result.stdout


def requester_namespace():
    """A second namespace joined to this one by a veth pair; returns the pid that holds it."""
    holder = subprocess.Popen(["unshare", "-n", "sleep", "600"])
    time.sleep(0.3)
    run = lambda *a: subprocess.run(a, check=True)
    run("ip", "link", "add", "wine2e0", "type", "veth", "peer", "name", "wine2e1")
    run("ip", "link", "set", "wine2e1", "netns", str(holder.pid))
    run("ip", "addr", "add", "198.18.0.1/30", "dev", "wine2e0")
    run("ip", "link", "set", "wine2e0", "up")
    enter = ["nsenter", "-t", str(holder.pid), "-n"]
    run(*enter, "ip", "addr", "add", "198.18.0.2/30", "dev", "wine2e1")
    run(*enter, "ip", "link", "set", "wine2e1", "up")
    run(*enter, "ip", "link", "set", "lo", "up")
    return holder


def version_of(zip_path):
    """The version in the zip's name, tarnivo-<version>-windows-x64.zip."""
    match = re.match(r"tarnivo-(.+)-windows-x64\.zip$", os.path.basename(zip_path))
    check(match is not None, f"the zip's name carries the version: {zip_path}")
    return match.group(1)


def check_resources(exe, version):
    """The version resource and the manifest, as Windows reads them from the file."""
    import pefile
    pe = pefile.PE(exe)
    strings = {}
    for info in getattr(pe, "FileInfo", []):
        for entry in info:
            for table in getattr(entry, "StringTable", []):
                strings.update({k.decode(): v.decode() for k, v in table.entries.items()})
    check(strings.get("ProductName") == "Tarnivo", f"version resource: product {strings}")
    check(strings.get("ProductVersion") == version and strings.get("FileVersion") == version,
          f"version resource: version {version}")
    check(bool(strings.get("FileDescription")), f"version resource: {strings.get('FileDescription')}")
    fixed = pe.VS_FIXEDFILEINFO[0]
    parts = [int(p) for p in version.split(".")] + [0, 0, 0]
    check((fixed.FileVersionMS, fixed.FileVersionLS) ==
          (parts[0] << 16 | parts[1], parts[2] << 16), "version resource: numeric file version")
    manifest = None
    for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if kind.id == pefile.RESOURCE_TYPE["RT_MANIFEST"]:
            data = kind.directory.entries[0].directory.entries[0].data.struct
            manifest = pe.get_data(data.OffsetToData, data.Size).decode()
    check(manifest is not None, "the executable carries a manifest")
    for needle, what in [
            ('level="requireAdministrator"', "administrator rights"),
            ('<supportedOS Id="{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"/>', "Windows 10/11"),
            ("PerMonitorV2", "per-monitor DPI awareness"),
            (">true</longPathAware>", "long paths"),
            (f'version="{".".join(str(p) for p in parts[:3])}.0"', "the assembly version")]:
        check(needle in manifest, f"manifest: {what}", manifest)


def check_report(exe, app, version, work):
    """--report to standard output and to a named file: what the system layer finds."""
    result = subprocess.run(["wine", exe, "--report"], cwd=app, capture_output=True, timeout=120)
    report = result.stdout.decode("utf-8", "replace")
    print(report, flush=True)
    check(result.returncode == 0, f"--report exits with {result.returncode}")
    check(report.startswith(f"Tarnivo {version} system report"), "the report names the version")
    for section in ["[Processors]", "[Disks]", "[Adapters]", "[Drive letters]", "[Counters]"]:
        check(section in report, f"the report has {section}")
    check(f"Logical processors: {os.cpu_count()}\n" in report,
          f"the report counts {os.cpu_count()} processors")
    check(re.search(r"^Disk 0: model ", report, re.M) is not None, "the report lists disk 0")
    check(re.search(r'^Adapter "wine2e0": index \d+, address 198\.18\.0\.1,', report, re.M)
          is not None, "the report lists the adapter wine2e0 with its index and address")
    check(re.search(r"^C: fixed$", report, re.M) is not None, "the report lists C: as fixed")
    check(re.search(r"^\d+ of \d+ counters added", report, re.M) is not None,
          "the report gives every counter's state")
    target = os.path.join(work, "report.txt")
    result = subprocess.run(["wine", exe, "--report", target], cwd=app, capture_output=True,
                            timeout=120)
    written = open(target, encoding="utf-8").read() if os.path.exists(target) else ""
    check(result.returncode == 0 and written.startswith(f"Tarnivo {version} system report"),
          "--report with a file name writes the report there")


def wine(*args, timeout=120):
    """Runs a Wine program; its exit code and its output (standard output and error). The
    output goes through a file: the session's own processes that the first program boots
    (services, devices) inherit its handles and outlive it, so a pipe would never end."""
    import tempfile
    with tempfile.TemporaryFile() as output:
        code = subprocess.run(["wine", *args], stdout=output, stderr=subprocess.STDOUT,
                              timeout=timeout).returncode
        output.seek(0)
        text = output.read().decode(errors="replace")
    return code, "\n".join(l for l in text.splitlines() if "fixme:" not in l)


def service_state():
    """The service's state as sc query tells it ("RUNNING", "STOPPED", ...); "" when absent."""
    _, text = wine("sc", "query", "Tarnivo")
    match = re.search(r"STATE\s*:\s*\d+\s+(\w+)", text)
    return match.group(1) if match else ""


def restart_wine():
    """Ends every Wine process and its server: the next Wine program boots a fresh session,
    as a restarted Windows does, and its service manager starts the automatic services."""
    quiet = {"stdout": subprocess.DEVNULL, "stderr": subprocess.DEVNULL}
    subprocess.run(["wineserver", "-k"], **quiet)
    subprocess.run(["wineserver", "-w"], **quiet)


def keep_wine():
    """Keeps the Wine server (and so the session and its services) up between programs."""
    # No pipes: the server it starts lives on and would hold them open.
    subprocess.run(["wineserver", "-p"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def stop_service(port):
    started = time.time()
    code, text = wine("net", "stop", "Tarnivo")
    stopped_in = time.time() - started
    check(code == 0 and service_state() == "STOPPED", f"net stop Tarnivo ({stopped_in:.1f} s)", text)
    check(stopped_in < 5, f"the service stops within 5 s ({stopped_in:.1f} s)")
    check(not fetch(port, "/", timeout=2), "the port is closed after the stop")


def service_checks(app):
    """Install, start, query, stop and uninstall the service under Wine's service manager."""
    exe = os.path.join(app, "tarnivo.exe")
    port = free_port()
    keep_wine()
    wine(exe, "--uninstall-service")  # what an earlier run that failed may have left
    code, text = wine(exe, "--install-service", "--port", str(port))
    check(code == 0 and "installed the service Tarnivo" in text,
          f"--install-service --port {port} registers the service", text)
    _, config = wine("reg", "query", r"HKLM\System\CurrentControlSet\Services\Tarnivo")
    check(re.search(r"Start\s+REG_DWORD\s+0x2\b", config) is not None, "it starts automatically",
          config)
    check(f"--headless --port {port}" in config, "it runs the program without a window", config)
    check(service_state() == "STOPPED", "sc query: installed and stopped")

    code, text = wine("net", "start", "Tarnivo")
    check(code == 0, "net start Tarnivo", text)
    # When it is not running, the exit codes and the configuration say why.
    state = service_state()
    check(state == "RUNNING", "sc query: running",
          wine("sc", "query", "Tarnivo")[1] + wine("sc", "qc", "Tarnivo")[1])
    answer = wait_for(f"the service serves on port {port}", lambda: fetch(port, "/assets/menu.html"), 30)
    check(answer.startswith(b"HTTP/1.0 200 OK"), "the service serves the dashboard", answer[:200])
    stop_service(port)

    # A new session starts it by itself, as Windows does at boot.
    restart_wine()
    keep_wine()
    wait_for("a new session starts the service by itself", lambda: service_state() == "RUNNING", 60)
    wait_for(f"and it serves on port {port}", lambda: fetch(port, "/assets/menu.html"), 30)
    stop_service(port)

    code, text = wine(exe, "--uninstall-service")
    check(code == 0 and "removed the service Tarnivo" in text, "--uninstall-service", text)
    check(service_state() == "", "sc query: the service is gone")


UNINSTALL = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall"
EVENT_SOURCE = r"HKLM\System\CurrentControlSet\Services\EventLog\Application\Tarnivo"


def installed_versions():
    """The versions of Tarnivo in the system's list of installed programs, one per package."""
    _, text = wine("reg", "query", UNINSTALL, "/s")
    versions = []
    for block in re.split(r"\n(?=HKEY_)", text):
        if re.search(r"DisplayName\s+REG_SZ\s+Tarnivo\s*$", block, re.M):
            version = re.search(r"DisplayVersion\s+REG_SZ\s+(\S+)", block)
            versions.append(version.group(1) if version else "?")
    return versions


def msiexec(*args):
    code, text = wine("msiexec", *args, "/qn", timeout=300)
    check(code == 0, "msiexec " + " ".join(os.path.basename(a) for a in args) + " /qn", text)


def installer_checks(msi, newer_msi, work):
    """A failed install rolled back; silent install with PORT=<n>, the installed service
    serving, a repair, an upgrade in place to a newer package, silent uninstall without
    leftovers; then installs with SERVICE=0 and with CONFIG."""
    installed = unix_path(r"C:\Program Files\Tarnivo")
    program = os.path.join(installed, "tarnivo.exe")

    # The port taken: the service cannot start, the install fails and rolls back, taking the
    # service (registered before its start failed) away with the files.
    with socket.socket() as holder:
        holder.bind(("0.0.0.0", 0))
        holder.listen()
        held = holder.getsockname()[1]
        code, text = wine("msiexec", "/i", msi, f"PORT={held}", "/qn", "/l*",
                          os.path.join(work, "held.log"), timeout=300)
        # Windows' msiexec ends with 1603, Wine's with 1627 (ERROR_FUNCTION_FAILED); the exit
        # status of a process here keeps their low eight bits.
        check(code in (1603 & 0xFF, 1627 & 0xFF),
              f"with port {held} taken the install fails (exit status {code})", text)
    check(service_state() == "", "and leaves no service behind")
    check(not os.path.exists(installed), f"nor {installed}")
    check(f"port={held}" not in read(machine_file("tarnivo.ini")), "nor the port it could not use in the settings")
    log = read(machine_file("tarnivo.log"))
    check("the server did not start" in log, "the service's log file says why it did not start",
          log[-2000:])

    port = free_port()
    msiexec("/i", msi, f"PORT={port}", "/l*", os.path.join(work, "msiexec.log"))
    check(os.path.isfile(program) and
          os.path.isfile(os.path.join(installed, "content", "assets", "menu.html")),
          f"the program and its web root are in {installed}")
    # The menu entry: for all users, or (Wine) in the installing user's own menu.
    menus = [subprocess.run(["winepath", "-u", folder + r"\Microsoft\Windows\Start Menu\Programs"],
                            capture_output=True, text=True).stdout.strip()
             for folder in (r"C:\ProgramData", r"C:\users\%s\AppData\Roaming" % os.environ.get("USER", "root"))]
    entry = [m for m in menus if os.path.isfile(os.path.join(m, "Tarnivo", "Tarnivo.lnk"))]
    check(entry, "the Start-menu entry", "\n".join(menus))
    first = installed_versions()
    check(len(first) == 1, f"one Tarnivo among the installed programs: {first}")
    check(service_state() == "RUNNING", "the installed service runs")
    _, source = wine("reg", "query", EVENT_SOURCE)
    check("EventMessageFile" in source and "tarnivo.exe" in source,
          "the event log source Tarnivo is registered", source)
    answer = wait_for(f"the installed service serves on port {port}",
                      lambda: fetch(port, "/assets/menu.html"), 60)
    check(answer.startswith(b"HTTP/1.0 200 OK"), "the installed program serves the dashboard")

    # A repair runs the service's installation again without PORT: the port stays.
    check(f"port={port}" in read(machine_file("tarnivo.ini")), f"the settings file keeps port {port}")
    msiexec("/i", msi, *REPAIR, "/l*", os.path.join(work, "repair.log"))
    check(f"--headless --port {port}" in service_config(), f"the repair keeps port {port}",
          service_config())
    check(service_state() == "RUNNING", "the service runs after the repair")

    if newer_msi:
        # The newer package replaces the older in place: one entry, the service kept and
        # serving on the port given to the upgrade.
        newer_port = free_port()
        msiexec("/i", newer_msi, f"PORT={newer_port}", "/l*", os.path.join(work, "upgrade.log"))
        versions = installed_versions()
        check(len(versions) == 1 and versions != first,
              f"the upgrade replaces {first} in place: {versions}")
        check(service_state() == "RUNNING", "the service runs after the upgrade")
        wait_for(f"the upgraded service serves on port {newer_port}",
                 lambda: fetch(newer_port, "/assets/menu.html"), 60)
        check(not fetch(port, "/", timeout=2), f"nothing serves on the old port {port}")
        msi, port = newer_msi, newer_port

    msiexec("/x", msi)
    check(service_state() == "", "the service is gone after uninstall")
    check("EventMessageFile" not in wine("reg", "query", EVENT_SOURCE)[1],
          "and its event log source")
    check(not os.path.exists(installed), f"{installed} is gone after uninstall")
    check(not os.path.exists(os.path.join(entry[0], "Tarnivo")), "the Start-menu entry is gone")
    check(installed_versions() == [], "no Tarnivo among the installed programs")
    check(not fetch(port, "/", timeout=2), "nothing serves on the port after uninstall")

    port = free_port()
    msiexec("/i", msi, "SERVICE=0", f"PORT={port}")
    check(os.path.isfile(program), "SERVICE=0 installs the program")
    check(service_state() == "", "SERVICE=0 registers no service")
    time.sleep(3)
    check(not fetch(port, "/", timeout=2), "SERVICE=0: nothing serves on the port")
    msiexec("/x", msi)
    check(not os.path.exists(installed), f"{installed} is gone after uninstall")

    # CONFIG: a prepared file becomes the machine-wide one, and an install that finds one there
    # (a repair, an upgrade) keeps it.
    for folder in MACHINE_FOLDERS:
        if os.path.exists(unix_path(folder + r"\tarnivo.ini")):
            os.remove(unix_path(folder + r"\tarnivo.ini"))
    port, other = free_port(), free_port()
    prepared = [os.path.join(work, f"prepared{i}.ini") for i in (1, 2)]
    for path, chosen in zip(prepared, (port, other)):
        with open(path, "w") as file:
            file.write(f"[web]\nport={chosen}\nallowedHosts=monitor{chosen}.example\n")
    msiexec("/i", msi, "CONFIG=" + windows_path(prepared[0]), "/l*", os.path.join(work, "config.log"))
    check(read(machine_file("tarnivo.ini")) == read(prepared[0]), "CONFIG copies the prepared file", read(machine_file("tarnivo.ini")))
    wait_for(f"the service serves on the prepared port {port}",
             lambda: fetch(port, "/assets/menu.html"), 60)
    msiexec("/i", msi, *REPAIR, "CONFIG=" + windows_path(prepared[1]))
    check(read(machine_file("tarnivo.ini")) == read(prepared[0]), "a repair keeps the file there", read(machine_file("tarnivo.ini")))
    check(f"--headless --port {port}" in service_config(), "and the service its port")
    msiexec("/x", msi)

    # ALLOWED: the address list kept in the machine-wide file, beside what it holds already.
    msiexec("/i", msi, "ALLOWED=198.18.0.0/15, 127.0.0.1")
    kept = read(machine_file("tarnivo.ini"))
    check("allowedAddresses=198.18.0.0/15, 127.0.0.1" in kept and f"port={port}" in kept,
          "ALLOWED keeps the address list in the machine-wide file", kept)
    msiexec("/x", msi)


# %ProgramData%\Tarnivo: Wine gives its services and msiexec's actions C:\users\Public as
# %ProgramData%, its other programs C:\ProgramData.
MACHINE_FOLDERS = [r"C:\ProgramData\Tarnivo", r"C:\users\Public\Tarnivo"]


def machine_file(name):
    """The file of the machine-wide folder, in whichever of Wine's two it is."""
    paths = [unix_path(folder + "\\" + name) for folder in MACHINE_FOLDERS]
    return next((p for p in paths if os.path.exists(p)), paths[0])


# A repair, as "msiexec /fa" asks it of Windows (Wine's msiexec has no /f with a package file).
REPAIR = ("REINSTALL=ALL", "REINSTALLMODE=amus")


def unix_path(path):
    return subprocess.run(["winepath", "-u", path], capture_output=True, text=True).stdout.strip()


def windows_path(path):
    return subprocess.run(["winepath", "-w", path], capture_output=True, text=True).stdout.strip()


def read(path):
    """A file's text; "" when it is not there."""
    try:
        with open(path) as file:
            return file.read()
    except OSError:
        return ""


def service_config():
    return wine("reg", "query", r"HKLM\System\CurrentControlSet\Services\Tarnivo")[1]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--zip", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--reference", required=True, help="Linux build directory")
    parser.add_argument("--screenshot", help="PNG of the running window")
    parser.add_argument("--msi", help="the installer, installed and removed silently")
    parser.add_argument("--newer-msi", help="a newer package of the same program, to upgrade to")
    args = parser.parse_args()

    shutil.rmtree(args.work, ignore_errors=True)
    os.makedirs(args.work)
    with zipfile.ZipFile(args.zip) as z:
        z.extractall(args.work)
    app = os.path.join(args.work, os.listdir(args.work)[0])
    exe = os.path.join(app, "tarnivo.exe")
    check(os.path.isfile(exe), "the zip holds tarnivo.exe")
    version = version_of(args.zip)
    check_resources(exe, version)
    # Made first, so that the adapter it adds is among those the report and both programs list.
    holder = requester_namespace()
    reference_port, port = free_port(), free_port()
    bench = os.path.join(args.reference, "tarnivo_httpd_bench")
    try:
        check_report(exe, app, version, args.work)
        check(os.access(bench, os.X_OK), f"the Linux listener {bench} is built")
    except BaseException:
        holder.kill()  # its namespace, and the veth pair with it, goes too
        raise
    reference = subprocess.Popen([bench, str(reference_port), os.path.join(app, "content")],
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    program = subprocess.Popen(["wine", exe], cwd=app, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
    try:
        started = time.time()
        window = wait_for("the window titled Tarnivo appears",
                          lambda: xdotool("search", "--name", "^Tarnivo$").split("\n")[0], 120)
        say(f"window {window} after {time.time() - started:.1f} s")
        time.sleep(2)
        # Keys go through the X test extension to whatever a click has focused, as a user's do.
        click(window, PORT)
        xdotool("key", "ctrl+a")
        xdotool("type", "--delay", "50", str(port))
        click(window, START)
        wait_for(f"the program answers on port {port} after Start", lambda: fetch(port, "/"), 30)
        wait_for("the reference answers", lambda: fetch(reference_port, "/"), 30)

        for target in ["/", "/assets/menu.html", "/src/app.js", "/nothing", "/assets/missing.js",
                       "/assets/../../tarnivo.exe"]:
            mine, theirs = fetch(port, target), fetch(reference_port, target)
            check(mine == theirs and mine, f"{target} byte for byte as on Linux",
                  f"Windows: {mine[:300]!r}\nLinux:   {theirs[:300]!r}")

        fetch(port, "/menu.xml?strRequest=requestInit")
        fetch(reference_port, "/menu.xml?strRequest=requestInit")
        time.sleep(3)
        mine = fetch(port, "/menu.xml?strRequest=requestRead")
        theirs = fetch(reference_port, "/menu.xml?strRequest=requestRead")
        (mine_head, mine_body), (their_head, their_body) = split(mine), split(theirs)
        length = lambda head: [h for h in head if not h.startswith(b"Content-Length")]
        check(length(mine_head) == length(their_head), "status document head as on Linux",
              f"{mine_head}\n{their_head}")
        check(skeleton(mine_body) == skeleton(their_body), "status document structure as on Linux",
              f"{skeleton(mine_body)}\n{skeleton(their_body)}")
        memory = records(mine_body, "Memory")
        check([field(r, "strName") for r in memory] == ["Physical", "Pagefile"],
              "memory: Physical and Pagefile")
        check(int(field(memory[0], "intTotal")) > 0, f"memory total {field(memory[0], 'intTotal')}")
        adapters = [field(r, "strName") for r in records(mine_body, "Network")]
        check("wine2e0" in adapters, f"Wine's adapters: {adapters}")
        processors = records(mine_body, "Processor")
        check(len(processors) == os.cpu_count(), f"{len(processors)} processors")
        disks = records(mine_body, "Storage")
        # The document names no volumes; which ones lie on disk 0 (C:\\ under Wine) decides
        # its counter instance, which windows_devices_test checks.
        check(len(disks) >= 1, f"{len(disks)} physical disk(s), disk 0 first", mine_body[:2000])

        if args.screenshot:
            subprocess.run(f"xwd -silent -id {window} | xwdtopnm 2>/dev/null | pnmtopng > "
                           f"'{args.screenshot}'", shell=True, check=True)
            say(f"screenshot in {args.screenshot}")

        frame = b"Start:Heartbeat\nstrType:typeRequest\nstrCommand:%s\nStop:Heartbeat"
        check(heartbeat(frame % b"commandVersion", holder.pid) ==
              b"Start:Heartbeat\nstrType:typeResponse\nstrCommand:commandVersion\n"
              b"strVersion:%s\nStop:Heartbeat" % version.encode(), "heartbeat version from another host")
        check(heartbeat(frame % b"commandPort", holder.pid) ==
              b"Start:Heartbeat\nstrType:typeResponse\nstrCommand:commandPort\n"
              b"intPort:%d\nStop:Heartbeat" % port, f"heartbeat port {port}")

        click(window, STOP)
        wait_for("Stop closes the port", lambda: not fetch(port, "/", timeout=2), 20)
        check(True, "Stop closes the port")
        # Alt+F4 asks the window to close, as the user's close button does.
        click(window, PORT)
        xdotool("key", "alt+F4")
        code = program.wait(timeout=60)
        check(code == 0, f"closing the window ends the program with exit code {code}")
    finally:
        holder.kill()
        for process in (program, reference):
            if process.poll() is None:
                process.kill()
    service_checks(app)
    if args.msi:
        installer_checks(args.msi, args.newer_msi, args.work)
    say(f"{checks} checks passed")


if __name__ == "__main__":
    main()
