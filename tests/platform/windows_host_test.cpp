// Which machine, since when, who is on it and whether it must restart, from the live system's
// calls and registry (under Wine, its own).
#define CHECK_MAIN
#include "check.h"
#include "windows_wine.h"

#include "platform/DiskHealth.h"
#include "platform/Host.h"
#include "platform/Platform.h"
#include "platform/Services.h"
#include "platform/windows/WindowsText.h"

#include <cstdlib>
#include <ctime>
#include <string>

using namespace platform;

namespace {
bool contains(const std::vector<std::string> &list, const std::string &text) {
    for (const std::string &entry : list)
        if (entry == text)
            return true;
    return false;
}
} // namespace

TEST_CASE("the host name is the computer's, as its DNS name spells it") {
    const std::string name = hostName();
    CHECK(!name.empty());
    // The NetBIOS name is the DNS host name cut to 15 characters and in capitals.
    wchar_t netbios[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    CHECK(GetComputerNameW(netbios, &size));
    std::string upper = name.substr(0, 15);
    for (char &c : upper)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    CHECK_EQ(upper, wideToUtf8(netbios, size));
}

TEST_CASE("the system names its product and the build the kernel reports") {
    const OperatingSystem system = operatingSystem();
    CHECK(system.name.find("Windows") != std::string::npos);
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof info;
    using Get = LONG(WINAPI *)(OSVERSIONINFOW *);
    const auto get = reinterpret_cast<Get>(
        reinterpret_cast<void *>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion")));
    CHECK(get != nullptr && get(&info) == 0);
    const std::string build = "build " + std::to_string(info.dwBuildNumber);
    CHECK_MSG(system.version.find(build) != std::string::npos, system.version);
}

TEST_CASE("the system started before now and says so the same way twice") {
    const int64_t first = bootTime();
    CHECK(first > 946684800 && first <= int64_t(std::time(nullptr)));
    Sleep(1100);
    const int64_t second = bootTime();
    CHECK(second >= first - 1 && second <= first + 1);
}

TEST_CASE("the signed-in user's own session is listed with its state") {
    wchar_t user[256] = {};
    DWORD size = 256;
    CHECK(GetUserNameW(user, &size));
    const std::string name = wideToUtf8(user, wcslen(user));
    bool found = false;
    std::string listed;
    for (const Session &session : sessions()) {
        listed += " " + session.user + "/" + session.state + "/" + session.where;
        CHECK(!session.state.empty() && session.state != "unknown");
        const size_t slash = session.user.rfind('\\');
        found = found || session.user.substr(slash == std::string::npos ? 0 : slash + 1) == name;
    }
    CHECK_MSG(found, name + " among" + listed);
}

TEST_CASE("each sign of a restart owed is found, and gone once it is removed") {
    const struct {
        const wchar_t *key;
        const wchar_t *value; // null: the key itself is the sign
        const char *reason;
    } signs[] = {
        {L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Component Based Servicing\\RebootPending",
         nullptr, "Component Based Servicing"},
        {L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\WindowsUpdate\\Auto Update\\"
         L"RebootRequired",
         nullptr, "Windows Update"},
        {L"SYSTEM\\CurrentControlSet\\Control\\Session Manager", L"PendingFileRenameOperations2",
         "PendingFileRenameOperations2"},
    };
    for (const auto &sign : signs) {
        CHECK(!contains(rebootState().reasons, sign.reason));
        HKEY key = nullptr;
        DWORD created = 0;
        CHECK(RegCreateKeyExW(HKEY_LOCAL_MACHINE, sign.key, 0, nullptr, 0,
                              KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, &key, &created) == 0);
        if (sign.value) {
            static const wchar_t renames[] = L"\\??\\C:\\old.dll\0\0";
            RegSetValueExW(key, sign.value, 0, REG_MULTI_SZ,
                           reinterpret_cast<const BYTE *>(renames), sizeof renames);
        }
        const RebootState owed = rebootState();
        CHECK(owed.required);
        CHECK_MSG(contains(owed.reasons, sign.reason), sign.reason);
        if (sign.value)
            RegDeleteValueW(key, sign.value);
        RegCloseKey(key);
        if (!sign.value)
            RegDeleteKeyExW(HKEY_LOCAL_MACHINE, sign.key, KEY_WOW64_64KEY, 0);
        CHECK(!contains(rebootState().reasons, sign.reason));
    }
}

TEST_CASE("a service set to start automatically that is not running is listed until it is not") {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    CHECK(manager != nullptr);
    if (!manager)
        return;
    const wchar_t *name = L"TarnivoTestStopped";
    SC_HANDLE service =
        CreateServiceW(manager, name, L"Tarnivo test service", SERVICE_ALL_ACCESS,
                       SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_IGNORE,
                       L"C:\\nowhere\\absent.exe", nullptr, nullptr, nullptr, nullptr, nullptr);
    CHECK(service != nullptr);
    const auto listed = [] {
        const ServicesReading reading = stoppedServices();
        CHECK_MSG(reading.read, reading.why);
        for (const StoppedService &s : reading.stopped)
            if (s.name == "TarnivoTestStopped")
                return s.displayName + "/" + s.state;
        return std::string();
    };
    CHECK_EQ(listed(), std::string("Tarnivo test service/stopped"));
    // Started on demand, it is not expected to run.
    ChangeServiceConfigW(service, SERVICE_NO_CHANGE, SERVICE_DEMAND_START, SERVICE_NO_CHANGE,
                         nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
    CHECK_EQ(listed(), std::string());
    DeleteService(service);
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
}

TEST_CASE("every disk answers for its health or says why it did not") {
    for (const uint32_t n : physicalDiskNumbers()) {
        const DiskHealth health = diskHealth(n);
        std::printf("    disk %u: %s\n", n,
                    health.kind == DiskHealth::Kind::None ? health.why.c_str() : "answered");
        CHECK((health.kind == DiskHealth::Kind::None) != health.why.empty());
    }
    const DiskHealth absent = diskHealth(99);
    CHECK_MSG(absent.kind == DiskHealth::Kind::None &&
                  absent.why.find("cannot be opened") != std::string::npos,
              absent.why);
}
