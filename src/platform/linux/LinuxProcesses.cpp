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
    // After the name: state (field 3), ..., flags (9), ..., utime (14), stime (15), ...,
    // starttime (22), ..., rss (24).
    std::istringstream rest(text.substr(close + 1));
    std::vector<std::string> f;
    for (std::string field; f.size() < 22 && rest >> field;)
        f.push_back(field);
    if (f.size() < 22)
        return stat;
    stat.ticks =
        std::strtoull(f[11].c_str(), nullptr, 10) + std::strtoull(f[12].c_str(), nullptr, 10);
    stat.started = std::strtoull(f[19].c_str(), nullptr, 10);
    // PF_KTHREAD
    stat.kernelThread = (std::strtoull(f[6].c_str(), nullptr, 10) & 0x00200000) != 0;
    // A kernel thread reports 0; a negative figure does not occur, but is no count.
    stat.pages = f[21][0] == '-' ? 0 : std::strtoull(f[21].c_str(), nullptr, 10);
    stat.valid = true;
    return stat;
}

namespace {
std::string fileName(const std::string &path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}
} // namespace

std::string programName(const std::string &kept, const std::string &commandLine,
                        const std::string &executable) {
    const size_t firstEnd = commandLine.find('\0');
    std::string first = commandLine.substr(0, firstEnd);
    std::string second;
    if (firstEnd != std::string::npos && firstEnd + 1 < commandLine.size())
        second =
            commandLine.substr(firstEnd + 1, commandLine.find('\0', firstEnd + 1) - (firstEnd + 1));
    // A program that wrote its arguments back as one line of words (setproctitle: "agent:
    // worker (idle)") has a single argument that is no path.
    if (second.empty() && first.find(' ') != std::string::npos)
        first.clear();
    // The kernel marks the target of a link whose file was replaced or removed.
    std::string image = executable;
    const std::string deleted = " (deleted)";
    if (image.size() > deleted.size() &&
        image.compare(image.size() - deleted.size(), deleted.size(), deleted) == 0)
        image.resize(image.size() - deleted.size());
    for (const std::string &path : {first, image, second}) {
        const std::string name = fileName(path);
        if (name.size() > kept.size() && name.compare(0, kept.size(), kept) == 0)
            return name;
    }
    return kept;
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
        // Kernel threads have only the kernel's name, which is theirs whole.
        if (stat.name.size() == linux_processes::keptNameLength && !stat.kernelThread) {
            const std::string path = proc + "/" + entry;
            use.name =
                linux_processes::programName(stat.name, linux_files::readText(path + "/cmdline"),
                                             linux_files::linkTarget(path + "/exe"));
        }
        use.started = stat.started;
        use.cpuMicroseconds = stat.ticks / uint64_t(hz) * 1000000 +
                              stat.ticks % uint64_t(hz) * 1000000 / uint64_t(hz);
        use.residentBytes = stat.pages * uint64_t(page);
        result.push_back(std::move(use));
    }
    return result;
}

} // namespace platform
