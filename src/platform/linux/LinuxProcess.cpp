// Linux backend of the process functions: argv, and SIGINT/SIGTERM through a pipe.
#include "platform/Process.h"

#include "SystemFiles.h"
#include "platform/Platform.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace platform {

namespace {
// Written by the signal handler (write() is async-signal-safe), read by the waiting thread.
int terminationPipe[2] = {-1, -1};

void onSignal(int) {
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] ssize_t written = write(terminationPipe[1], &byte, 1);
    errno = saved;
}
} // namespace

std::vector<std::string> arguments(int argc, char **argv) {
    std::vector<std::string> result;
    for (int i = 1; i < argc; ++i)
        result.emplace_back(argv[i]);
    return result;
}

void attachParentConsole() {}

void runInstead(const std::string &programName, const std::vector<std::string> &arguments) {
    char self[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0)
        return;
    std::string path(self, size_t(length));
    path = path.substr(0, path.rfind('/') + 1) + programName;
    std::vector<std::string> copies = arguments;
    std::vector<char *> argv{path.data()};
    for (std::string &argument : copies)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    execv(path.c_str(), argv.data());
}

bool displayAvailable() {
    for (const char *name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
        const char *value = std::getenv(name);
        if (value && *value)
            return true;
    }
    return false;
}

void catchTermination() {
    if (terminationPipe[0] >= 0)
        return;
    if (pipe2(terminationPipe, O_CLOEXEC) != 0)
        return;
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

void waitForTermination() {
    char byte = 0;
    while (read(terminationPipe[0], &byte, 1) < 0 && errno == EINTR) {
    }
}

void requestTermination() {
    onSignal(0);
}

bool beginService() {
    return false;
}
bool runningAsService() {
    return false;
}

bool serviceActive() {
    // systemd keeps this link while the unit runs, for every unit, readable by anyone.
    // (It names the invocation's identifier: it dangles, and is only read.)
    return !linux_files::linkTarget(
                linux_files::underRoot(rootDirectory(),
                                       "/run/systemd/units/invocation:tarnivo.service"))
                .empty();
}
void serviceRunning() {}
void writeSystemLog(const std::string &, bool) {}
void serviceStopped(int) {}

std::string installService(const std::string &, int, int, const std::string &, std::string &) {
    return "a Windows service can only be installed on Windows; on Linux install the package, "
           "which brings the systemd unit tarnivo.service";
}

std::string uninstallService(std::string &warning) {
    return installService({}, 0, 0, {}, warning);
}

std::string startService() {
    std::string warning;
    return installService({}, 0, 0, {}, warning);
}

} // namespace platform
