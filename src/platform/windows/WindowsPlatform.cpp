// Windows backend: process token, computer name, memory status and processors.
#include "platform/Platform.h"
#include "platform/windows/WindowsText.h"

#include <algorithm>
#include <cwchar>

namespace platform {

namespace {
constexpr DWORD NAME_CAPACITY = 256;

// Text up to the first NUL of a buffer whose terminator the call does not promise on failure.
std::string bufferToUtf8(const wchar_t *buffer, std::size_t capacity) {
    std::size_t length = 0;
    while (length < capacity && buffer[length] != L'\0')
        ++length;
    return wideToUtf8(buffer, length);
}
} // namespace

void suppressErrorDialogs() {
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
}

bool writeStandardOutput(const std::string &text) {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    // A program of the GUI subsystem gets no console; started from one, it may use it.
    if ((out == nullptr || out == INVALID_HANDLE_VALUE) && AttachConsole(ATTACH_PARENT_PROCESS))
        out = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_WRITE, nullptr,
                          OPEN_EXISTING, 0, nullptr);
    if (out == nullptr || out == INVALID_HANDLE_VALUE)
        return false;
    DWORD mode = 0;
    if (GetConsoleMode(out, &mode)) {
        // A console shows UTF-16 whatever its code page.
        const std::wstring wide = utf8ToWide(text);
        for (std::size_t done = 0; done < wide.size();) {
            DWORD written = 0;
            const DWORD chunk = DWORD(std::min<std::size_t>(wide.size() - done, 8192));
            if (!WriteConsoleW(out, wide.data() + done, chunk, &written, nullptr) || written == 0)
                return false;
            done += written;
        }
        return true;
    }
    // Redirected to a file or a pipe: the UTF-8 bytes as they are.
    for (std::size_t done = 0; done < text.size();) {
        DWORD written = 0;
        const DWORD chunk = DWORD(std::min<std::size_t>(text.size() - done, 65536));
        if (!WriteFile(out, text.data() + done, chunk, &written, nullptr) || written == 0)
            return false;
        done += written;
    }
    return true;
}

void enableDebugPrivilege() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token) || token == nullptr)
        return;
    LUID luid{};
    LookupPrivilegeValueW(nullptr, L"SeDebugPrivilege", &luid);
    TOKEN_PRIVILEGES privileges{};
    static_assert(sizeof(privileges) == 16, "one privilege entry: the record is 16 bytes");
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Luid = luid;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    AdjustTokenPrivileges(token, FALSE, &privileges, sizeof(privileges), nullptr, nullptr);
    CloseHandle(token);
}

std::string computerName() {
    wchar_t buffer[NAME_CAPACITY] = {};
    DWORD capacity = NAME_CAPACITY;
    if (!GetComputerNameW(buffer, &capacity))
        return {};
    return bufferToUtf8(buffer, NAME_CAPACITY);
}

MemoryStatus memoryStatus() {
    MEMORYSTATUSEX status{};
    static_assert(sizeof(status) == 64, "the memory status record is 64 bytes");
    status.dwLength = sizeof(status);
    MemoryStatus result;
    if (!GlobalMemoryStatusEx(&status))
        return result;
    result.totalPhys = status.ullTotalPhys;
    result.availPhys = status.ullAvailPhys;
    result.totalPageFile = status.ullTotalPageFile;
    result.availPageFile = status.ullAvailPageFile;
    return result;
}

uint32_t processorCount() {
    // Every group's processors: GetSystemInfo counts only the calling thread's group.
    const DWORD count = GetActiveProcessorCount(ALL_PROCESSOR_GROUPS);
    return count > 0 ? count : processorTotal(processorGroups());
}

std::vector<uint32_t> processorGroups() {
    std::vector<uint32_t> groups;
    const WORD count = GetActiveProcessorGroupCount();
    for (WORD group = 0; group < count; ++group)
        groups.push_back(GetActiveProcessorCount(group));
    if (groups.empty()) {
        SYSTEM_INFO info{};
        GetSystemInfo(&info);
        groups.push_back(info.dwNumberOfProcessors);
    }
    return groups;
}

ProcessorDescription processorDescription(uint32_t index) {
    ProcessorDescription description;
    const std::wstring path =
        L"HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\" + std::to_wstring(index);
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS ||
        key == nullptr)
        return description;
    description.name = registryText(key, L"ProcessorNameString");
    description.identifier = registryText(key, L"Identifier");
    RegCloseKey(key);
    return description;
}

} // namespace platform
