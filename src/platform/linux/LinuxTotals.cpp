// Running totals and memory on Linux: /proc/net/dev, /proc/diskstats, /proc/stat and
// /proc/meminfo below the root directory, for the same adapters, disks and processors the device
// lists name.
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
// block devices; a scrape then reads four kernel files and nothing else. Every speedAge the
// links' speeds are read again, so that a link that changes speed is soon seen, and with them
// what tells another device under a known name: an interface's index, a disk's sequence number
// (the whole set is read again when one of them changed).
struct DeviceSet {
    std::string root;
    std::vector<std::string> interfaces;
    std::vector<std::string> blockDevices;
    std::chrono::steady_clock::time_point takenAt;
    std::map<std::string, uint64_t> adapterSpeeds;  // interface -> bits per second
    std::map<std::string, uint32_t> adapterIndices; // interface -> interface index
    std::vector<linux_disks::NumberedDisk> disks;
    std::vector<std::string> diskSequences; // by disk, as sysfs gives them
};
// A link changes speed rarely; reading the speeds every 10 s cost an idle monitor a tenth of
// its sampling.
constexpr std::chrono::seconds speedAge{30};

// A disk's sequence number: another disk that takes the name has another.
std::string diskSequence(const std::string &root, const std::string &disk) {
    return linux_files::readLine(linux_files::underRoot(root, "/sys/block/" + disk + "/diskseq"));
}

// The link speed of an adapter, 0 when down or unknown, and its interface index (0 unknown).
void readAdapter(const std::string &net, const std::string &name, uint64_t &speed,
                 uint32_t &index) {
    // The driver refuses the read, or says -1, when the link is down or its speed unknown;
    // a speed it keeps from before the link went down is not taken either.
    const long long megabits = attribute(net + name + "/speed");
    const bool up = megabits > 0 && linux_files::readLine(net + name + "/operstate") == "up";
    speed = up ? static_cast<uint64_t>(megabits) * 1000000u : 0;
    const long long number = attribute(net + name + "/ifindex");
    index = number > 0 ? static_cast<uint32_t>(number) : 0;
}

DeviceSet readDeviceSet(const std::string &root, std::vector<std::string> interfaces,
                        std::vector<std::string> blockDevices) {
    DeviceSet set{root,
                  std::move(interfaces),
                  std::move(blockDevices),
                  std::chrono::steady_clock::now(),
                  {},
                  {},
                  linux_disks::attachedDisks(root),
                  {}};
    const std::string net = linux_files::underRoot(root, "/sys/class/net/");
    for (const std::string &name : set.interfaces) {
        const long long type = attribute(net + name + "/type");
        if (type == loopbackType || (type < 0 && name == "lo"))
            continue;
        readAdapter(net, name, set.adapterSpeeds[name], set.adapterIndices[name]);
    }
    for (const linux_disks::NumberedDisk &disk : set.disks)
        set.diskSequences.push_back(diskSequence(root, disk.name));
    return set;
}

// The links' speeds read again; false, and the set to be read again, when an interface or a
// disk is another device than the one of its name when the set was read.
bool refreshSpeeds(DeviceSet &set) {
    set.takenAt = std::chrono::steady_clock::now();
    const std::string net = linux_files::underRoot(set.root, "/sys/class/net/");
    for (auto &[name, speed] : set.adapterSpeeds) {
        uint32_t index = 0;
        readAdapter(net, name, speed, index);
        if (index != set.adapterIndices[name])
            return false;
    }
    for (size_t i = 0; i < set.disks.size(); ++i)
        if (diskSequence(set.root, set.disks[i].name) != set.diskSequences[i])
            return false;
    return true;
}

// Whether the rows name the same devices, in the same order, as the names.
template <typename Row>
bool sameNames(const std::vector<Row> &rows, const std::vector<std::string> &names) {
    if (rows.size() != names.size())
        return false;
    for (size_t i = 0; i < rows.size(); ++i)
        if (rows[i].name != names[i])
            return false;
    return true;
}

template <typename Row> std::vector<std::string> namesOf(const std::vector<Row> &rows) {
    std::vector<std::string> names;
    for (const Row &row : rows)
        names.push_back(row.name);
    return names;
}

