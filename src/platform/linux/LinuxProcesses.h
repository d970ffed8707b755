// Processes on Linux: /proc/<pid>/stat below the root directory.
#pragma once

#include <cstdint>
#include <string>

namespace platform::linux_processes {

struct ProcessStat {
    std::string name;     // the command name between the parentheses
    uint64_t ticks = 0;   // utime + stime, in USER_HZ ticks
    uint64_t pages = 0;   // resident set size, in pages
    uint64_t started = 0; // start time after boot, in USER_HZ ticks
    bool valid = false;
};
// One /proc/<pid>/stat line. The command name may hold blanks and parentheses, so the fields
// are counted from its last closing parenthesis.
ProcessStat parseProcessStat(const std::string &text);

} // namespace platform::linux_processes
