// Running totals on Linux: /proc/net/dev, /proc/diskstats and /proc/stat below the root
// directory, for the same adapters, disks and processors the device lists name.
#include "platform/Totals.h"

#include "LinuxDisks.h"
#include "ProcParsers.h"
#include "SystemFiles.h"
#include "platform/Platform.h"

#include <chrono>
#include <cstdlib>
#include <map>
#include <mutex>
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

// What changes only when devices come and go: which interfaces are adapters (not loopback),
// their link speeds and the physical disks. Kept while the kernel lists the same interfaces and
// block devices, for at most speedAge, so that a link that changes speed is soon seen; a scrape
// then reads four kernel files and nothing else.
struct DeviceSet {
    std::string root;
    std::vector<std::string> interfaces;
    std::vector<std::string> blockDevices;
    std::chrono::steady_clock::time_point takenAt;
    std::map<std::string, uint64_t> adapterSpeeds;  // interface -> bits per second
    std::map<std::string, uint32_t> adapterIndices; // interface -> interface index
    std::vector<linux_disks::NumberedDisk> disks;
};
constexpr std::chrono::seconds speedAge{10};

DeviceSet readDeviceSet(const std::string &root, std::vector<std::string> interfaces,
                        std::vector<std::string> blockDevices) {
    DeviceSet set{root,
                  std::move(interfaces),
                  std::move(blockDevices),
                  std::chrono::steady_clock::now(),
                  {},
                  {},
                  linux_disks::attachedDisks(root)};
    const std::string net = linux_files::underRoot(root, "/sys/class/net/");
    for (const std::string &name : set.interfaces) {
        const long long type = attribute(net + name + "/type");
        if (type == loopbackType || (type < 0 && name == "lo"))
            continue;
        // The driver refuses the read, or says -1, when the link is down or its speed unknown;
        // a speed it keeps from before the link went down is not taken either.
        const long long megabits = attribute(net + name + "/speed");
        const bool up = megabits > 0 && linux_files::readLine(net + name + "/operstate") == "up";
        set.adapterSpeeds[name] = up ? static_cast<uint64_t>(megabits) * 1000000u : 0;
        const long long index = attribute(net + name + "/ifindex");
        set.adapterIndices[name] = index > 0 ? static_cast<uint32_t>(index) : 0;
    }
    return set;
}

// The device set for the interfaces and block devices the kernel lists now.
DeviceSet currentDeviceSet(const std::string &root, std::vector<std::string> interfaces,
                           std::vector<std::string> blockDevices) {
    // Never destroyed: a connection thread may still scrape while the process exits.
    struct Cache {
        std::mutex mutex; // guards set
        DeviceSet set;
    };
    static Cache *const cache = new Cache;
    {
        std::lock_guard<std::mutex> lock(cache->mutex);
        const DeviceSet &cached = cache->set;
        if (cached.root == root && cached.interfaces == interfaces &&
            cached.blockDevices == blockDevices &&
            std::chrono::steady_clock::now() - cached.takenAt < speedAge)
            return cached;
    }
    DeviceSet set = readDeviceSet(root, std::move(interfaces), std::move(blockDevices));
    std::lock_guard<std::mutex> lock(cache->mutex);
    cache->set = set;
    return set;
}

} // namespace

Totals totals() {
    const std::string root = rootDirectory();
    const auto interfaces = linux_proc::parseNetDev(rootedText(root, "/proc/net/dev"));
    const auto stats = linux_proc::parseDiskstats(rootedText(root, "/proc/diskstats"));
    std::vector<std::string> interfaceNames, blockNames;
    for (const auto &row : interfaces)
        interfaceNames.push_back(row.name);
    for (const auto &row : stats)
        blockNames.push_back(row.name);
    const DeviceSet set = currentDeviceSet(root, interfaceNames, blockNames);

    Totals result;
    // The adapters of the adapter list, with the 64-bit counts of /proc/net/dev.
    for (const auto &row : interfaces) {
        const auto speed = set.adapterSpeeds.find(row.name);
        if (speed == set.adapterSpeeds.end())
            continue;
        AdapterTotals totals;
        totals.description = row.name;
        totals.receiveBytes = row.rxBytes;
        totals.transmitBytes = row.txBytes;
        totals.receivePackets = row.rxPackets;
        totals.transmitPackets = row.txPackets;
        totals.speed = speed->second;
        totals.index = set.adapterIndices.at(row.name);
        result.adapters.push_back(totals);
    }

    // Under the numbers the disks keep while attached, the same the device list gives them.
    for (const linux_disks::NumberedDisk &disk : set.disks) {
        for (const auto &row : stats) {
            if (row.name != disk.name)
                continue;
            DiskTotals totals;
            totals.number = disk.number;
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
