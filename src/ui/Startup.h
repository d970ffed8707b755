// What the program does with or without its window: reads the options and the machine-wide
// file, installs or removes the service, starts the monitor (history, devices, heartbeat,
// sampling), serves without a window, and ends in order. Uses no widgets, so that the program
// without its window is built without them.
#pragma once

#include <QStringList>
#include <QtGlobal>

class CommandLine;
class HeartbeatThread;

// Made at start-up, never deleted while the process runs.
extern HeartbeatThread *heartbeatThread;

class Startup {
public:
    // Runs the window with the options; returns the program's result.
    using Window = int (*)(const CommandLine &options);

    // Reads the options (CommandLine) from the arguments after the program's name and acts on
    // them: prints help or the version, installs or removes the service, runs without a window,
    // or runs the window (refused where there is none). A refused option ends the process with
    // code 2. Never returns.
    [[noreturn]] static void start(const QStringList &arguments, Window window);

    // The port the machine-wide file sets (0 when it sets none) unless the command line gives one.
    static quint16 chosenPort(const CommandLine &options);
    // The monitor watches from its start, whether or not anyone ever opens a page.
    static void startMonitor(const CommandLine &options);
    // Stops the listener, the heartbeat and the sampling thread and waits for the connection
    // threads, so that the process can end without tearing anything down under a running
    // thread. Returns true when every thread had stopped within the time allowed.
    static bool shutdown();
    [[noreturn]] static void finish(int result);

private:
    // The monitor without its window: serves until told to end; 0, or 1 when it cannot start.
    static int runHeadless(const CommandLine &options);
    static int installService(const CommandLine &options);
    static int uninstallService();
};
