// A performance-counter query that behaves like one of the Windows counter service: counters
// are added by path, the query is collected as a whole, and each counter then reads the rate
// or percentage between its last two collections.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace platform {

class LinuxCounterQuery {
public:
    // Where the query gets its figures; tests replace these with fixture text and a fake clock.
    struct Sources {
        // The text of a kernel file named by its absolute path ("/proc/stat").
        std::function<std::string(const std::string &path)> readFile;
        // The kernel name of physical disk n; empty when no attached disk has the number.
        std::function<std::string(uint32_t number)> diskName;
        std::function<std::string()> computerName;
        // A steady clock, in nanoseconds.
        std::function<int64_t()> nowNanoseconds;
        // The width of the kernel's unsigned long, in which it counts packets, bytes, disk
        // operations and sectors: 32 on a 32-bit kernel, where those counts wrap.
        unsigned kernelLongBits = 64;
    };
    // The running system below platform::rootDirectory().
    static Sources liveSources();

    explicit LinuxCounterQuery(Sources sources);

    // A counter for a path such as \\HOST\Processor(0)\% Processor Time; 0 when the computer,
    // object, instance or counter is not known here. A network instance is the interface's own
    // name, byte for byte; a disk instance is its number. Counter numbers are unique in the
    // process.
    uint64_t add(const std::string &path);
    // Takes one sample of every counter: each kernel file is read once for all of them.
    void collect();
    // The counter's figure under the counter service's format flags; 0 for an unknown counter
    // or one that has not yet been collected twice.
    int64_t value(uint64_t counter, uint32_t flags) const;
    // False when the query does not hold the counter.
    bool remove(uint64_t counter);
    // The counters held now.
    size_t count() const;

private:
    enum class Kind {
        ProcessorTime,
        PacketsReceived,
        PacketsSent,
        BytesReceived,
        BytesSent,
        DiskReads,
        DiskWrites,
        DiskReadBytes,
        DiskWriteBytes,
        DiskTime,
    };
    struct Sample {
        bool valid = false;
        uint64_t count = 0; // as the kernel prints it: disk bytes are counted in sectors
        uint64_t base = 0;  // processor time: the ticks of the interval's whole
        int64_t time = 0;
    };
    struct Counter {
        Kind kind;
        std::string device; // interface or disk kernel name
        uint32_t cpu = 0;
        // The width the kernel counts this figure in; a count that goes down wrapped when it is
        // 32, and was reset (a device made anew) when it is 64.
        unsigned bits = 64;
        Sample previous;
        Sample last;
    };

    bool resolve(const std::string &object, const std::string &instance,
                 const std::string &counterName, Counter &counter) const;
    static double figure(const Counter &counter);

    const Sources sources;
    // Guards counters: collection, reads, additions and removals come from several threads.
    mutable std::mutex mutex;
    std::map<uint64_t, Counter> counters;
};

} // namespace platform
