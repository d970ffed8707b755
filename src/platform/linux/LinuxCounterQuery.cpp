#include "LinuxCounterQuery.h"

#include "LinuxDisks.h"
#include "ProcParsers.h"
#include "SystemFiles.h"
#include "platform/Platform.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cmath>
#include <limits>
#include <sys/utsname.h>

namespace platform {

namespace {

// Numbers are unique across every query, so that a stale number never reaches another counter.
std::atomic<uint64_t> nextCounter{1};

bool sameName(const std::string &a, const std::string &b) {
    // The counter service matches object and counter names without regard to case.
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

// The change from a to b of a counter `bits` wide; false when it went down without wrapping.
bool counted(uint64_t a, uint64_t b, unsigned bits, uint64_t &change) {
    if (b >= a) {
        change = b - a;
        return true;
    }
    constexpr uint64_t narrowRange = uint64_t(1) << 32;
    if (bits != 32 || a >= narrowRange)
        return false;
    change = narrowRange - a + b;
    return true;
}

// The count pick() takes from the device's row of a kernel table (the last, should the device
// be listed twice); false when no row names the device.
template <typename Row, typename Pick>
bool deviceCount(const std::vector<Row> &rows, const std::string &device, uint64_t &count,
                 Pick pick) {
    bool found = false;
    for (const Row &row : rows) {
        if (row.name == device) {
            count = pick(row);
            found = true;
        }
    }
    return found;
}

// The kernel's word width as its machine name tells it (x86_64, aarch64, ppc64le, s390x ...).
unsigned liveKernelLongBits() {
    utsname names{};
    if (uname(&names) != 0)
        return 64;
    const std::string machine = names.machine;
    return machine.find("64") != std::string::npos || machine == "s390x" ? 64 : 32;
}

bool decimal(const std::string &text, uint32_t &number) {
    if (text.empty() || text.size() > 9)
        return false;
    uint32_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + static_cast<uint32_t>(c - '0');
    }
    number = value;
    return true;
}

} // namespace

LinuxCounterQuery::Sources LinuxCounterQuery::liveSources() {
    Sources live;
    live.readFile = [](const std::string &path) {
        return linux_files::readText(linux_files::underRoot(rootDirectory(), path));
    };
    // A number names one disk for as long as it stays attached, so a disk counter always
    // names the disk its record was made for.
    live.diskName = [](uint32_t number) {
        return linux_disks::numberedDisk(rootDirectory(), number);
    };
    live.computerName = [] { return platform::computerName(); };
    live.nowNanoseconds = [] {
        return static_cast<int64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                        std::chrono::steady_clock::now().time_since_epoch())
                                        .count());
    };
    live.kernelLongBits = liveKernelLongBits();
    return live;
}

LinuxCounterQuery::LinuxCounterQuery(Sources sources) : sources(std::move(sources)) {}

