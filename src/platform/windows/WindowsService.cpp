// Windows backend of the service functions: the service control manager's protocol, and the
// service's registration with its firewall rules.
#include "platform/Process.h"
#include "platform/windows/ServiceHandle.h"
#include "platform/windows/WindowsText.h"

#include <atomic>
#include <iterator>
#include <mutex>
#include <netfw.h>
#include <thread>

namespace platform {

namespace {
wchar_t serviceName[] = L"Tarnivo";
const wchar_t webRuleName[] = L"Tarnivo web server";
const wchar_t heartbeatRuleName[] = L"Tarnivo heartbeat";
const wchar_t eventSourceKey[] =
    L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Tarnivo";
// The one message of tarnivo.exe's message table (resources/tarnivo_messages.mc): the line.
constexpr DWORD lineMessageId = 1;
// How long the manager is told to wait for each pending step: a stop takes a few seconds at
// most (the connections' last writes, up to 9 s in all), a start the first device scan. While a
// start or a stop is pending its checkpoint advances every second, well within each hint, so
// that the manager sees progress and never calls it hung.
constexpr DWORD startWaitHintMs = 10000;
constexpr DWORD stopWaitHintMs = 5000;
constexpr DWORD progressIntervalMs = 1000;
// After a crash or a failed start the manager starts the service again after a minute, twice
// more after that, and forgets the failures after a day without one.
constexpr DWORD restartDelayMs = 60000;
constexpr DWORD failureResetSeconds = 24 * 60 * 60;

SERVICE_STATUS_HANDLE statusHandle = nullptr;
SERVICE_STATUS status{};
std::mutex statusLock; // guards status: the control handler and the main thread both report
std::atomic<bool> startedByManager{false};
HANDLE serviceDecided = nullptr; // set once the dispatcher has either called serviceMain or failed
HANDLE serviceEnded = nullptr;   // set by serviceStopped(): serviceMain may return
std::thread dispatcher;

void report(DWORD state, DWORD waitHint = 0, int exitCode = 0) {
    std::lock_guard<std::mutex> lock(statusLock);
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    const bool pending = state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING;
    status.dwCheckPoint = pending && status.dwCurrentState == state ? status.dwCheckPoint + 1 : 0;
    status.dwCurrentState = state;
    status.dwControlsAccepted =
        state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
    status.dwWin32ExitCode = exitCode == 0 ? NO_ERROR : ERROR_SERVICE_SPECIFIC_ERROR;
    status.dwServiceSpecificExitCode = DWORD(exitCode);
    status.dwWaitHint = waitHint;
    if (statusHandle)
        SetServiceStatus(statusHandle, &status);
}

// The same pending state again with the next checkpoint; nothing in any other state.
void advancePending() {
    std::lock_guard<std::mutex> lock(statusLock);
    if (status.dwCurrentState != SERVICE_START_PENDING &&
        status.dwCurrentState != SERVICE_STOP_PENDING)
        return;
    ++status.dwCheckPoint;
    if (statusHandle)
        SetServiceStatus(statusHandle, &status);
}

DWORD WINAPI control(DWORD code, DWORD, void *, void *) {
    switch (code) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
        report(SERVICE_STOP_PENDING, stopWaitHintMs);
        requestTermination();
        return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
        return NO_ERROR;
    default:
        return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

void WINAPI serviceMain(DWORD, wchar_t **) {
    statusHandle = RegisterServiceCtrlHandlerExW(serviceName, control, nullptr);
    report(SERVICE_START_PENDING, startWaitHintMs);
    startedByManager = true;
    SetEvent(serviceDecided);
    // The program runs on its own main thread; this one waits for its end, meanwhile moving a
    // pending start or stop on.
    while (WaitForSingleObject(serviceEnded, progressIntervalMs) == WAIT_TIMEOUT)
        advancePending();
}

std::string systemMessage(DWORD code) {
    wchar_t *text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
    std::string message = length ? wideToUtf8(text, length) : "error " + std::to_string(code);
    LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                message.back() == ' ' || message.back() == '.'))
        message.pop_back();
    return message;
}

std::string failure(const char *what) {
    const DWORD code = GetLastError();
    std::string cause = std::string(what) + ": " + systemMessage(code);
    if (code == ERROR_ACCESS_DENIED)
        cause += " (run it as an administrator)";
    return cause;
}

// The firewall's rule list through COM, for one scope. Empty cause when it could be reached.
class FirewallRules {
public:
    FirewallRules() {
        const HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        initialised = SUCCEEDED(init);
        HRESULT result =
            CoCreateInstance(__uuidof(NetFwPolicy2), nullptr, CLSCTX_INPROC_SERVER,
                             __uuidof(INetFwPolicy2), reinterpret_cast<void **>(&policy));
        if (SUCCEEDED(result))
            result = policy->get_Rules(&rules);
        if (FAILED(result))
            cause = "the firewall cannot be reached: " + systemMessage(DWORD(result));
    }
    ~FirewallRules() {
        if (rules)
            rules->Release();
        if (policy)
            policy->Release();
        if (initialised)
            CoUninitialize();
    }
    FirewallRules(const FirewallRules &) = delete;
    FirewallRules &operator=(const FirewallRules &) = delete;

