#include "platform/DeviceRules.h"

#include <algorithm>
#include <cctype>
#include <utility>

namespace platform {

namespace {
// The decimal number at the start of text, up to `end` (npos: the whole text); false when
// there is none or it does not fit 32 bits.
bool leadingNumber(const std::string &text, std::string::size_type end, uint32_t &number) {
    const std::string::size_type stop = std::min(end, text.size());
    if (stop == 0)
        return false;
    uint64_t value = 0;
    for (std::string::size_type i = 0; i < stop; ++i) {
        if (!std::isdigit(static_cast<unsigned char>(text[i])))
            return false;
        value = value * 10 + uint64_t(text[i] - '0');
        if (value > UINT32_MAX)
            return false;
    }
    number = uint32_t(value);
    return true;
}
} // namespace

uint32_t processorTotal(const std::vector<uint32_t> &activePerGroup) {
    uint64_t total = 0;
    for (uint32_t count : activePerGroup)
        total += count;
    return total > UINT32_MAX ? UINT32_MAX : uint32_t(total);
}

bool placeOfProcessor(const std::vector<uint32_t> &activePerGroup, uint32_t n,
                      ProcessorPlace &place) {
    for (std::size_t group = 0; group < activePerGroup.size() && group <= UINT16_MAX; ++group) {
        if (n < activePerGroup[group]) {
            place.group = uint16_t(group);
            place.index = n;
            return true;
        }
        n -= activePerGroup[group];
    }
    return false;
}

std::string processorInstance(const ProcessorPlace &place) {
    return std::to_string(place.group) + "," + std::to_string(place.index);
}

std::vector<std::string> orderedProcessorInstances(const std::vector<std::string> &listed) {
    struct Entry {
        uint32_t group, index;
        const std::string *name;
    };
    std::vector<Entry> entries;
    for (const std::string &name : listed) {
        const std::string::size_type comma = name.find(',');
        uint32_t group = 0, index = 0;
        if (comma == std::string::npos || !leadingNumber(name, comma, group) ||
            !leadingNumber(name.substr(comma + 1), std::string::npos, index))
            continue;
        entries.push_back({group, index, &name});
    }
    std::sort(entries.begin(), entries.end(), [](const Entry &a, const Entry &b) {
        return a.group != b.group ? a.group < b.group : a.index < b.index;
    });
    std::vector<std::string> ordered;
    for (const Entry &entry : entries)
        if (ordered.empty() || ordered.back() != *entry.name)
            ordered.push_back(*entry.name);
    return ordered;
}

std::vector<NumberedTime> processorTimesAcrossGroups(const std::vector<uint32_t> &activePerGroup,
                                                     const GroupTimesReader &readGroup) {
    std::vector<NumberedTime> times;
    uint32_t first = 0;
    for (std::size_t group = 0; group < activePerGroup.size() && group <= UINT16_MAX; ++group) {
        const uint32_t count = activePerGroup[group];
        const std::vector<uint64_t> read = readGroup(uint16_t(group), count);
        for (uint32_t i = 0; i < count && i < read.size(); ++i)
            times.push_back({first + i, read[i]});
        first += count;
    }
    return times;
}

DeviceAccess openDevice(const DeviceOpener &open) {
    switch (open(DeviceAccess::ReadWrite)) {
    case OpenOutcome::Opened:
        return DeviceAccess::ReadWrite;
    case OpenOutcome::Missing:
        return DeviceAccess::NotOpened;
    case OpenOutcome::Refused:
        break;
    }
    return open(DeviceAccess::QueryOnly) == OpenOutcome::Opened ? DeviceAccess::QueryOnly
                                                                : DeviceAccess::NotOpened;
}

std::vector<uint32_t> scanDiskNumbers(const std::function<bool(uint32_t n)> &exists,
                                      uint32_t missingRun, uint32_t limit) {
    std::vector<uint32_t> numbers;
    uint32_t missing = 0;
    for (uint32_t n = 0; n < limit && missing < missingRun; ++n) {
        if (exists(n)) {
            numbers.push_back(n);
            missing = 0;
        } else {
            ++missing;
        }
    }
    return numbers;
}

const char *driveTypeName(DriveType type) {
    switch (type) {
    case DriveType::Unknown:
        break;
    case DriveType::NoRootDirectory:
        return "no root directory";
    case DriveType::Removable:
        return "removable";
    case DriveType::Fixed:
        return "fixed";
    case DriveType::Remote:
        return "remote";
    case DriveType::CdRom:
        return "CD-ROM";
    case DriveType::RamDisk:
        return "RAM disk";
    }
    return "unknown";
}

std::vector<char> volumeLettersToOpen(const std::function<DriveType(char letter)> &typeOf) {
    std::vector<char> letters;
    for (char letter = 'C'; letter <= 'Z'; ++letter) {
        const DriveType type = typeOf(letter);
        if (type != DriveType::Remote && type != DriveType::NoRootDirectory)
            letters.push_back(letter);
    }
    return letters;
}

std::string counterInstanceName(const std::string &text) {
    std::string instance = text;
    for (char &c : instance) {
        if (c == '(')
            c = '[';
        else if (c == ')')
            c = ']';
        else if (c == '#' || c == '/' || c == '\\')
            c = '_';
    }
    return instance;
}

std::string findDiskInstance(const std::vector<std::string> &listed, uint32_t n) {
    for (const std::string &name : listed) {
        uint32_t number = 0;
        if (leadingNumber(name, name.find(' '), number) && number == n)
            return name;
    }
    return {};
}

std::string findAdapterInstance(const std::vector<std::string> &listed,
                                const std::string &description, uint32_t ordinal) {
    const std::string name = counterInstanceName(description);
    const auto count = std::count(listed.begin(), listed.end(), name);
    if (name.empty() || ordinal >= uint64_t(count))
        return {};
    return ordinal == 0 ? name : name + "#" + std::to_string(ordinal);
}

std::string chooseAdapterInstance(const std::vector<std::string> &listed, const std::string &built,
                                  const std::vector<AdapterName> &names, uint32_t index) {
    if (listed.empty() || std::count(listed.begin(), listed.end(), built) == 1)
        return built;
    const auto own = std::find_if(names.begin(), names.end(),
                                  [index](const AdapterName &name) { return name.index == index; });
    if (own == names.end())
        return built;
    const auto ordinal = uint32_t(std::count_if(names.begin(), own, [&](const AdapterName &name) {
        return name.description == own->description;
    }));
    const std::string found = findAdapterInstance(listed, own->description, ordinal);
    return found.empty() ? built : found;
}

InstanceListings::InstanceListings(Renew renew, List list, uint64_t lifetimeMs, uint64_t renewalMs)
    : renew(std::move(renew)), list(std::move(list)), lifetimeMs(lifetimeMs), renewalMs(renewalMs) {
}

std::vector<std::string> InstanceListings::instances(const std::string &object, uint64_t nowMs) {
    const auto found = listings.find(object);
    if (found != listings.end() && nowMs - found->second.taken < lifetimeMs)
        return found->second.instances;
    if (!started) {
        started = true; // the first listing has the copy taken
        renewedAt = nowMs;
    } else if (nowMs - renewedAt >= renewalMs) {
        renew();
        renewedAt = nowMs;
    }
    Listing &listing = listings[object];
    listing.taken = nowMs;
    listing.instances = list(object);
    return listing.instances;
}

} // namespace platform
