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

BOOL WINAPI onConsoleControl(DWORD) {
    requestTermination();
    return TRUE;
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
