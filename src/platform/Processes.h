// The running processes with their processor time and resident memory so far: what a list of
// the busiest processes is made from, by comparing two readings.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

struct ProcessUse {
    uint32_t pid = 0;
    std::string name;             // the program's name (Windows: its image name), UTF-8
    uint64_t cpuMicroseconds = 0; // user plus kernel time since the process started
    uint64_t residentBytes = 0;   // resident set (Windows: working set)
    // When it started, in the system's own unit (Linux: clock ticks since boot; Windows: 100 ns
    // since 1601). A pid is reused, and a process may rename itself: the pid with its start
    // time is the process.
    uint64_t started = 0;
};

// One reading of every process the caller may see; processes that end while they are read are
// left out. Linux: /proc/<pid>/stat (and, for a name the kernel cut short, the command line or
// the executable); Windows: one NtQuerySystemInformation call.
std::vector<ProcessUse> processes();

} // namespace platform
