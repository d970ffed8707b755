// The program's entry point: WinMain on Windows, main elsewhere. Arguments are ignored.
#include "Main.h"

#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <cstdlib>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

static int start() {
    int argc = 0;
    char *argv[] = {nullptr};
    int result;
    {
        // No command-line argument reaches Qt.
        QApplication application(argc, argv);
        Main *main = new Main(&application);
        QTimer::singleShot(0, main, SLOT(run()));
        result = application.exec();

        // The threads are stopped, or given time to finish, while everything they use still
        // exists. A connection still sending to a slow client after that must not see the
        // application object go, so the process then ends on the spot.
        if (!Main::shutdown()) {
            std::fflush(nullptr);
            std::_Exit(result);
        }
    }
    // No static destruction either: records, tables and their mutexes simply end with the
    // process, as every other long-lived object does.
    std::fflush(nullptr);
    std::_Exit(result);
}

#ifdef Q_OS_WIN
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return start(); }
#else
int main(int, char **) { return start(); }
#endif
