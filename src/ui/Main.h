// The application object: installs style and icon, then runs start-up and the nested loop.
#pragma once

#include "Display.h" // first: a forward declaration would meet Xlib's "Display" later

#include <QObject>
#include <QStringList>

class CommandLine;
class QApplication;
class DisplayAboutAuthor;
class DisplayAboutVersion;
class HeartbeatThread;

// Long-lived objects, written only by the GUI thread and never deleted while the process runs.
extern Display *display;
extern DisplayAboutAuthor *displayAboutAuthor;
extern DisplayAboutVersion *displayAboutVersion;
extern HeartbeatThread *heartbeatThread;

class Main : public QObject {
    Q_OBJECT
public:
    explicit Main(QApplication *application);

    // Reads the options (CommandLine) from the arguments after the program's name and acts on
    // them: prints help or the version, installs or removes the service, runs without a window,
    // or builds the application, queues run(), runs the main loop and ends the process with
    // the loop's result. A refused option ends the process with code 2. Never returns.
    [[noreturn]] static void start(const QStringList &arguments = {});

    // Stops the heartbeat and the sampling thread and waits for the connection threads, so
    // that the process can end without tearing anything down under a running thread.
    // Returns true when every thread had stopped within the time allowed.
    static bool shutdown();

public slots:
    void run();

private:
    // The monitor without its window: serves until told to end; 0, or 1 when it cannot start.
    static int runHeadless(const CommandLine &options);
    static int installService(const CommandLine &options);
    static int uninstallService();
    [[noreturn]] static void finish(int result);

    QApplication *application;
};
