// The system's own running totals per device: what a monitoring server scrapes and turns into
// rates itself. Every figure counts up from an arbitrary start (usually boot) and only falls
// when the system resets it (an adapter made anew, a reboot).
#pragma once

#include "platform/Platform.h"

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// One network adapter, named as the adapter list (adapters()) describes it, untrimmed.
struct AdapterTotals {
    std::string description;
    uint64_t receiveBytes = 0;
    uint64_t transmitBytes = 0;
    uint64_t receivePackets = 0;
    uint64_t transmitPackets = 0;
    uint64_t speed = 0; // bits per second; 0 when the link is down or its speed unknown
    uint32_t index = 0; // the interface index, as Adapter::index
};

// Physical disk n, numbered as physicalDiskNumbers() numbers them; a disk that is no longer
// attached is not listed.
struct DiskTotals {
    uint32_t number = 0;
    uint64_t readBytes = 0;
    uint64_t writeBytes = 0;
    uint64_t reads = 0;
    uint64_t writes = 0;
    uint64_t busyMicroseconds = 0; // time with requests outstanding
};

// Logical processor n, numbered as the processor counters number them (0 without gaps).
struct ProcessorTotals {
    uint32_t index = 0;
    uint64_t busyMicroseconds = 0; // time not spent idle or waiting for I/O
};

struct Totals {
    std::vector<AdapterTotals> adapters;
    std::vector<DiskTotals> disks;
    std::vector<ProcessorTotals> processors;
};

// One reading of every device's totals; devices that cannot be read are left out. Cheap enough
// to run on every scrape: a handful of kernel files on Linux, a few system calls per device on
// Windows.
Totals totals();
// The same and memory's status, both from one reading, for the sampling pass: each kernel file
// is read once through a descriptor kept open, and `into` keeps its storage from the last
// reading, so that a pass allocates nothing while the devices stay the same.
void readTotals(Totals &into, MemoryStatus &memory);

} // namespace platform
