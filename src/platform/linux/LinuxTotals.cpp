// Running totals on Linux: /proc/net/dev, /proc/diskstats and /proc/stat below the root
// directory, for the same adapters, disks and processors the device lists name.
#include "platform/Totals.h"

#include "LinuxDisks.h"
#include "ProcParsers.h"
#include "SystemFiles.h"
#include "platform/Platform.h"

#include <cstdlib>
#include <unistd.h>

namespace platform {

namespace {

std::string rootedText(const std::string &root, const std::string &path) {
    return linux_files::readText(linux_files::underRoot(root, path));
}

constexpr long long loopbackType = 772; // ARPHRD_LOOPBACK

// A numeric attribute, or -1 when it cannot be read.
long long attribute(const std::string &path) {
    const std::string text = linux_files::readLine(path);
    char *end = nullptr;
    const long long value = std::strtoll(text.c_str(), &end, 10);
    return !text.empty() && end && *end == '\0' ? value : -1;
}

// /proc/stat counts in USER_HZ ticks, a constant of the kernel's user interface.
uint64_t ticksToMicroseconds(uint64_t ticks) {
    static const long perSecond = sysconf(_SC_CLK_TCK);
    const uint64_t hz = perSecond > 0 ? static_cast<uint64_t>(perSecond) : 100;
    return ticks / hz * 1000000 + ticks % hz * 1000000 / hz;
}

} // namespace

Totals totals() {
    const std::string root = rootDirectory();
    Totals result;

    // The adapters of the adapter list: every interface but loopback. /proc/net/dev has the
    // 64-bit counts of all of them in one read; each costs one or two attribute reads more.
    const std::string net = linux_files::underRoot(root, "/sys/class/net/");
    for (const auto &row : linux_proc::parseNetDev(rootedText(root, "/proc/net/dev"))) {
        const long long type = attribute(net + row.name + "/type");
        if (type == loopbackType || (type < 0 && row.name == "lo"))
            continue;
        AdapterTotals totals;
        totals.description = row.name;
        totals.receiveBytes = row.rxBytes;
        totals.transmitBytes = row.txBytes;
        totals.receivePackets = row.rxPackets;
        totals.transmitPackets = row.txPackets;
        // The driver refuses the read, or says -1, when the link is down or its speed unknown;
        // a speed it keeps from before the link went down is not taken either.
        const long long megabits = attribute(net + row.name + "/speed");
        if (megabits > 0 && linux_files::readLine(net + row.name + "/operstate") == "up")
            totals.speed = static_cast<uint64_t>(megabits) * 1000000u;
        result.adapters.push_back(totals);
    }

    const std::vector<std::string> disks = linux_disks::physicalDiskNames(root);
    const auto stats = linux_proc::parseDiskstats(rootedText(root, "/proc/diskstats"));
    for (uint32_t n = 0; n < disks.size(); ++n) {
        for (const auto &row : stats) {
            if (row.name != disks[n])
                continue;
            DiskTotals totals;
            totals.number = n;
            // The kernel counts in 512-byte sectors whatever the disk's own sector size.
            totals.readBytes = row.readSectors * 512;
            totals.writeBytes = row.writeSectors * 512;
            totals.reads = row.reads;
            totals.writes = row.writes;
            totals.busyMicroseconds = row.ioTicksMs * 1000;
            result.disks.push_back(totals);
            break;
        }
    }

    // By position, as the processor counters number them: the kernel keeps the numbers of
    // processors taken offline.
    const auto cpus = linux_proc::parseStat(rootedText(root, "/proc/stat"));
    for (uint32_t i = 0; i < cpus.size(); ++i)
        result.processors.push_back({i, ticksToMicroseconds(cpus[i].busy)});
    return result;
}

} // namespace platform
