// Processes on Linux: /proc/<pid>/stat below the root directory, and for a name the kernel cut
// short, the process's command line and executable.
#pragma once

#include <cstdint>
#include <string>

namespace platform::linux_processes {

struct ProcessStat {
    std::string name;     // the command name between the parentheses
    uint64_t ticks = 0;   // utime + stime, in USER_HZ ticks
    uint64_t pages = 0;   // resident set size, in pages
    uint64_t started = 0; // start time after boot, in USER_HZ ticks
    bool kernelThread = false;
    bool valid = false;
};
// One /proc/<pid>/stat line. The command name may hold blanks and parentheses, so the fields
// are counted from its last closing parenthesis.
ProcessStat parseProcessStat(const std::string &text);

// The kernel keeps the first 15 bytes of a program's name.
constexpr size_t keptNameLength = 15;

// The program's whole name, for a process whose kernel name (`kept`) is that long: the file name
// of its first argument, of its executable (the link's target) or of its second argument (the
// script an interpreter runs), the first that begins with `kept`. `commandLine` is the
// arguments, each ended by a NUL. A process that named itself otherwise keeps `kept`.
std::string programName(const std::string &kept, const std::string &commandLine,
                        const std::string &executable);

} // namespace platform::linux_processes