bool LinuxCounterQuery::resolve(const std::string &object, const std::string &instance,
                                const std::string &counterName, Counter &counter) const {
    // Every object and counter this query serves.
    static const struct {
        const char *object;
        const char *counter;
        Kind kind;
    } known[] = {
        {"Processor", "% Processor Time", Kind::ProcessorTime},
        {"Network Interface", "Packets Received/sec", Kind::PacketsReceived},
        {"Network Interface", "Packets Sent/sec", Kind::PacketsSent},
        {"Network Interface", "Bytes Received/sec", Kind::BytesReceived},
        {"Network Interface", "Bytes Sent/sec", Kind::BytesSent},
        {"PhysicalDisk", "Disk Reads/sec", Kind::DiskReads},
        {"PhysicalDisk", "Disk Writes/sec", Kind::DiskWrites},
        {"PhysicalDisk", "Disk Read Bytes/sec", Kind::DiskReadBytes},
        {"PhysicalDisk", "Disk Write Bytes/sec", Kind::DiskWriteBytes},
        {"PhysicalDisk", "% Disk Time", Kind::DiskTime},
    };
    const auto entry = std::find_if(std::begin(known), std::end(known), [&](const auto &k) {
        return sameName(object, k.object) && sameName(counterName, k.counter);
    });
    if (entry == std::end(known))
        return false;
    counter.kind = entry->kind;
    if (counter.kind == Kind::ProcessorTime) {
        // Windows numbers the processors it runs on from 0 without gaps; the kernel keeps the
        // numbers of processors that were taken offline, so instance n is the n-th one listed.
        uint32_t position = 0;
        if (!decimal(instance, position))
            return false;
        const auto cpus = linux_proc::parseStat(sources.readFile("/proc/stat"));
        if (position >= cpus.size())
            return false;
        counter.bits = 64; // /proc/stat prints 64-bit tick counts on every kernel
        counter.cpu = cpus[position].cpu;
        return true;
    }
    if (counter.kind <= Kind::BytesSent) {
        for (const auto &interface : linux_proc::parseNetDev(sources.readFile("/proc/net/dev"))) {
            // The interface itself: a name that was cleaned or changed for display would let two
            // adapters share counters, or leave one without any.
            if (interface.name == instance) {
                counter.bits = sources.kernelLongBits;
                counter.device = interface.name;
                return true;
            }
        }
        return false;
    }
    // A disk's instance is its number.
    uint32_t disk = 0;
    if (!decimal(instance, disk))
        return false;
    counter.device = sources.diskName(disk);
    // The busy time is printed as 32 bits of milliseconds even by a 64-bit kernel.
    counter.bits = counter.kind == Kind::DiskTime ? 32 : sources.kernelLongBits;
    return !counter.device.empty();
}

uint64_t LinuxCounterQuery::add(const std::string &path) {
    // \\computer\object(instance)\counter, or \object(instance)\counter for this computer.
    std::string rest;
    if (path.compare(0, 2, "\\\\") == 0) {
        const size_t end = path.find('\\', 2);
        if (end == std::string::npos)
            return 0;
        const std::string computer = path.substr(2, end - 2);
        // Another computer's figures cannot be read from this one's kernel.
        if (!sameName(computer, sources.computerName()) && computer != "." &&
            !sameName(computer, "localhost"))
            return 0;
        rest = path.substr(end);
    } else if (path.compare(0, 1, "\\") == 0) {
        rest = path;
    } else {
        return 0;
    }
    const size_t open = rest.find('(');
    const size_t counterStart = rest.rfind('\\');
    if (open == std::string::npos || counterStart == 0 || counterStart < open ||
        rest[counterStart - 1] != ')')
        return 0;
    const std::string object = rest.substr(1, open - 1);
    const std::string instance = rest.substr(open + 1, counterStart - 1 - open - 1);
    const std::string counterName = rest.substr(counterStart + 1);

    Counter counter{};
    if (!resolve(object, instance, counterName, counter))
        return 0;
    const uint64_t number = nextCounter.fetch_add(1);
    std::lock_guard<std::mutex> lock(mutex);
    counters.emplace(number, counter);
    return number;
}

