// The operating-system layer on Linux: /proc, /sys and the udev database below the root
// directory, and getifaddrs for the interface addresses.
#include "platform/Platform.h"

#include "CounterNames.h"
#include "LinuxAdapters.h"
#include "LinuxCounterQuery.h"
#include "LinuxDisks.h"
#include "ProcParsers.h"
#include "SystemFiles.h"

#include <cstdio>
#include <sys/utsname.h>
#include <unistd.h>

namespace platform {

// The live system's query.
class Query : public LinuxCounterQuery {
public:
    Query() : LinuxCounterQuery(LinuxCounterQuery::liveSources()) {}
};

// A counter of a query, from its add to its removal.
class QueryCounter {
public:
    Query *const query;
    const uint64_t number;
};

namespace {

bool live(const std::string &root) {
    return root.empty() || root == "/";
}

std::string rootedText(const std::string &path) {
    return linux_files::readText(linux_files::underRoot(rootDirectory(), path));
}

std::string machineName() {
    utsname names{};
    return uname(&names) == 0 ? names.machine : "";
}

std::vector<linux_proc::CpuInfoBlock> cpuinfo() {
    return linux_proc::parseCpuinfo(rootedText("/proc/cpuinfo"));
}

} // namespace

void enableDebugPrivilege() {}

void suppressErrorDialogs() {}

bool writeStandardOutput(const std::string &text) {
    return std::fwrite(text.data(), 1, text.size(), stdout) == text.size() &&
           std::fflush(stdout) == 0;
}

std::string computerName() {
    const std::string root = rootDirectory();
    if (!live(root))
        return linux_files::readLine(linux_files::underRoot(root, "/proc/sys/kernel/hostname"));
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0)
        return {};
    return name;
}

std::string counterNameList() {
    return linux_counters::englishNameList();
}

std::string lookupPerfNameByIndex(const std::string &, uint32_t index) {
    return linux_counters::englishName(index);
}

// The kernel keeps running totals; their differences are the rates, with no counter paths.
bool countersGiveRates() {
    return false;
}

QueryHandle openQuery() {
    // Queries are never closed (the interface has no close), so the object lives on.
    return new Query;
}

CounterHandle addCounter(QueryHandle query, const std::string &path) {
    const uint64_t number = query ? query->add(path) : 0;
    return number ? new QueryCounter{query, number} : nullptr;
}

CounterHandle addEnglishCounter(QueryHandle query, const std::string &path) {
    return addCounter(query, path);
}

void collectQuery(QueryHandle query) {
    if (query)
        query->collect();
}

int64_t formattedCounterValue(CounterHandle counter, uint32_t flags) {
    return counter ? counter->query->value(counter->number, flags) : 0;
}

void removeCounter(CounterHandle counter) {
    if (!counter)
        return;
    counter->query->remove(counter->number);
    delete counter;
}

size_t counterCount(QueryHandle query) {
    return query ? query->count() : 0;
}

std::vector<Adapter> adapters() {
    const std::string root = rootDirectory();
    return linux_adapters::readAdapters(
        root, live(root) ? linux_adapters::liveAddresses()
                         : std::vector<linux_adapters::InterfaceAddress>());
}

uint32_t processorCount() {
    const size_t listed = cpuinfo().size();
    if (listed > 0)
        return static_cast<uint32_t>(listed);
    if (live(rootDirectory())) {
        const long online = sysconf(_SC_NPROCESSORS_ONLN);
        return online > 0 ? static_cast<uint32_t>(online) : 0;
    }
    return 0;
}

std::vector<uint32_t> processorGroups() {
    return {processorCount()};
}

std::string processorCounterObject() {
    return "Processor";
}

std::string processorCounterInstance(uint32_t n) {
    return std::to_string(n);
}

ProcessorDescription processorDescription(uint32_t index) {
    // By position, as the processor counters number them: the kernel lists only the processors
    // that are online, keeping the numbers of the others.
    const auto blocks = cpuinfo();
    ProcessorDescription description;
    if (index >= blocks.size())
        return description;
    const auto &block = blocks[index];
    // A fixture tree carries no uname; its "lm" flag says whether the processor is 64-bit.
    std::string machine = machineName();
    if (!live(rootDirectory())) {
        auto flags = block.find("flags");
        const bool wide =
            flags != block.end() && (" " + flags->second + " ").find(" lm ") != std::string::npos;
        machine = wide ? "x86_64" : "";
    }
    description.name = linux_proc::processorName(block);
    description.identifier = linux_proc::processorIdentifier(block, machine);
    return description;
}

std::vector<uint32_t> physicalDiskNumbers() {
    std::vector<uint32_t> numbers;
    for (const linux_disks::NumberedDisk &disk : linux_disks::attachedDisks(rootDirectory()))
        numbers.push_back(disk.number);
    return numbers;
}

bool physicalDisk(uint32_t n, DiskIdentity &identity) {
    const std::string root = rootDirectory();
    const std::string name = linux_disks::numberedDisk(root, n);
    if (name.empty() || !linux_files::exists(linux_files::underRoot(root, "/sys/block/" + name)))
        return false;
    identity = linux_disks::diskIdentity(root, name);
    return true;
}

std::string diskSystemName(uint32_t n) {
    return linux_disks::numberedDisk(rootDirectory(), n);
}

std::string diskCounterInstance(uint32_t n, const std::vector<std::string> &) {
    return std::to_string(n);
}

std::string adapterCounterInstance(uint32_t, const std::string &built) {
    return built; // the interface itself: nothing to look up
}

std::vector<std::string> counterInstances(const std::string &) {
    return {};
}

std::vector<DriveLetter> driveLetters() {
    return {};
}

std::vector<std::string> volumesOfDisk(uint32_t n) {
    const std::string root = rootDirectory();
    const std::string name = linux_disks::numberedDisk(root, n);
    if (name.empty())
        return {};
    return linux_disks::diskVolumes(root, name);
}

} // namespace platform
