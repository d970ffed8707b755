// Host facts on Windows: the computer's DNS name, the product and build from the registry, the
// tick count, the terminal-services sessions and the signs of a pending restart.
#include "platform/Host.h"
#include "platform/windows/WindowsText.h"

#include <wtsapi32.h>

#include <iterator>

namespace platform {

namespace {
// A key below HKEY_LOCAL_MACHINE, opened for reading in the 64-bit view, closed on leaving.
class MachineKey {
public:
    explicit MachineKey(const wchar_t *path) {
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ | KEY_WOW64_64KEY, &key) !=
            ERROR_SUCCESS)
            key = nullptr;
    }
    ~MachineKey() {
        if (key)
            RegCloseKey(key);
    }
    MachineKey(const MachineKey &) = delete;
    MachineKey &operator=(const MachineKey &) = delete;
    HKEY handle() const { return key; }

private:
    HKEY key = nullptr;
};

// The version the kernel reports, whatever the program's manifest declares (GetVersionEx
// answers what the manifest allows).
bool kernelVersion(RTL_OSVERSIONINFOW &info) {
    using RtlGetVersion = LONG(WINAPI *)(RTL_OSVERSIONINFOW *);
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    const auto get = ntdll ? reinterpret_cast<RtlGetVersion>(
                                 reinterpret_cast<void *>(GetProcAddress(ntdll, "RtlGetVersion")))
                           : nullptr;
    info = {};
    info.dwOSVersionInfoSize = sizeof info;
    return get != nullptr && get(&info) == 0;
}

std::string sessionText(DWORD session, WTS_INFO_CLASS what) {
    wchar_t *text = nullptr;
    DWORD bytes = 0;
    if (!WTSQuerySessionInformationW(WTS_CURRENT_SERVER_HANDLE, session, what, &text, &bytes) ||
        text == nullptr)
        return {};
    const std::string value = wideToUtf8(text, wcsnlen(text, bytes / sizeof(wchar_t)));
    WTSFreeMemory(text);
    return value;
}

std::string connectState(WTS_CONNECTSTATE_CLASS state) {
    static const char *const names[] = {"active",       "connected",   "connect query", "shadow",
                                        "disconnected", "idle",        "listen",        "reset",
                                        "down",         "initializing"};
    return size_t(state) < std::size(names) ? names[state] : "unknown";
}

// A key whose presence is the sign: Windows creates it when a restart is owed and removes it
// after the restart.
bool keyExists(const wchar_t *path) {
    return MachineKey(path).handle() != nullptr;
}
} // namespace

std::string hostName() {
    wchar_t name[256] = {};
    DWORD size = DWORD(std::size(name));
    if (!GetComputerNameExW(ComputerNameDnsHostname, name, &size))
        return {};
    return wideToUtf8(name, size);
}

