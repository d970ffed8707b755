// Windows backend of the process functions: the wide command line, the parent's console, and
// console control events through an event object.
#include "platform/Process.h"
#include "platform/windows/WindowsText.h"

#include <cstdio>
#include <cwchar>
#include <shellapi.h>

namespace platform {

namespace {
// Manual reset: once set it stays set, so a request before the wait is not lost.
HANDLE terminationEvent = nullptr;

// How long a closing console waits for the orderly end; Windows itself ends the process 5 s
// after the event at the latest.
constexpr DWORD closeWaitMs = 10000;

// Runs on a thread of its own that the system starts for each event.
BOOL WINAPI onConsoleControl(DWORD type) {
    switch (type) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        requestTermination();
        return TRUE;
    case CTRL_LOGOFF_EVENT:
        // A service sees every user's logoff; it is none of its business.
        if (runningAsService())
            return TRUE;
        [[fallthrough]];
    case CTRL_CLOSE_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        // The process ends as soon as this returns, so it returns only when the orderly end,
        // which ends the process itself, has not come in time.
        requestTermination();
        Sleep(closeWaitMs);
        return TRUE;
    default:
        return FALSE;
    }
}

bool validHandle(DWORD which) {
    HANDLE handle = GetStdHandle(which);
    return handle != nullptr && handle != INVALID_HANDLE_VALUE;
}
} // namespace

std::vector<std::string> arguments(int, char **) {
    std::vector<std::string> result;
    int count = 0;
    wchar_t **list = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!list)
        return result;
    for (int i = 1; i < count; ++i)
        result.push_back(wideToUtf8(list[i], std::wcslen(list[i])));
    LocalFree(list);
    return result;
}

void runInstead(const std::string &, const std::vector<std::string> &) {}

void attachParentConsole() {
    // Redirected handles (a pipe, a file) already work; only a program started from a console
    // window with nothing redirected needs that console.
    if (validHandle(STD_ERROR_HANDLE))
        return;
    if (!AttachConsole(ATTACH_PARENT_PROCESS))
        return;
    std::freopen("CONOUT$", "w", stderr);
    if (!validHandle(STD_OUTPUT_HANDLE))
        std::freopen("CONOUT$", "w", stdout);
}

bool displayAvailable() {
    // Every session has a desktop; a service's windows are only never seen.
    return true;
}

void catchTermination() {
    if (terminationEvent)
        return;
    terminationEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(onConsoleControl, TRUE);
}

void waitForTermination() {
    WaitForSingleObject(terminationEvent, INFINITE);
}

void requestTermination() {
    SetEvent(terminationEvent);
}

} // namespace platform