    // Where Group Policy overrides the local rules, adding one succeeds and it does nothing;
    // "" when the rules take effect (or the firewall does not say).
    std::string overridden() const {
        NET_FW_MODIFY_STATE state = NET_FW_MODIFY_STATE_OK;
        if (!policy || FAILED(policy->get_LocalPolicyModifyState(&state)))
            return {};
        if (state == NET_FW_MODIFY_STATE_GP_OVERRIDE)
            return "Group Policy overrides the local firewall rules: the rules for Tarnivo have "
                   "no effect; allow its ports in the policy";
        if (state == NET_FW_MODIFY_STATE_INBOUND_BLOCKED)
            return "the firewall blocks every inbound connection on this network: the rules for "
                   "Tarnivo have no effect";
        return {};
    }

    // An inbound rule allowing the port on the domain and private networks only, from the
    // given remote addresses: a monitor's figures are not for public networks (a café, an
    // airport).
    bool add(const wchar_t *name, NET_FW_IP_PROTOCOL protocol, int port,
             const std::wstring &program, const std::wstring &remote) {
        if (!rules)
            return false;
        remove(name);
        INetFwRule *rule = nullptr;
        HRESULT result = CoCreateInstance(__uuidof(NetFwRule), nullptr, CLSCTX_INPROC_SERVER,
                                          __uuidof(INetFwRule), reinterpret_cast<void **>(&rule));
        if (FAILED(result)) {
            cause = "a firewall rule cannot be made: " + systemMessage(DWORD(result));
            return false;
        }
        BSTR ruleName = SysAllocString(name);
        BSTR group = SysAllocString(L"Tarnivo");
        BSTR ports = SysAllocString(std::to_wstring(port).c_str());
        BSTR application = SysAllocString(program.c_str());
        BSTR addresses = SysAllocString(remote.c_str());
        rule->put_Name(ruleName);
        rule->put_Grouping(group);
        rule->put_ApplicationName(application);
        rule->put_Protocol(protocol);
        rule->put_LocalPorts(ports);
        const HRESULT scoped = rule->put_RemoteAddresses(addresses);
        rule->put_Direction(NET_FW_RULE_DIR_IN);
        rule->put_Action(NET_FW_ACTION_ALLOW);
        rule->put_Profiles(NET_FW_PROFILE2_DOMAIN | NET_FW_PROFILE2_PRIVATE);
        rule->put_Enabled(VARIANT_TRUE);
        // A rule the scope could not be set on would admit every address: not added.
        if (SUCCEEDED(scoped))
            result = rules->Add(rule);
        SysFreeString(ruleName);
        SysFreeString(group);
        SysFreeString(ports);
        SysFreeString(application);
        SysFreeString(addresses);
        rule->Release();
        if (FAILED(scoped))
            cause = "no firewall rule was added: the firewall refuses the remote addresses \"" +
                    wideToUtf8(remote.data(), remote.size()) +
                    "\": " + systemMessage(DWORD(scoped));
        else if (FAILED(result))
            cause = "a firewall rule cannot be added: " + systemMessage(DWORD(result));
        return SUCCEEDED(result) && SUCCEEDED(scoped);
    }

    void remove(const wchar_t *name) {
        if (!rules)
            return;
        BSTR ruleName = SysAllocString(name);
        rules->Remove(ruleName);
        SysFreeString(ruleName);
    }

