// The counter query on kernel texts that change between two collections: counter paths are
// resolved against the first texts, the figures come from the difference to the second.
//
// Input: sections separated by a line "====": the counter paths (one a line), the disk names
// (one a line), /proc/stat, /proc/net/dev and /proc/diskstats as first collected, the same three
// as collected next, and the nanoseconds between the two collections.
#include "FuzzCheck.h"
#include "platform/Platform.h"
#include "platform/linux/LinuxCounterQuery.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace {

std::vector<std::string> split(const std::string &text, const std::string &separator) {
    std::vector<std::string> parts;
    size_t at = 0;
    while (true) {
        const size_t next = text.find(separator, at);
        parts.push_back(text.substr(at, next == std::string::npos ? next : next - at));
        if (next == std::string::npos)
            return parts;
        at = next + separator.size();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::vector<std::string> sections =
        split(std::string(reinterpret_cast<const char *>(data), size), "\n====\n");
    sections.resize(9);
    const std::vector<std::string> paths = split(sections[0], "\n");
    const std::vector<std::string> disks = split(sections[1], "\n");
    int64_t step = 0;
    for (char c : sections[8].substr(0, 15))
        step = step * 10 + (c >= '0' && c <= '9' ? c - '0' : 0);

    int round = 0;
    int64_t now = 1000000000;
    platform::LinuxCounterQuery::Sources sources;
    sources.readFile = [&](const std::string &path) {
        const size_t first = 2 + size_t(round) * 3;
        if (path == "/proc/stat")
            return sections[first];
        if (path == "/proc/net/dev")
            return sections[first + 1];
        if (path == "/proc/diskstats")
            return sections[first + 2];
        return std::string();
    };
    sources.diskName = [&](uint32_t number) {
        return number < disks.size() ? disks[number] : std::string();
    };
    sources.computerName = [] { return std::string("fuzzhost"); };
    sources.nowNanoseconds = [&] { return now; };

    platform::LinuxCounterQuery query(sources);
    std::vector<uint64_t> counters;
    for (const std::string &path : paths) {
        if (const uint64_t counter = query.add(path))
            counters.push_back(counter);
    }
    query.collect();
    round = 1;
    now += step;
    query.collect();

    for (const uint64_t counter : counters) {
        const int64_t plain = query.value(counter, 0);
        const int64_t thousandths = query.value(counter, platform::FMT_1000);
        const int64_t uncapped = query.value(counter, platform::FMT_1000 | platform::FMT_NOCAP100);
        FUZZ_CHECK(plain >= 0 && thousandths >= 0 && uncapped >= thousandths);
        FUZZ_CHECK(query.remove(counter));
        FUZZ_CHECK(!query.remove(counter));
        FUZZ_CHECK(query.value(counter, platform::FMT_1000) == 0);
    }
    return 0;
}
