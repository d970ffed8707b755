// The application object: installs style and icon, then runs start-up and the nested loop.
#pragma once

#include "Display.h" // first: a forward declaration would meet Xlib's "Display" later

#include <QObject>

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

    // Builds the application, queues run(), runs the main loop and ends the process with the
    // loop's result. Never returns.
    [[noreturn]] static void start();

    // Stops the heartbeat and the sampling thread and waits for the connection threads, so
    // that the process can end without tearing anything down under a running thread.
    // Returns true when every thread had stopped within the time allowed.
    static bool shutdown();

public slots:
    void run();

private:
    QApplication *application;
};
