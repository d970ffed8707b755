// The kernel's text interfaces, parsed from fixture files.
#define CHECK_MAIN
#include "check.h"

#include "platform/linux/ProcParsers.h"
#include "platform/linux/SystemFiles.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

using namespace platform::linux_proc;

namespace {
const std::string tree = TARNIVO_FIXTURES "/linux/workstation";
std::string fixture(const std::string &path) {
    return platform::linux_files::readText(TARNIVO_FIXTURES "/linux" + path);
}
} // namespace

TEST_CASE("meminfo gives total, available and swap in bytes") {
    const MemInfo info = parseMeminfo(fixture("/workstation/proc/meminfo"));
    CHECK_EQ(info.memTotal, 16303428ull * 1024);
    CHECK_EQ(info.memAvailable, 9873100ull * 1024);
    CHECK_EQ(info.swapTotal, 2097148ull * 1024);
    CHECK_EQ(info.swapFree, 1548284ull * 1024);
    // Kernels before 3.14 print no MemAvailable: free, buffers and cache stand in for it.
    const MemInfo old = parseMeminfo("MemTotal: 1000 kB\nMemFree: 100 kB\nBuffers: 20 kB\n"
                                     "Cached: 300 kB\n");
    CHECK_EQ(old.memAvailable, 420ull * 1024);
    CHECK_EQ(parseMeminfo("garbage\nMemTotal: -5 kB\n").memTotal, 0ull);
}

TEST_CASE("processor time counts iowait as idle and guest time once") {
    const auto cpus = parseStat(fixture("/workstation/proc/stat"));
    CHECK_EQ(cpus.size(), size_t(2));
    if (cpus.size() != 2)
        return;
    // cpu0: user 20000 nice 100 system 5000 idle 150000 iowait 600 irq 0 softirq 150 steal 0;
    // guest 2500 is already part of user.
    CHECK_EQ(cpus[0].cpu, 0u);
    CHECK_EQ(cpus[0].total, 20000ull + 100 + 5000 + 150000 + 600 + 150);
    CHECK_EQ(cpus[0].busy, 20000ull + 100 + 5000 + 150);
    CHECK_EQ(cpus[1].cpu, 1u);
    CHECK_EQ(cpus[1].busy, 20100ull + 100 + 4900 + 150);
}

TEST_CASE("a byte counter touching the interface's colon is read whole") {
    const auto rows = parseNetDev(fixture("/workstation/proc/net/dev"));
    CHECK_EQ(rows.size(), size_t(4));
    if (rows.size() != 4)
        return;
    CHECK_EQ(rows[1].name, std::string("eth0"));
    CHECK_EQ(rows[1].rxBytes, 12345678901ull);
    CHECK_EQ(rows[1].rxPackets, 9876543ull);
    CHECK_EQ(rows[1].txBytes, 987654321ull);
    CHECK_EQ(rows[1].txPackets, 654321ull);
    CHECK_EQ(rows[3].name, std::string("br#1"));
    CHECK_EQ(rows[3].txPackets, 60ull);
}

TEST_CASE("diskstats lists disks and partitions with io time from the tenth figure") {
    const auto disks = parseDiskstats(fixture("/workstation/proc/diskstats"));
    CHECK_EQ(disks.size(), size_t(9));
    bool seen = false;
    for (const auto &disk : disks) {
        if (disk.name != "sda")
            continue;
        seen = true;
        CHECK_EQ(disk.major, 8u);
        CHECK_EQ(disk.reads, 1000ull);
        CHECK_EQ(disk.readSectors, 64000ull);
        CHECK_EQ(disk.writes, 2000ull);
        CHECK_EQ(disk.writeSectors, 128000ull);
        CHECK_EQ(disk.ioTicksMs, 1500ull);
    }
    CHECK(seen);
    // Kernels before 4.18 print eleven figures, not fifteen or seventeen.
    const auto old = parseDiskstats("8 0 sdb 1 2 3 4 5 6 7 8 9 10 11\n8 1 sdb1 1 2 3 4\n");
    CHECK_EQ(old.size(), size_t(1));
    if (!old.empty())
        CHECK_EQ(old[0].ioTicksMs, 10ull);
}

TEST_CASE("the route table's addresses decode to dotted form") {
    CHECK_EQ(routeAddress("010200C0"), std::string("192.0.2.1"));
    CHECK_EQ(routeAddress("00FFFFFF"), std::string("255.255.255.0"));
    CHECK_EQ(routeAddress("0102X0C0"), std::string());
    CHECK_EQ(routeAddress("12"), std::string());
    const auto routes = parseRoutes(fixture("/workstation/proc/net/route"));
    CHECK_EQ(routes.size(), size_t(4));
    CHECK_EQ(defaultGateway(routes, "eth0"), std::string("192.0.2.1"));
    // A route through no gateway, or one not up, gives none.
    CHECK_EQ(defaultGateway(routes, "br#1"), std::string());
    CHECK_EQ(defaultGateway(routes, "wlan0"), std::string());
    CHECK_EQ(defaultGateway(routes, "eth1"), std::string());
}

