#include "LinuxProcesses.h"

#include "SystemFiles.h"
#include "platform/Platform.h"
#include "platform/Processes.h"

#include <cstdlib>
#include <sstream>
#include <unistd.h>
#include <vector>

namespace platform::linux_processes {

ProcessStat parseProcessStat(const std::string &text) {
    ProcessStat stat;
    const size_t open = text.find('(');
    const size_t close = text.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close < open)
        return stat;
    stat.name = text.substr(open + 1, close - open - 1);
    // After the name: state (field 3), ..., utime (14), stime (15), ..., starttime (22), ...,
    // rss (24).
    std::istringstream rest(text.substr(close + 1));
    std::vector<std::string> f;
    for (std::string field; f.size() < 22 && rest >> field;)
        f.push_back(field);
    if (f.size() < 22)
        return stat;
    stat.ticks =
        std::strtoull(f[11].c_str(), nullptr, 10) + std::strtoull(f[12].c_str(), nullptr, 10);
    stat.started = std::strtoull(f[19].c_str(), nullptr, 10);
    // A kernel thread reports 0; a negative figure does not occur, but is no count.
    stat.pages = f[21][0] == '-' ? 0 : std::strtoull(f[21].c_str(), nullptr, 10);
    stat.valid = true;
    return stat;
}

} // namespace platform::linux_processes

namespace platform {

std::vector<ProcessUse> processes() {
    static const long hz = sysconf(_SC_CLK_TCK) > 0 ? sysconf(_SC_CLK_TCK) : 100;
    static const long page = sysconf(_SC_PAGESIZE) > 0 ? sysconf(_SC_PAGESIZE) : 4096;
    const std::string proc = linux_files::underRoot(rootDirectory(), "/proc");
    std::vector<ProcessUse> result;
    for (const std::string &entry : linux_files::directoryEntries(proc)) {
        char *end = nullptr;
        const unsigned long pid = std::strtoul(entry.c_str(), &end, 10);
        if (entry.empty() || *end != '\0')
            continue;
        const auto stat =
            linux_processes::parseProcessStat(linux_files::readText(proc + "/" + entry + "/stat"));
        if (!stat.valid)
            continue; // ended meanwhile
        ProcessUse use;
        use.pid = uint32_t(pid);
        use.name = stat.name;
        use.started = stat.started;
        use.cpuMicroseconds = stat.ticks / uint64_t(hz) * 1000000 +
                              stat.ticks % uint64_t(hz) * 1000000 / uint64_t(hz);
        use.residentBytes = stat.pages * uint64_t(page);
        result.push_back(std::move(use));
    }
    return result;
}

} // namespace platform