// The four kernel files, kept open, their rows kept from reading to reading, and the device set
// they were last matched with. Never destroyed: a connection thread may still read while the
// process exits.
struct Reader {
    std::mutex mutex; // guards everything below
    std::string root;
    linux_files::KernelFile stat, netDev, diskstats, meminfo;
    std::vector<linux_proc::CpuTimes> cpus;
    std::vector<linux_proc::InterfaceCounters> interfaces;
    std::vector<linux_proc::DiskCounters> disks;
    DeviceSet set;
    bool haveSet = false;
};

Reader &reader() {
    static Reader *const shared = new Reader;
    return *shared;
}

// Windows' page-file figures are its commit limit: RAM plus paging space.
MemoryStatus memoryFromInfo(const linux_proc::MemInfo &info) {
    MemoryStatus status;
    status.totalPhys = info.memTotal;
    status.availPhys = info.memAvailable;
    status.totalPageFile = info.memTotal + info.swapTotal;
    status.availPageFile = info.memAvailable + info.swapFree;
    return status;
}

// The reader's root, following rootDirectory(): a new root forgets the device set.
void follow(Reader &r, const std::string &root) {
    if (root != r.root) {
        r.root = root;
        r.haveSet = false;
    }
}

} // namespace

MemoryStatus memoryStatus() {
    Reader &r = reader();
    std::lock_guard<std::mutex> lock(r.mutex);
    const std::string root = rootDirectory();
    follow(r, root);
    const auto [text, size] = r.meminfo.read(linux_files::underRoot(root, "/proc/meminfo"));
    return memoryFromInfo(linux_proc::parseMeminfo(text, size));
}

void readTotals(Totals &result, MemoryStatus &memory) {
    Reader &r = reader();
    std::lock_guard<std::mutex> lock(r.mutex);
    const std::string root = rootDirectory();
    follow(r, root);
    const auto read = [&root](linux_files::KernelFile &file, const char *path) {
        return file.read(linux_files::underRoot(root, path));
    };
    const auto [netText, netSize] = read(r.netDev, "/proc/net/dev");
    linux_proc::parseNetDev(netText, netSize, r.interfaces);
    const auto [diskText, diskSize] = read(r.diskstats, "/proc/diskstats");
    linux_proc::parseDiskstats(diskText, diskSize, r.disks);
    const auto [statText, statSize] = read(r.stat, "/proc/stat");
    linux_proc::parseStat(statText, statSize, r.cpus);
    const auto [memText, memSize] = read(r.meminfo, "/proc/meminfo");
    const linux_proc::MemInfo info = linux_proc::parseMeminfo(memText, memSize);
    memory = memoryFromInfo(info);

    // What changes only when devices come and go, read again when the kernel lists other
    // interfaces or block devices, or another device took a known name; the speeds every
    // speedAge.
    if (!r.haveSet || !sameNames(r.interfaces, r.set.interfaces) ||
        !sameNames(r.disks, r.set.blockDevices) ||
        (std::chrono::steady_clock::now() - r.set.takenAt >= speedAge && !refreshSpeeds(r.set))) {
        r.set = readDeviceSet(root, namesOf(r.interfaces), namesOf(r.disks));
        r.haveSet = true;
    }
    const DeviceSet &set = r.set;

    // The adapters of the adapter list, with the 64-bit counts of /proc/net/dev.
    size_t adapters = 0;
    for (const auto &row : r.interfaces) {
        const auto speed = set.adapterSpeeds.find(row.name);
        if (speed == set.adapterSpeeds.end())
            continue;
        if (adapters == result.adapters.size())
            result.adapters.emplace_back();
        AdapterTotals &totals = result.adapters[adapters++];
        totals.description.assign(row.name);
        totals.receiveBytes = row.rxBytes;
        totals.transmitBytes = row.txBytes;
        totals.receivePackets = row.rxPackets;
        totals.transmitPackets = row.txPackets;
        totals.speed = speed->second;
        totals.index = set.adapterIndices.at(row.name);
    }
    result.adapters.resize(adapters);

    // Under the numbers the disks keep while attached, the same the device list gives them.
    result.disks.clear();
    for (const linux_disks::NumberedDisk &disk : set.disks) {
        for (const auto &row : r.disks) {
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
    result.processors.clear();
    for (uint32_t i = 0; i < r.cpus.size(); ++i)
        result.processors.push_back({i, ticksToMicroseconds(r.cpus[i].busy)});
}

Totals totals() {
    Totals result;
    MemoryStatus memory;
    readTotals(result, memory);
    return result;
}

} // namespace platform
