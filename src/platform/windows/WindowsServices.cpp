// Automatic services that are not running: one enumeration of the service manager, then the
// configuration of each service that is not running. WMI would answer the same in seconds.
#include "platform/Services.h"
#include "platform/windows/ServiceHandle.h"
#include "platform/windows/WindowsText.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <vector>

namespace platform {

namespace {
std::string stateName(DWORD state) {
    static const char *const names[] = {
        "",        "stopped",          "start pending", "stop pending",
        "running", "continue pending", "pause pending", "paused"};
    return state < std::size(names) ? names[state] : "unknown";
}

// Set to start automatically, and not only when a trigger (a device, a network, a policy)
// fires: a trigger-started service is stopped most of the time by design.
bool startsAutomatically(SC_HANDLE manager, const wchar_t *name) {
    const ServiceHandle service(OpenServiceW(manager, name, SERVICE_QUERY_CONFIG));
    if (!service.get())
        return false;
    DWORD needed = 0;
    QueryServiceConfigW(service.get(), nullptr, 0, &needed);
    std::vector<BYTE> buffer(std::max<DWORD>(needed, sizeof(QUERY_SERVICE_CONFIGW)));
    auto *config = reinterpret_cast<QUERY_SERVICE_CONFIGW *>(buffer.data());
    if (!QueryServiceConfigW(service.get(), config, DWORD(buffer.size()), &needed) ||
        config->dwStartType != SERVICE_AUTO_START)
        return false;
    // SERVICE_TRIGGER_INFO begins with its count of triggers (the only field wanted here;
    // mingw-w64's headers lack the structure).
    needed = 0;
    QueryServiceConfig2W(service.get(), SERVICE_CONFIG_TRIGGER_INFO, nullptr, 0, &needed);
    if (needed < sizeof(DWORD))
        return true;
    std::vector<BYTE> triggers(needed);
    DWORD count = 0;
    if (!QueryServiceConfig2W(service.get(), SERVICE_CONFIG_TRIGGER_INFO, triggers.data(), needed,
                              &needed))
        return true;
    std::memcpy(&count, triggers.data(), sizeof count);
    return count == 0;
}
} // namespace

ServicesReading stoppedServices() {
    ServicesReading reading;
    const ServiceHandle manager(
        OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_ENUMERATE_SERVICE));
    if (!manager.get()) {
        reading.why = "the service manager refused to be opened (error " +
                      std::to_string(GetLastError()) + ")";
        return reading;
    }
    std::vector<BYTE> buffer(64 * 1024);
    DWORD resume = 0;
    for (;;) {
        DWORD needed = 0, count = 0;
        const BOOL done = EnumServicesStatusExW(
            manager.get(), SC_ENUM_PROCESS_INFO, SERVICE_WIN32, SERVICE_STATE_ALL, buffer.data(),
            DWORD(buffer.size()), &needed, &count, &resume, nullptr);
        if (!done && GetLastError() != ERROR_MORE_DATA) {
            reading.why =
                "the services could not be listed (error " + std::to_string(GetLastError()) + ")";
            return reading;
        }
        const auto *services = reinterpret_cast<ENUM_SERVICE_STATUS_PROCESSW *>(buffer.data());
        for (DWORD i = 0; i < count; ++i) {
            const DWORD state = services[i].ServiceStatusProcess.dwCurrentState;
            if (state == SERVICE_RUNNING ||
                !startsAutomatically(manager.get(), services[i].lpServiceName))
                continue;
            const wchar_t *name = services[i].lpServiceName;
            const wchar_t *display = services[i].lpDisplayName ? services[i].lpDisplayName : L"";
            reading.stopped.push_back({wideToUtf8(name, wcslen(name)),
                                       wideToUtf8(display, wcslen(display)), stateName(state)});
        }
        if (done)
            break;
        if (needed > buffer.size())
            buffer.resize(needed);
    }
    std::sort(reading.stopped.begin(), reading.stopped.end(),
              [](const StoppedService &a, const StoppedService &b) { return a.name < b.name; });
    reading.read = true;
    return reading;
}

} // namespace platform
