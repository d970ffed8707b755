// The application object with its window: installs style and icon, then runs start-up and the
// nested loop.
#pragma once

#include "Display.h" // first: a forward declaration would meet Xlib's "Display" later

#include <QObject>
#include <QStringList>

class CommandLine;
class QApplication;
class DisplayAboutAuthor;
class DisplayAboutVersion;

// Long-lived objects, written only by the GUI thread and never deleted while the process runs.
extern Display *display;
extern DisplayAboutAuthor *displayAboutAuthor;
extern DisplayAboutVersion *displayAboutVersion;

class Main : public QObject {
    Q_OBJECT
public:
    explicit Main(QApplication *application);

    // Reads the options and acts on them (Startup::start); with a window, builds the
    // application, queues run(), runs the main loop and ends the process with the loop's
    // result. On Linux the program without its window is a build of its own, which loads no
    // widgets (and so no windowing libraries): the process becomes that program when it is
    // beside this one. Never returns.
    [[noreturn]] static void start(const QStringList &arguments = {});

public slots:
    void run();

private:
    static int runWindow(const CommandLine &options);

    QApplication *application;
};
