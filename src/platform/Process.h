// The process and its surroundings: arguments, being told to end, and running as a service.
#pragma once

#include <string>
#include <vector>

namespace platform {

// The program's arguments after its name, as UTF-8. Linux takes them from argv; Windows reads
// the wide command line (argv there is in the ANSI code page and loses characters).
std::vector<std::string> arguments(int argc, char **argv);

// Makes standard error (and output) reach the console the program was started from. A Windows
// GUI program gets none of its own; its handles work as given when they are redirected. Nothing
// on Linux.
void attachParentConsole();

// Whether a window can be shown. Linux: a display server is named (DISPLAY or WAYLAND_DISPLAY),
// or QT_QPA_PLATFORM chooses a platform of its own (offscreen, vnc, ...). Windows: always.
bool displayAvailable();

// Linux: replaces the process with the program of that name beside this executable, given the
// arguments after its name; returns only when there is no such program or it cannot be run.
// Windows: returns at once (a service must stay the process the service manager started).
void runInstead(const std::string &programName, const std::vector<std::string> &arguments);

// Being told to end: Ctrl+C and SIGTERM on Linux; Ctrl+C, Ctrl+Break, the console closing, the
// system shutting down and the user's logoff (ignored by a service) on Windows, where a closing
// console waits for the orderly end; and requestTermination() from the program itself (a
// service stop). catchTermination() installs the handlers once; waitForTermination() blocks
// until a request came, and requests before the wait are kept.
void catchTermination();
void waitForTermination();
void requestTermination();

// Windows service. The service control manager starts "tarnivo.exe --headless ...";
// beginService() finds out whether it did: when it did, it reports "start pending" and returns
// true, and a stop from the manager reports "stop pending" and requests termination. The
// program then reports "running" once it serves, and "stopped" (with its exit code) at the end.
// Launched any other way, beginService() returns false. Linux: always false.
bool beginService();
// What beginService() found: whether the service control manager started the program.
bool runningAsService();
void serviceRunning();
void serviceStopped(int exitCode);
// Whether the service "Tarnivo" runs now, whoever asks: Windows' service control manager says
// it runs (or starts); on Linux systemd's unit tarnivo.service is active.
bool serviceActive();

// Writes one line to the system's log: Windows' Application event log under the source
// "Tarnivo", which installService() registers (tarnivo.exe holds its message table), as
// information or as an error. Linux: nothing (the journal keeps standard error).
void writeSystemLog(const std::string &text, bool error);

// Registers the automatic-start service "Tarnivo" that runs this executable with the given
// arguments, restarted by the manager after a crash or a failed start, its event source, and
// the firewall rules
// for the web port (TCP) and the heartbeat (UDP) on the domain and private profiles, from the
// remote addresses given (the firewall's own words: "LocalSubnet", "*", addresses and ranges
// separated by commas); uninstallService() removes all of it. Both return "" on success, else
// the cause in plain words; a firewall that cannot be changed, or whose local rules Group
// Policy overrides, does not stop the service from being installed or removed and is told in
// `warning` (one line each). Linux: not available (the package installs a systemd unit).
std::string installService(const std::string &arguments, int webPort, int heartbeatPort,
                           const std::string &remoteAddresses, std::string &warning);
std::string uninstallService(std::string &warning);
// Starts the installed service and waits until it runs; "" on success, else the cause.
std::string startService();

} // namespace platform
