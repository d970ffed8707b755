// The parsers of the kernel's text files (/proc, /sys attributes, the udev database) and the
// counter-name table.
//
// Input: the first byte picks the parser, the rest is the file's text.
#include "FuzzCheck.h"
#include "platform/linux/CounterNames.h"
#include "platform/linux/ProcParsers.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

using namespace platform::linux_proc;

namespace {

bool isBlank(char c) {
    return std::strchr(" \t\r\n\v\f", c) != nullptr && c != '\0';
}

void checkTrimmed(const std::string &text) {
    FUZZ_CHECK(text.empty() || (!isBlank(text.front()) && !isBlank(text.back())));
}

// Empty, or four numbers 0..255 joined by dots.
void checkDotted(const std::string &address) {
    if (address.empty())
        return;
    int parts = 0;
    size_t at = 0;
    while (true) {
        const size_t dot = address.find('.', at);
        const std::string part = address.substr(at, dot == std::string::npos ? dot : dot - at);
        FUZZ_CHECK(!part.empty() && part.size() <= 3 &&
                   part.find_first_not_of("0123456789") == std::string::npos &&
                   std::stoi(part) <= 255);
        ++parts;
        if (dot == std::string::npos)
            break;
        at = dot + 1;
    }
    FUZZ_CHECK(parts == 4);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1)
        return 0;
    const std::string text(reinterpret_cast<const char *>(data + 1), size - 1);
    switch (data[0] % 10) {
    case 0: {
        const MemInfo info = parseMeminfo(text);
        (void)info;
        break;
    }
    case 1:
        for (const CpuTimes &times : parseStat(text))
            (void)times;
        break;
    case 2:
        for (const InterfaceCounters &interface : parseNetDev(text)) {
            checkTrimmed(interface.name);
            FUZZ_CHECK(interface.name.find(':') == std::string::npos);
        }
        break;
    case 3:
        for (const DiskCounters &disk : parseDiskstats(text))
            FUZZ_CHECK(!disk.name.empty() && disk.name.find_first_of(" \t\n") == std::string::npos);
        break;
    case 4: {
        const std::vector<Route> routes = parseRoutes(text);
        for (const Route &route : routes) {
            checkDotted(route.destination);
            checkDotted(route.gateway);
            checkDotted(route.mask);
            checkDotted(defaultGateway(routes, route.interface));
        }
        checkDotted(routeAddress(text));
        break;
    }
    case 5:
        for (const CpuInfoBlock &block : parseCpuinfo(text)) {
            FUZZ_CHECK(block.count("processor") == 1);
            for (const auto &entry : block) {
                checkTrimmed(entry.first);
                checkTrimmed(entry.second);
            }
            processorName(block);
            for (const char *machine : {"x86_64", "i686", "aarch64", ""})
                processorIdentifier(block, machine);
        }
        break;
    case 6:
        for (const Mount &mount : parseMounts(text)) {
            // Undoing the escapes only ever shortens a field.
            FUZZ_CHECK(mount.device.size() + mount.mountPoint.size() + mount.type.size() <
                       text.size());
        }
        break;
    case 7:
        for (const auto &property : parseUdevProperties(text)) {
            const std::string decoded = decodeUdevEscapes(property.second);
            FUZZ_CHECK(decoded.size() <= property.second.size());
        }
        break;
    case 8: {
        const std::string trimmed = trim(text);
        checkTrimmed(trimmed);
        FUZZ_CHECK(trim(trimmed) == trimmed);
        FUZZ_CHECK(text.find(trimmed) != std::string::npos);
        break;
    }
    default: {
        uint32_t index = 0;
        std::memcpy(&index, text.data(), std::min<size_t>(text.size(), sizeof index));
        const std::string name = platform::linux_counters::englishName(index);
        // A known index is listed, and its name follows it.
        if (!name.empty())
            FUZZ_CHECK(platform::linux_counters::englishNameList().find(
                           std::to_string(index) + std::string(1, '\0') + name +
                           std::string(1, '\0')) != std::string::npos);
        break;
    }
    }
    return 0;
}
