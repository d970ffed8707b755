// The operating-system layer on Linux: /proc, /sys and the udev database below the root
// directory, and getifaddrs for the interface addresses.
#include "platform/Platform.h"

#include "CounterNames.h"
#include "LinuxAdapters.h"
#include "LinuxCounterQuery.h"
#include "LinuxDisks.h"
#include "ProcParsers.h"
#include "SystemFiles.h"

#include <mutex>
#include <set>
#include <sys/utsname.h>
#include <unistd.h>
#include <unordered_map>

namespace platform {

namespace {

bool live(const std::string &root) {
    return root.empty() || root == "/";
}

std::string rootedText(const std::string &path) {
    return linux_files::readText(linux_files::underRoot(rootDirectory(), path));
}

// Handles are checked here before they are used, so that a removed counter or a foreign
// pointer reads as a failure instead of touching freed memory. The registry's lock is released
// before a query's own lock is taken, so the two are never held together.
struct Registry {
    std::mutex mutex; // guards queries and owners
    std::set<const LinuxCounterQuery *> queries;
    std::unordered_map<uint64_t, LinuxCounterQuery *> owners;
};

// Queries are never closed, and the sampling thread may still use them while the process
// exits, so the registry is never destroyed either.
Registry &registry() {
    static Registry *const instance = new Registry;
    return *instance;
}

LinuxCounterQuery *ownerOf(CounterHandle counter) {
    Registry &r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    auto it = r.owners.find(reinterpret_cast<uintptr_t>(counter));
    return it == r.owners.end() ? nullptr : it->second;
}

bool knownQuery(QueryHandle query) {
    Registry &r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    return r.queries.count(static_cast<const LinuxCounterQuery *>(query)) > 0;
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

std::string computerName() {
    const std::string root = rootDirectory();
    if (!live(root))
        return linux_files::readLine(linux_files::underRoot(root, "/proc/sys/kernel/hostname"));
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0)
        return {};
    return name;
}

MemoryStatus memoryStatus() {
    const linux_proc::MemInfo info = linux_proc::parseMeminfo(rootedText("/proc/meminfo"));
    MemoryStatus status;
    status.totalPhys = info.memTotal;
    status.availPhys = info.memAvailable;
    // Windows' page-file figures are its commit limit: RAM plus paging space.
    status.totalPageFile = info.memTotal + info.swapTotal;
    status.availPageFile = info.memAvailable + info.swapFree;
    return status;
}

std::string counterNameList() {
    return linux_counters::englishNameList();
}

std::string lookupPerfNameByIndex(const std::string &, uint32_t index) {
    return linux_counters::englishName(index);
}

QueryHandle openQuery() {
    // Queries are never closed (the interface has no close), so the object lives on.
    auto *query = new LinuxCounterQuery(LinuxCounterQuery::liveSources());
    Registry &r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.queries.insert(query);
    return query;
}

CounterHandle addCounter(QueryHandle query, const std::string &path) {
    if (!knownQuery(query))
        return nullptr;
    auto *owner = static_cast<LinuxCounterQuery *>(query);
    const uint64_t number = owner->add(path);
    if (number == 0)
        return nullptr;
    Registry &r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.owners[number] = owner;
    return reinterpret_cast<CounterHandle>(static_cast<uintptr_t>(number));
}

void collectQuery(QueryHandle query) {
    if (knownQuery(query))
        static_cast<LinuxCounterQuery *>(query)->collect();
}

int64_t formattedCounterValue(CounterHandle counter, uint32_t flags) {
    LinuxCounterQuery *owner = ownerOf(counter);
    return owner ? owner->value(reinterpret_cast<uintptr_t>(counter), flags) : 0;
}

void removeCounter(CounterHandle counter) {
    LinuxCounterQuery *owner = nullptr;
    {
        Registry &r = registry();
        std::lock_guard<std::mutex> lock(r.mutex);
        auto it = r.owners.find(reinterpret_cast<uintptr_t>(counter));
        if (it == r.owners.end())
            return;
        owner = it->second;
        r.owners.erase(it);
    }
    owner->remove(reinterpret_cast<uintptr_t>(counter));
}

size_t counterCount(QueryHandle query) {
    return knownQuery(query) ? static_cast<LinuxCounterQuery *>(query)->count() : 0;
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

bool physicalDisk(uint32_t n, DiskIdentity &identity) {
    const std::string root = rootDirectory();
    // A scan begins at disk 0 and numbers the disks anew.
    const std::vector<std::string> disks = linux_disks::numberedDisks(root, n == 0);
    if (n >= disks.size())
        return false;
    identity = linux_disks::diskIdentity(root, disks[n]);
    return true;
}

std::vector<std::string> volumesOfDisk(uint32_t n) {
    const std::string root = rootDirectory();
    const std::vector<std::string> disks = linux_disks::numberedDisks(root, false);
    if (n >= disks.size())
        return {};
    return linux_disks::diskVolumes(root, disks[n]);
}

} // namespace platform
