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

// The counter service names a network instance after the interface, with the characters that
// are special in a counter path replaced: "(" by "[", ")" by "]", "#" and "/" by "_". A control
// character (legal in a Linux interface name) becomes U+FFFD, as in the adapter's record name.
std::string networkInstance(const std::string &interface) {
    std::string name;
    for (const char c : interface) {
        if (c == '(')
            name += '[';
        else if (c == ')')
            name += ']';
        else if (c == '#' || c == '/')
            name += '_';
        else if (static_cast<unsigned char>(c) < 0x20)
            name += "\xEF\xBF\xBD";
        else
            name += c;
    }
    return name;
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
    // Numbered as the last disk scan found them, so that a disk counter names the disk its
    // record was made for.
    live.diskNames = [] { return linux_disks::numberedDisks(rootDirectory(), false); };
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
    if (sameName(object, "Processor")) {
        if (!sameName(counterName, "% Processor Time"))
            return false;
        // Windows numbers the processors it runs on from 0 without gaps; the kernel keeps the
        // numbers of processors that were taken offline, so instance n is the n-th one listed.
        uint32_t position = 0;
        if (!decimal(instance, position))
            return false;
        const auto cpus = linux_proc::parseStat(sources.readFile("/proc/stat"));
        if (position >= cpus.size())
            return false;
        counter.kind = Kind::ProcessorTime;
        counter.bits = 64; // /proc/stat prints 64-bit tick counts on every kernel
        counter.cpu = cpus[position].cpu;
        return true;
    }
    if (sameName(object, "Network Interface")) {
        const std::pair<const char *, Kind> kinds[] = {
            {"Packets Received/sec", Kind::PacketsReceived},
            {"Packets Sent/sec", Kind::PacketsSent},
            {"Bytes Received/sec", Kind::BytesReceived},
            {"Bytes Sent/sec", Kind::BytesSent},
        };
        auto kind = std::find_if(std::begin(kinds), std::end(kinds),
                                 [&](const auto &k) { return sameName(counterName, k.first); });
        if (kind == std::end(kinds))
            return false;
        for (const auto &interface : linux_proc::parseNetDev(sources.readFile("/proc/net/dev"))) {
            if (networkInstance(interface.name) == instance) {
                counter.kind = kind->second;
                counter.bits = sources.kernelLongBits;
                counter.device = interface.name;
                return true;
            }
        }
        return false;
    }
    if (sameName(object, "PhysicalDisk")) {
        const std::pair<const char *, Kind> kinds[] = {
            {"Disk Reads/sec", Kind::DiskReads},
            {"Disk Writes/sec", Kind::DiskWrites},
            {"Disk Read Bytes/sec", Kind::DiskReadBytes},
            {"Disk Write Bytes/sec", Kind::DiskWriteBytes},
            {"% Disk Time", Kind::DiskTime},
        };
        auto kind = std::find_if(std::begin(kinds), std::end(kinds),
                                 [&](const auto &k) { return sameName(counterName, k.first); });
        if (kind == std::end(kinds))
            return false;
        // A disk's instance is its number, as the last disk scan numbered them.
        uint32_t disk = 0;
        if (!decimal(instance, disk))
            return false;
        const std::vector<std::string> disks = sources.diskNames();
        if (disk >= disks.size())
            return false;
        counter.kind = kind->second;
        // The busy time is printed as 32 bits of milliseconds even by a 64-bit kernel.
        counter.bits = counter.kind == Kind::DiskTime ? 32 : sources.kernelLongBits;
        counter.device = disks[disk];
        return true;
    }
    return false;
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
            for (const auto &interface : interfaces) {
                if (interface.name != counter.device)
                    continue;
                sample.valid = true;
                sample.count = counter.kind == Kind::PacketsReceived ? interface.rxPackets
                               : counter.kind == Kind::PacketsSent   ? interface.txPackets
                               : counter.kind == Kind::BytesReceived ? interface.rxBytes
                                                                     : interface.txBytes;
            }
            break;
        default:
            for (const auto &disk : disks) {
                if (disk.name != counter.device)
                    continue;
                sample.valid = true;
                sample.count = counter.kind == Kind::DiskReads        ? disk.reads
                               : counter.kind == Kind::DiskWrites     ? disk.writes
                               : counter.kind == Kind::DiskReadBytes  ? disk.readSectors
                               : counter.kind == Kind::DiskWriteBytes ? disk.writeSectors
                                                                      : disk.ioTicksMs;
            }
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

} // namespace platform