OperatingSystem operatingSystem() {
    OperatingSystem system;
    RTL_OSVERSIONINFOW kernel{};
    const bool known = kernelVersion(kernel);
    const MachineKey key(L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion");
    std::string build = registryText(key.handle(), L"CurrentBuild");
    if (build.empty() && known)
        build = std::to_string(kernel.dwBuildNumber);
    system.name = registryText(key.handle(), L"ProductName");
    if (system.name.empty())
        system.name = "Windows";
    // Windows 11 keeps "Windows 10" in ProductName; its builds begin at 22000.
    const std::string ten = "Windows 10";
    const size_t at = system.name.find(ten);
    if (at != std::string::npos && std::atoi(build.c_str()) >= 22000)
        system.name.replace(at, ten.size(), "Windows 11");
    DWORD revision = 0, size = sizeof revision;
    const bool hasRevision =
        key.handle() && RegQueryValueExW(key.handle(), L"UBR", nullptr, nullptr,
                                         reinterpret_cast<BYTE *>(&revision), &size) == 0;
    // DisplayVersion ("23H2") since 20H2; ReleaseId ("2004") before it.
    std::string release = registryText(key.handle(), L"DisplayVersion");
    if (release.empty())
        release = registryText(key.handle(), L"ReleaseId");
    if (!build.empty())
        system.version = (release.empty() ? "" : release + ", ") + "build " + build +
                         (hasRevision ? "." + std::to_string(revision) : "");
    return system;
}

int64_t bootTime() {
    // The tick count runs on through sleep and hibernation, so now less it is the last start.
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    const uint64_t since1601 = (uint64_t(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    constexpr uint64_t epochIn1601 = 11644473600ull; // seconds from 1601 to 1970
    const uint64_t seconds = since1601 / 10000000 - epochIn1601;
    const uint64_t up = GetTickCount64() / 1000;
    return up < seconds ? int64_t(seconds - up) : 0;
}

std::vector<Session> sessions() {
    std::vector<Session> found;
    const auto add = [&found](DWORD id, WTS_CONNECTSTATE_CLASS state, const std::string &where) {
        // Session 0 (services) and the listeners for remote connections hold no user.
        const std::string user = sessionText(id, WTSUserName);
        if (user.empty())
            return;
        const std::string domain = sessionText(id, WTSDomainName);
        found.push_back({domain.empty() ? user : domain + "\\" + user, connectState(state), where});
    };
    WTS_SESSION_INFOW *list = nullptr;
    DWORD count = 0;
    if (WTSEnumerateSessionsW(WTS_CURRENT_SERVER_HANDLE, 0, 1, &list, &count) && list) {
        for (DWORD i = 0; i < count; ++i) {
            const wchar_t *station = list[i].pWinStationName;
            add(list[i].SessionId, list[i].State,
                station ? wideToUtf8(station, wcslen(station)) : std::string());
        }
        WTSFreeMemory(list);
    }
    // Windows always lists at least the services' session 0; a list without any (Wine's) still
    // has the session this program runs in.
    DWORD own = 0;
    if (count == 0 && ProcessIdToSessionId(GetCurrentProcessId(), &own)) {
        INT *state = nullptr;
        DWORD bytes = 0;
        WTS_CONNECTSTATE_CLASS connect = WTSActive;
        if (WTSQuerySessionInformationW(WTS_CURRENT_SERVER_HANDLE, own, WTSConnectState,
                                        reinterpret_cast<wchar_t **>(&state), &bytes) &&
            state && bytes >= sizeof(INT))
            connect = WTS_CONNECTSTATE_CLASS(*state);
        if (state)
            WTSFreeMemory(state);
        add(own, connect, sessionText(own, WTSWinStationName));
    }
    return found;
}

RebootState rebootState() {
    RebootState state;
    // Servicing (updates, features and roles) and Windows Update each leave a key of their own.
    static const struct {
        const wchar_t *path;
        const char *reason;
    } keys[] = {
        {L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Component Based Servicing\\RebootPending",
         "Component Based Servicing"},
        {L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\WindowsUpdate\\Auto Update\\"
         L"RebootRequired",
         "Windows Update"},
    };
    for (const auto &key : keys) {
        if (keyExists(key.path))
            state.reasons.push_back(key.reason);
    }
    // Files in use that an installer replaces at the next start: pairs of names, the list
    // ending in an empty one. Present but empty is no restart owed.
    const MachineKey manager(L"SYSTEM\\CurrentControlSet\\Control\\Session Manager");
    for (const wchar_t *name : {L"PendingFileRenameOperations", L"PendingFileRenameOperations2"}) {
        std::wstring list;
        if (manager.handle() && readRegistryValue(manager.handle(), name, list) &&
            list.find_first_not_of(L'\0') != std::wstring::npos)
            state.reasons.push_back(wideToUtf8(name, wcslen(name)));
    }
    state.required = !state.reasons.empty();
    return state;
}

} // namespace platform
