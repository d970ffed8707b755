#include "Main.h"

#include "HeartbeatThread.h"
#include "Perfdata.h"
#include "PerfdataThread.h"
#include "WebserverThread.h"
#include "platform/Platform.h"

#include <QApplication>
#include <QEventLoop>
#include <QIcon>
#include <QStyleFactory>
#include <QTimer>
#include <cstdio>
#include <cstdlib>

#ifdef Q_OS_WIN
#include <QImage>
#include <QPixmap>
#include <windows.h>
#endif

Display *display = nullptr;
DisplayAboutAuthor *displayAboutAuthor = nullptr;
DisplayAboutVersion *displayAboutVersion = nullptr;
HeartbeatThread *heartbeatThread = nullptr;

static QIcon windowIcon() {
#ifdef Q_OS_WIN
    // Icon resource 102 of the executable, at its own size; a missing resource gives an
    // empty icon and no message.
    HICON handle = static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(102),
                                                 IMAGE_ICON, 0, 0, LR_DEFAULTCOLOR));
    QIcon icon(QPixmap::fromImage(QImage::fromHICON(handle)));
    DestroyIcon(handle);
    return icon;
#else
    // Elsewhere the same picture comes from the Qt resource.
    Q_INIT_RESOURCE(resources);
    return QIcon(QStringLiteral(":/tarnivo.png"));
#endif
}

Main::Main(QApplication *application) : QObject(nullptr), application(application) {
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QApplication::setWindowIcon(windowIcon());
}

void Main::run() {
    platform::enableDebugPrivilege();

    display = new Display();

    heartbeatThread = new HeartbeatThread();
    heartbeatThread->start(QThread::InheritPriority);

    // perfdata() publishes the object before its constructor starts the sampling thread, so
    // the thread finds this object and never makes a second one.
    perfdata();

    QEventLoop *loop = new QEventLoop();
    connect(application, &QCoreApplication::aboutToQuit, loop, &QEventLoop::quit);
    loop->exec(QEventLoop::AllEvents);
    delete loop;
    QCoreApplication::quit();
}

bool Main::shutdown() {
    bool stopped = true;
    if (heartbeatThread) {
        heartbeatThread->requestStop();
        stopped = heartbeatThread->wait(3000) && stopped;
    }
    PerfdataThread *sampler = perfdata()->thread;
    if (sampler) {
        sampler->requestStop();
        stopped = sampler->wait(3000) && stopped;
    }
    // A connection may be in the middle of a slow transfer; it is given a few seconds.
    stopped = WebserverThread::waitForAll(3000) && stopped;
    return stopped;
}

void Main::start() {
    // Before any thread can touch a drive that is not ready.
    platform::suppressErrorDialogs();
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
        if (!shutdown()) {
            std::fflush(nullptr);
            std::_Exit(result);
        }
    }
    // No static destruction either: records, tables and their mutexes simply end with the
    // process, as every other long-lived object does.
    std::fflush(nullptr);
    std::_Exit(result);
}
