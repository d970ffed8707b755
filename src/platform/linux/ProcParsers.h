// Parsers of the kernel's text interfaces (/proc, /sys, the udev database).
//
// Each one is a pure function from the file's text to plain values, so that it can be checked
// against fixture files; reading the files and keeping state between samples happen elsewhere.
// None of them throws: text they cannot make sense of gives empty or zero values.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace platform::linux_proc {

// /proc/meminfo, in bytes. MemAvailable is missing before Linux 3.14; then the free, buffer
// and page-cache figures stand in for it, as the kernel itself estimated it at the time.
struct MemInfo {
    uint64_t memTotal = 0;
    uint64_t memAvailable = 0;
    uint64_t swapTotal = 0;
    uint64_t swapFree = 0;
};
MemInfo parseMeminfo(const std::string &text);
MemInfo parseMeminfo(const char *text, size_t size);

// One "cpuN" line of /proc/stat, in clock ticks.
struct CpuTimes {
    uint32_t cpu = 0;
    uint64_t busy = 0;
    uint64_t total = 0;
};
std::vector<CpuTimes> parseStat(const std::string &text);
// The same into rows kept from an earlier call, so that a reading each second allocates nothing.
void parseStat(const char *text, size_t size, std::vector<CpuTimes> &rows);

// One interface of /proc/net/dev.
struct InterfaceCounters {
    std::string name;
    uint64_t rxBytes = 0;
    uint64_t rxPackets = 0;
    uint64_t txBytes = 0;
    uint64_t txPackets = 0;
};
std::vector<InterfaceCounters> parseNetDev(const std::string &text);
void parseNetDev(const char *text, size_t size, std::vector<InterfaceCounters> &rows);

// One line of /proc/diskstats.
struct DiskCounters {
    uint32_t major = 0;
    uint32_t minor = 0;
    std::string name;
    uint64_t reads = 0;
    uint64_t readSectors = 0;
    uint64_t writes = 0;
    uint64_t writeSectors = 0;
    uint64_t ioTicksMs = 0;
};
std::vector<DiskCounters> parseDiskstats(const std::string &text);
void parseDiskstats(const char *text, size_t size, std::vector<DiskCounters> &rows);

// One line of /proc/net/route; addresses already in dotted form.
struct Route {
    std::string interface;
    std::string destination;
    std::string gateway;
    std::string mask;
    uint32_t flags = 0;
};
std::vector<Route> parseRoutes(const std::string &text);
// An address as /proc/net/route prints it: the network-order word read as a native integer.
std::string routeAddress(const std::string &hex);
// The gateway of the default route through the interface; empty when it has none.
std::string defaultGateway(const std::vector<Route> &routes, const std::string &interface);

// One "processor" block of /proc/cpuinfo: every "key : value" line, keys as printed.
using CpuInfoBlock = std::map<std::string, std::string>;
std::vector<CpuInfoBlock> parseCpuinfo(const std::string &text);
// The processor's marketing name, from whichever line the architecture prints it in.
std::string processorName(const CpuInfoBlock &block);
// The identification text in the form Windows gives it ("Intel64 Family 6 Model 158 Stepping
// 10"); machine is the kernel's machine name (uname), which says whether the system is 64-bit.
std::string processorIdentifier(const CpuInfoBlock &block, const std::string &machine);

// One line of /proc/self/mounts, with the kernel's octal escapes (\040 for a blank) undone.
struct Mount {
    std::string device;
    std::string mountPoint;
    std::string type;
};
std::vector<Mount> parseMounts(const std::string &text);
// The kernel's octal escapes in mount tables (\040 for a blank) undone.
std::string unescapeOctal(const std::string &text);

// The "E:KEY=value" properties of a udev database entry (/run/udev/data/bMAJ:MIN).
std::map<std::string, std::string> parseUdevProperties(const std::string &text);
// Undoes udev's \xNN escapes (ID_MODEL_ENC and friends).
std::string decodeUdevEscapes(const std::string &text);

// The lines of a text, without their line ends.
std::vector<std::string> lines(const std::string &text);
// Leading and trailing white space removed.
std::string trim(const std::string &text);

} // namespace platform::linux_proc
