// Windows backend: every process's times and working set in one system call, which, unlike
// opening each process, needs no access rights to the processes themselves.
#include "platform/Processes.h"
#include "platform/windows/WindowsText.h"

#include <winternl.h>

#include <vector>

namespace platform {

std::vector<ProcessUse> processes() {
    using Query = NTSTATUS(WINAPI *)(SYSTEM_INFORMATION_CLASS, PVOID, ULONG, PULONG);
    static const Query query = reinterpret_cast<Query>(reinterpret_cast<void *>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    std::vector<ProcessUse> result;
    if (!query)
        return result;
    // The list grows between the size request and the read: room to spare, and a retry.
    std::vector<unsigned char> buffer(256 * 1024);
    NTSTATUS status = 0;
    for (int attempt = 0; attempt < 4; ++attempt) {
        ULONG needed = 0;
        status = query(SystemProcessInformation, buffer.data(), ULONG(buffer.size()), &needed);
        if (status >= 0)
            break;
        buffer.resize((needed > buffer.size() ? needed : buffer.size()) * 2);
    }
    if (status < 0)
        return result;
    for (size_t offset = 0;;) {
        const auto *entry = reinterpret_cast<const SYSTEM_PROCESS_INFORMATION *>(&buffer[offset]);
        // Process 0 is the idle time of the processors, not a process doing work.
        if (entry->UniqueProcessId != nullptr) {
            ProcessUse use;
            use.pid = uint32_t(reinterpret_cast<uintptr_t>(entry->UniqueProcessId));
            // The image's whole file name ("h2-inventory-collector.exe"), never cut short.
            use.name = wideToUtf8(entry->ImageName.Buffer, entry->ImageName.Length / 2);
            use.started = uint64_t(entry->CreateTime.QuadPart);
            // Times in 100-nanosecond units.
            use.cpuMicroseconds =
                (uint64_t(entry->UserTime.QuadPart) + uint64_t(entry->KernelTime.QuadPart)) / 10;
            use.residentBytes = entry->VirtualMemoryCounters.WorkingSetSize;
            result.push_back(std::move(use));
        }
        if (entry->NextEntryOffset == 0 || offset + entry->NextEntryOffset >= buffer.size())
            break;
        offset += entry->NextEntryOffset;
    }
    return result;
}

} // namespace platform
