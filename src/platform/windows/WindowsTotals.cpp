// Running totals on Windows: the 64-bit interface rows (GetIfEntry2), the disk driver's own
// performance counts (IOCTL_DISK_PERFORMANCE, the source of the PhysicalDisk counters) and the
// kernel's per-processor times (NtQuerySystemInformation, the source of "% Processor Time").
#include <winsock2.h>
#include <ws2ipdef.h>

#include "platform/DeviceRules.h"
#include "platform/Platform.h"
#include "platform/Totals.h"

#include <iphlpapi.h>
#include <netioapi.h>
#include <winioctl.h>
#include <winternl.h>

#include <algorithm>
#include <string>
#include <vector>

namespace platform {

namespace {

uint64_t unsignedOf(const LARGE_INTEGER &value) {
    return value.QuadPart > 0 ? static_cast<uint64_t>(value.QuadPart) : 0;
}

// 100-nanosecond units, the kernel's unit of time.
uint64_t microsecondsOf(uint64_t hundredNanoseconds) {
    return hundredNanoseconds / 10;
}

void readAdapters(Totals &result) {
    for (const Adapter &adapter : adapters()) {
        MIB_IF_ROW2 row;
        ZeroMemory(&row, sizeof row);
        row.InterfaceIndex = adapter.index;
        if (GetIfEntry2(&row) != NO_ERROR)
            continue;
        AdapterTotals totals;
        totals.description = adapter.description;
        totals.receiveBytes = row.InOctets;
        totals.transmitBytes = row.OutOctets;
        totals.receivePackets = row.InUcastPkts + row.InNUcastPkts;
        totals.transmitPackets = row.OutUcastPkts + row.OutNUcastPkts;
        // The row says "unknown" with all bits set.
        totals.speed = row.TransmitLinkSpeed == ~0ull ? 0 : row.TransmitLinkSpeed;
        totals.index = adapter.index;
        result.adapters.push_back(totals);
    }
}

void readDisks(Totals &result) {
    // Numbered like physicalDisk(), gaps included. No access rights are asked for; the
    // performance request needs none.
    for (const uint32_t n : physicalDiskNumbers()) {
        const std::wstring name = L"\\\\.\\PhysicalDrive" + std::to_wstring(n);
        HANDLE disk = CreateFileW(name.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
        if (disk == INVALID_HANDLE_VALUE)
            continue;
        DISK_PERFORMANCE performance;
        ZeroMemory(&performance, sizeof performance);
        DWORD returned = 0;
        const BOOL ok = DeviceIoControl(disk, IOCTL_DISK_PERFORMANCE, nullptr, 0, &performance,
                                        sizeof performance, &returned, nullptr);
        CloseHandle(disk);
        if (!ok || returned < sizeof performance)
            continue;
        DiskTotals totals;
        totals.number = n;
        totals.readBytes = unsignedOf(performance.BytesRead);
        totals.writeBytes = unsignedOf(performance.BytesWritten);
        totals.reads = performance.ReadCount;
        totals.writes = performance.WriteCount;
        // What "% Disk Time" measures: read time plus write time, which overlapping requests
        // can make longer than the time that passed.
        totals.busyMicroseconds =
            microsecondsOf(unsignedOf(performance.ReadTime) + unsignedOf(performance.WriteTime));
        result.disks.push_back(totals);
    }
}

using SystemQuery = NTSTATUS(WINAPI *)(SYSTEM_INFORMATION_CLASS, PVOID, ULONG, PULONG);
using SystemQueryEx = NTSTATUS(WINAPI *)(SYSTEM_INFORMATION_CLASS, PVOID, ULONG, PVOID, ULONG,
                                         PULONG);

FARPROC ntdllFunction(const char *name) {
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), name);
}

// The busy time of each processor of one group. Without a group the kernel answers for the
// calling thread's group alone, which the scheduler may change from one call to the next.
std::vector<uint64_t> readGroupTimes(uint16_t group, uint32_t count, bool onlyGroup) {
    static const auto queryEx = reinterpret_cast<SystemQueryEx>(
        reinterpret_cast<void *>(ntdllFunction("NtQuerySystemInformationEx")));
    static const auto query = reinterpret_cast<SystemQuery>(
        reinterpret_cast<void *>(ntdllFunction("NtQuerySystemInformation")));
    std::vector<SYSTEM_PROCESSOR_PERFORMANCE_INFORMATION> times(count);
    const ULONG size = static_cast<ULONG>(times.size() * sizeof times[0]);
    ULONG returned = 0;
    USHORT which = group;
    NTSTATUS status = -1;
    if (queryEx)
        status = queryEx(SystemProcessorPerformanceInformation, &which, sizeof which, times.data(),
                         size, &returned);
    // Systems that do not answer per group have one group only.
    if (status < 0 && onlyGroup && query)
        status = query(SystemProcessorPerformanceInformation, times.data(), size, &returned);
    std::vector<uint64_t> busy;
    if (status < 0)
        return busy;
    const size_t listed = std::min<size_t>(returned / sizeof times[0], count);
    for (size_t i = 0; i < listed; ++i) {
        // Kernel time includes the idle time.
        const uint64_t all = unsignedOf(times[i].KernelTime) + unsignedOf(times[i].UserTime);
        const uint64_t idle = unsignedOf(times[i].IdleTime);
        busy.push_back(microsecondsOf(all > idle ? all - idle : 0));
    }
    return busy;
}

void readProcessors(Totals &result) {
    const std::vector<uint32_t> groups = processorGroups();
    const bool onlyGroup = groups.size() == 1;
    for (const NumberedTime &time :
         processorTimesAcrossGroups(groups, [onlyGroup](uint16_t group, uint32_t count) {
             return readGroupTimes(group, count, onlyGroup);
         }))
        result.processors.push_back({time.processor, time.busyMicroseconds});
}

} // namespace

Totals totals() {
    Totals result;
    readAdapters(result);
    readDisks(result);
    readProcessors(result);
    return result;
}

} // namespace platform

namespace platform {

void readTotals(Totals &into, MemoryStatus &memory) {
    into = totals();
    memory = memoryStatus();
}

} // namespace platform