    std::string cause;

private:
    bool initialised = false;
    INetFwPolicy2 *policy = nullptr;
    INetFwRules *rules = nullptr;
};

// The event source's registration: the message file is the program itself.
std::string registerEventSource(const std::wstring &program) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, eventSourceKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                        &key, nullptr) != ERROR_SUCCESS)
        return "the event log source Tarnivo cannot be registered";
    const DWORD types = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;
    const bool set =
        RegSetValueExW(key, L"EventMessageFile", 0, REG_EXPAND_SZ,
                       reinterpret_cast<const BYTE *>(program.c_str()),
                       DWORD((program.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS &&
        RegSetValueExW(key, L"TypesSupported", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&types),
                       sizeof types) == ERROR_SUCCESS;
    RegCloseKey(key);
    return set ? std::string() : "the event log source Tarnivo cannot be registered";
}

// Warnings of one call, each on a line of its own.
void addWarning(std::string &warning, const std::string &text) {
    if (text.empty())
        return;
    warning += (warning.empty() ? "" : "\n") + text;
}

std::wstring executablePath() {
    std::wstring path(32768, L'\0');
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), DWORD(path.size()));
    path.resize(length);
    return path;
}
} // namespace

bool beginService() {
    serviceDecided = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    serviceEnded = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    // The dispatcher blocks its thread for the service's whole life, and the program's own
    // main thread must stay free for its event loop, so it gets a thread of its own. Started
    // any other way than by the manager, it fails at once.
    dispatcher = std::thread([] {
        SERVICE_TABLE_ENTRYW table[] = {{serviceName, serviceMain}, {nullptr, nullptr}};
        StartServiceCtrlDispatcherW(table);
        SetEvent(serviceDecided);
    });
    WaitForSingleObject(serviceDecided, INFINITE);
    if (!startedByManager) {
        dispatcher.join();
        return false;
    }
    return true;
}

bool runningAsService() {
    return startedByManager;
}

bool serviceActive() {
    ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager.get())
        return false;
    ServiceHandle service(OpenServiceW(manager.get(), serviceName, SERVICE_QUERY_STATUS));
    SERVICE_STATUS state = {};
    return service.get() && QueryServiceStatus(service.get(), &state) &&
           (state.dwCurrentState == SERVICE_RUNNING ||
            state.dwCurrentState == SERVICE_START_PENDING);
}

void serviceRunning() {
    if (startedByManager)
        report(SERVICE_RUNNING);
}

void serviceStopped(int exitCode) {
    if (!startedByManager)
        return;
    report(SERVICE_STOPPED, 0, exitCode);
    SetEvent(serviceEnded);
    dispatcher.join();
}

void writeSystemLog(const std::string &text, bool error) {
    // Opened once, on the first line, and kept until the process ends.
    static std::mutex sourceLock;
    static HANDLE source = nullptr;
    std::lock_guard<std::mutex> lock(sourceLock);
    if (!source)
        source = RegisterEventSourceW(nullptr, serviceName);
    if (!source)
        return;
    const std::wstring line = utf8ToWide(text);
    const wchar_t *strings[] = {line.c_str()};
    ReportEventW(source, error ? EVENTLOG_ERROR_TYPE : EVENTLOG_INFORMATION_TYPE, 0, lineMessageId,
                 nullptr, 1, 0, strings, nullptr);
}

