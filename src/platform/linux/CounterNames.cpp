#include "CounterNames.h"

namespace platform::linux_counters {

namespace {

struct Name {
    uint32_t index;
    const char *name;
};

// Indices as Windows numbers them in its English counter table (the same on every Windows
// version and language), in ascending order: the objects and counters the query can serve and
// a few common neighbours that it cannot.
constexpr Name names[] = {
    {2, "System"},
    {4, "Memory"},
    {6, "% Processor Time"},
    {144, "% Privileged Time"},
    {146, "Context Switches/sec"},
    {200, "% Disk Time"},
    {214, "Disk Reads/sec"},
    {216, "Disk Writes/sec"},
    {220, "Disk Read Bytes/sec"},
    {222, "Disk Write Bytes/sec"},
    {230, "Process"},
    {234, "PhysicalDisk"},
    {238, "Processor"},
    {264, "Bytes Received/sec"},
    {266, "Packets Received/sec"},
    {452, "Packets Sent/sec"},
    {506, "Bytes Sent/sec"},
    {510, "Network Interface"},
    {520, "Current Bandwidth"},
};

} // namespace

std::string englishNameList() {
    std::string list;
    for (const Name &entry : names) {
        list += std::to_string(entry.index);
        list += '\0';
        list += entry.name;
        list += '\0';
    }
    list += '\0';
    return list;
}

std::string englishName(uint32_t index) {
    for (const Name &entry : names) {
        if (entry.index == index)
            return entry.name;
    }
    return {};
}

} // namespace platform::linux_counters