void LinuxCounterQuery::collect() {
    bool wantStat = false, wantNet = false, wantDisks = false;
    {
        std::lock_guard<std::mutex> lock(mutex);
        for (const auto &entry : counters) {
            const Kind kind = entry.second.kind;
            wantStat |= kind == Kind::ProcessorTime;
            wantNet |= kind >= Kind::PacketsReceived && kind <= Kind::BytesSent;
            wantDisks |= kind >= Kind::DiskReads;
        }
    }
    // The files are read outside the lock so that a slow read never holds up the readers.
    const int64_t now = sources.nowNanoseconds();
    const auto cpus = wantStat ? linux_proc::parseStat(sources.readFile("/proc/stat"))
                               : std::vector<linux_proc::CpuTimes>();
    const auto interfaces = wantNet ? linux_proc::parseNetDev(sources.readFile("/proc/net/dev"))
                                    : std::vector<linux_proc::InterfaceCounters>();
    const auto disks = wantDisks ? linux_proc::parseDiskstats(sources.readFile("/proc/diskstats"))
                                 : std::vector<linux_proc::DiskCounters>();

    std::lock_guard<std::mutex> lock(mutex);
    for (auto &entry : counters) {
        Counter &counter = entry.second;
        Sample sample;
        sample.time = now;
        switch (counter.kind) {
        case Kind::ProcessorTime:
            for (const auto &times : cpus) {
                if (times.cpu == counter.cpu) {
                    sample.valid = true;
                    sample.count = times.busy;
                    sample.base = times.total;
                }
            }
            break;
        case Kind::PacketsReceived:
        case Kind::PacketsSent:
        case Kind::BytesReceived:
        case Kind::BytesSent:
            sample.valid =
                deviceCount(interfaces, counter.device, sample.count, [&](const auto &i) {
                    return counter.kind == Kind::PacketsReceived ? i.rxPackets
                           : counter.kind == Kind::PacketsSent   ? i.txPackets
                           : counter.kind == Kind::BytesReceived ? i.rxBytes
                                                                 : i.txBytes;
                });
            break;
        default:
            sample.valid = deviceCount(disks, counter.device, sample.count, [&](const auto &d) {
                return counter.kind == Kind::DiskReads        ? d.reads
                       : counter.kind == Kind::DiskWrites     ? d.writes
                       : counter.kind == Kind::DiskReadBytes  ? d.readSectors
                       : counter.kind == Kind::DiskWriteBytes ? d.writeSectors
                                                              : d.ioTicksMs;
            });
            break;
        }
        // A count beyond 32 bits shows that the kernel counts this figure in 64.
        if (sample.valid && sample.count > std::numeric_limits<uint32_t>::max())
            counter.bits = 64;
        counter.previous = counter.last;
        counter.last = sample;
    }
}

double LinuxCounterQuery::figure(const Counter &counter) {
    const Sample &a = counter.previous;
    const Sample &b = counter.last;
    if (!a.valid || !b.valid || b.time <= a.time)
        return 0.0;
    // A 32-bit count that went down wrapped, and its change is taken modulo 2^32. A 64-bit one
    // was reset (an interface made anew): the interval's true figure is unknown, and a
    // difference taken across the reset would be enormous.
    uint64_t change = 0;
    if (!counted(a.count, b.count, counter.bits, change) || b.base < a.base)
        return 0.0;
    double count = static_cast<double>(change);
    // The kernel counts in 512-byte sectors whatever the disk's own sector size.
    if (counter.kind == Kind::DiskReadBytes || counter.kind == Kind::DiskWriteBytes)
        count *= 512.0;
    if (counter.kind == Kind::ProcessorTime) {
        const double total = static_cast<double>(b.base - a.base);
        if (total <= 0.0)
            return 0.0;
        // The kernel's iowait figure may step back, which can make the busy share of an
        // interval exceed its whole; a processor is never more than fully busy.
        return std::min(count, total) / total * 100.0;
    }
    const double seconds = static_cast<double>(b.time - a.time) / 1e9;
    if (counter.kind == Kind::DiskTime)
        return count / 1000.0 / seconds * 100.0;
    return count / seconds;
}

int64_t LinuxCounterQuery::value(uint64_t number, uint32_t flags) const {
    std::lock_guard<std::mutex> lock(mutex);
    auto it = counters.find(number);
    if (it == counters.end())
        return 0;
    double v = figure(it->second);
    const bool percentage =
        it->second.kind == Kind::ProcessorTime || it->second.kind == Kind::DiskTime;
    if (percentage && !(flags & FMT_NOCAP100))
        v = std::min(v, 100.0);
    if (flags & FMT_1000)
        v *= 1000.0;
    // Truncated toward zero, as the counter service formats a large integer.
    if (!(v >= 0.0))
        return 0;
    if (v >= 9.2e18)
        return std::numeric_limits<int64_t>::max();
    return static_cast<int64_t>(v);
}

bool LinuxCounterQuery::remove(uint64_t number) {
    std::lock_guard<std::mutex> lock(mutex);
    return counters.erase(number) > 0;
}

size_t LinuxCounterQuery::count() const {
    std::lock_guard<std::mutex> lock(mutex);
    return counters.size();
}

} // namespace platform