TEST_CASE("processors are identified in the Windows form for Intel and AMD") {
    const auto intel = parseCpuinfo(fixture("/workstation/proc/cpuinfo"));
    CHECK_EQ(intel.size(), size_t(2));
    if (intel.size() == 2) {
        CHECK_EQ(processorName(intel[1]), std::string("Intel(R) Core(TM) i7-8700 CPU @ 3.20GHz"));
        CHECK_EQ(processorIdentifier(intel[1], "x86_64"),
                 std::string("Intel64 Family 6 Model 158 Stepping 10"));
        CHECK_EQ(processorIdentifier(intel[1], "i686"),
                 std::string("x86 Family 6 Model 158 Stepping 10"));
    }
    const auto amd = parseCpuinfo(fixture("/cpuinfo/amd.txt"));
    CHECK_EQ(amd.size(), size_t(2));
    if (!amd.empty()) {
        CHECK_EQ(processorIdentifier(amd[0], "x86_64"),
                 std::string("AMD64 Family 23 Model 49 Stepping 0"));
        CHECK_EQ(processorName(amd[0]), std::string("AMD EPYC 7742 64-Core Processor"));
    }
}

TEST_CASE("an ARM processor is identified by architecture, part and revision") {
    const auto arm = parseCpuinfo(fixture("/cpuinfo/arm64.txt"));
    CHECK_EQ(arm.size(), size_t(2));
    if (arm.size() != 2)
        return;
    CHECK_EQ(processorIdentifier(arm[1], "aarch64"),
             std::string("aarch64 Family 8 Model 0xd08 Revision 3"));
    // The trailer after the last block describes every processor.
    CHECK_EQ(arm[0].at("Hardware"), std::string("BCM2835"));
    CHECK_EQ(arm[1].at("processor"), std::string("1"));
}

TEST_CASE("mount points lose the kernel's octal escapes") {
    const auto mounts = parseMounts(fixture("/workstation/proc/self/mounts"));
    CHECK_EQ(mounts.size(), size_t(8));
    if (mounts.size() == 8) {
        CHECK_EQ(mounts[4].device, std::string("/dev/nvme0n1p1"));
        CHECK_EQ(mounts[4].mountPoint, std::string("/media/My Files"));
    }
    const auto odd = parseMounts("/dev/sdb1 /mnt/a\\134b\\011c\\04 ext4 rw 0 0\n");
    CHECK_EQ(odd.size(), size_t(1));
    if (!odd.empty())
        CHECK_EQ(odd[0].mountPoint, std::string("/mnt/a\\b\tc\\04"));
}

TEST_CASE("udev properties are read and their escapes undone") {
    const auto props = parseUdevProperties(fixture("/workstation/run/udev/data/b8:0"));
    CHECK_EQ(props.at("ID_SERIAL_SHORT"), std::string("S3Z9NB0K123456A"));
    CHECK_EQ(props.count("disk/by-id/ata-x"), size_t(0));
    CHECK_EQ(decodeUdevEscapes("WDC\\x20WD10EZEX\\x2d00\\x2"), std::string("WDC WD10EZEX-00\\x2"));
}

TEST_CASE("a kernel file kept open reads its whole text again at every reading") {
    char name[] = "/tmp/tarnivo-kernel-file.XXXXXX";
    const int made = mkstemp(name);
    CHECK(made >= 0);
    if (made < 0)
        return;
    close(made);
    const auto rewrite = [&name](const std::string &text) {
        std::FILE *file = std::fopen(name, "w"); // in place, as the kernel's text changes
        std::fwrite(text.data(), 1, text.size(), file);
        std::fclose(file);
    };
    const auto text = [](std::pair<const char *, size_t> read) {
        return std::string(read.first ? read.first : "", read.second);
    };
    platform::linux_files::KernelFile file;
    // Longer than the first buffer: read whole, not cut at its size.
    const std::string longer = std::string(9000, 'x') + "\nend\n";
    rewrite(longer);
    CHECK_EQ(text(file.read(name)), longer);
    rewrite("cpu0 1 2 3\n");
    CHECK_EQ(text(file.read(name)), std::string("cpu0 1 2 3\n"));
    unlink(name);
    CHECK_EQ(text(file.read("/nonexistent/tarnivo")), std::string());
}