std::string installService(const std::string &arguments, int webPort, int heartbeatPort,
                           const std::string &remoteAddresses, std::string &warning) {
    const std::wstring program = executablePath();
    const std::wstring command = L"\"" + program + L"\" " + utf8ToWide(arguments);
    ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE));
    if (!manager.get())
        return failure("the service manager cannot be opened");
    ServiceHandle service(CreateServiceW(manager.get(), serviceName, L"Tarnivo", SERVICE_ALL_ACCESS,
                                         SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START,
                                         SERVICE_ERROR_NORMAL, command.c_str(), nullptr, nullptr,
                                         nullptr, nullptr, nullptr));
    if (!service.get() && GetLastError() == ERROR_SERVICE_EXISTS) {
        // Installing again (an upgrade, another port) changes the one service in place.
        service.reset(OpenServiceW(manager.get(), serviceName, SERVICE_ALL_ACCESS));
        if (service.get() &&
            !ChangeServiceConfigW(service.get(), SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START,
                                  SERVICE_ERROR_NORMAL, command.c_str(), nullptr, nullptr, nullptr,
                                  nullptr, nullptr, L"Tarnivo"))
            return failure("the service cannot be changed");
    }
    if (!service.get())
        return failure("the service cannot be registered");
    wchar_t text[] = L"Tarnivo system monitor: the web dashboard, its status document and the "
                     L"heartbeat on the local network.";
    SERVICE_DESCRIPTIONW description{text};
    ChangeServiceConfig2W(service.get(), SERVICE_CONFIG_DESCRIPTION, &description);
    SC_ACTION restart[3];
    for (SC_ACTION &action : restart)
        action = {SC_ACTION_RESTART, restartDelayMs};
    SERVICE_FAILURE_ACTIONSW failureActions{};
    failureActions.dwResetPeriod = failureResetSeconds;
    failureActions.cActions = DWORD(std::size(restart));
    failureActions.lpsaActions = restart;
    // A start that ends with an exit code counts as a failure, not only a crash.
    SERVICE_FAILURE_ACTIONS_FLAG onExitCode{TRUE};
    if (!ChangeServiceConfig2W(service.get(), SERVICE_CONFIG_FAILURE_ACTIONS, &failureActions) ||
        !ChangeServiceConfig2W(service.get(), SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, &onExitCode))
        addWarning(warning, failure("the service's restart after a failure cannot be set"));

    addWarning(warning, registerEventSource(program));

    FirewallRules rules;
    const std::wstring remote = utf8ToWide(remoteAddresses);
    if (!rules.add(webRuleName, NET_FW_IP_PROTOCOL_TCP, webPort, program, remote) ||
        !rules.add(heartbeatRuleName, NET_FW_IP_PROTOCOL_UDP, heartbeatPort, program, remote))
        addWarning(warning, rules.cause);
    addWarning(warning, rules.overridden());
    return {};
}

std::string startService() {
    ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager.get())
        return failure("the service manager cannot be opened");
    ServiceHandle service(
        OpenServiceW(manager.get(), serviceName, SERVICE_START | SERVICE_QUERY_STATUS));
    if (!service.get())
        return failure("the service cannot be opened");
    if (!StartServiceW(service.get(), 0, nullptr) &&
        GetLastError() != ERROR_SERVICE_ALREADY_RUNNING)
        return failure("the service cannot be started");
    // It reports "running" once it serves: the first device scan and its self-test.
    SERVICE_STATUS state{};
    for (int i = 0; i < 100; ++i) {
        if (!QueryServiceStatus(service.get(), &state))
            return failure("the service's state cannot be read");
        if (state.dwCurrentState == SERVICE_RUNNING)
            return {};
        if (state.dwCurrentState == SERVICE_STOPPED)
            return "the service stopped at once (exit code " +
                   std::to_string(state.dwServiceSpecificExitCode) +
                   "): is its port in use, or its web root missing?";
        Sleep(200);
    }
    return "the service did not report running within 20 seconds";
}

std::string uninstallService(std::string &warning) {
    ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager.get())
        return failure("the service manager cannot be opened");
    ServiceHandle service(
        OpenServiceW(manager.get(), serviceName, SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE));
    if (!service.get() && GetLastError() != ERROR_SERVICE_DOES_NOT_EXIST)
        return failure("the service cannot be opened");
    if (service.get()) {
        // A running service is stopped first and given the time its stop promises.
        SERVICE_STATUS state{};
        if (ControlService(service.get(), SERVICE_CONTROL_STOP, &state)) {
            for (int i = 0; i < 50 && state.dwCurrentState != SERVICE_STOPPED; ++i) {
                Sleep(200);
                if (!QueryServiceStatus(service.get(), &state))
                    break;
            }
        }
        if (!DeleteService(service.get()) && GetLastError() != ERROR_SERVICE_MARKED_FOR_DELETE)
            return failure("the service cannot be removed");
    }
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, eventSourceKey);
    FirewallRules rules;
    rules.remove(webRuleName);
    rules.remove(heartbeatRuleName);
    warning = rules.cause;
    return {};
}

} // namespace platform
