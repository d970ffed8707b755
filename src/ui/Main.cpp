#include "Main.h"

#include "CommandLine.h"
#include "DeviceScan.h"
#include "HeartbeatProtocol.h"
#include "HeartbeatThread.h"
#include "HistoryFile.h"
#include "Log.h"
#include "MachineSettings.h"
#include "Perfdata.h"
#include "PerfdataThread.h"
#include "ServerControl.h"
#include "Settings.h"
#include "StateFolder.h"
#include "WebserverThread.h"
#include "platform/Platform.h"
#include "platform/Process.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QIcon>
#include <QLineEdit>
#include <QStyleFactory>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <thread>

#ifdef Q_OS_WIN
#include <QImage>
#include <QPixmap>
#include <windows.h>
#endif

Display *display = nullptr;
DisplayAboutAuthor *displayAboutAuthor = nullptr;
DisplayAboutVersion *displayAboutVersion = nullptr;
HeartbeatThread *heartbeatThread = nullptr;

namespace {
// The options the program was started with, for run(). Written once before the main loop.
CommandLine startOptions;
// The port of the program without its window, and of the service, when none is given.
const quint16 headlessPort = 8080;
// The C library's memory arenas: the main one and one that the other threads share.
const int memoryArenas = 2;

void say(const QString &text) {
    Log::say(text);
}

// The port the machine-wide file sets (0 when it sets none) unless the command line gives one.
quint16 chosenPort(const CommandLine &options) {
    return options.intPort ? options.intPort
                           : quint16(MachineSettings::value(QStringLiteral("web/port")).toUInt());
}

// The monitor watches from its start, whether or not anyone ever opens a page: brings back the
// history kept in the state folder, takes stock of the devices, and starts the heartbeat and
// the sampling thread.
void startMonitor() {
    const QString folder =
        startOptions.strState.isEmpty() ? StateFolder::defaultPath() : startOptions.strState;
    HistoryFile::instance().setFolder(folder);
    const QString restored = HistoryFile::instance().restore();
    if (!restored.isEmpty())
        say(restored);
    DeviceScan::instance().takeStock();

    heartbeatThread = new HeartbeatThread();
    heartbeatThread->start(QThread::InheritPriority);
    // perfdata() publishes the object before its constructor starts the sampling thread, so
    // the thread finds this object and never makes a second one.
    perfdata();
}
} // namespace

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
    // The command line, then the machine-wide file, win over what the user's Start remembered.
    if (const quint16 port = chosenPort(startOptions))
        display->editSettingsPort->setText(QString::number(port));

    startMonitor();
    // Connected once the thread runs: a problem it found before is taken as it stands.
    connect(heartbeatThread, &HeartbeatThread::portProblemChanged, display,
            &Display::showHeartbeatProblem);
    display->showHeartbeatProblem(heartbeatThread->portProblem());

    if (startOptions.boolStart || Settings::startOnLaunch())
        QTimer::singleShot(0, display, &Display::clickedSettingsStart);

    QEventLoop *loop = new QEventLoop();
    connect(application, &QCoreApplication::aboutToQuit, loop, &QEventLoop::quit);
    loop->exec(QEventLoop::AllEvents);
    delete loop;
    QCoreApplication::quit();
}

bool Main::shutdown() {
    // The listener takes connections on a thread of its own: it stops first, so that no
    // connection starts while the others are waited for.
    ServerControl::stop();
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
    const QString unsaved = HistoryFile::instance().save();
    if (!unsaved.isEmpty())
        say(QStringLiteral("the history is not kept: %1").arg(unsaved));
    return stopped;
}

void Main::start(const QStringList &arguments) {
    // Before any thread can touch a drive that is not ready.
    platform::suppressErrorDialogs();
    // Before any thread starts: connection threads meeting in malloc would otherwise add arenas
    // (up to eight per processor), each keeping the memory its threads freed.
    platform::limitMemoryArenas(memoryArenas);
    const CommandLine options = CommandLine::parse(arguments);
    platform::attachParentConsole();
    if (!options.strError.isEmpty()) {
        say(options.strError);
        finish(2);
    }
    if (options.boolHelp) {
        std::fputs(qPrintable(CommandLine::help()), stdout);
        finish(0);
    }
    if (options.boolVersion) {
        std::printf("Tarnivo %s\n", HeartbeatProtocol::strVersion);
        finish(0);
    }
    if (options.boolInstallService)
        finish(installService(options));
    if (options.boolUninstallService)
        finish(uninstallService());

    QCoreApplication::setOrganizationName(QStringLiteral("Tarnivo"));
    QCoreApplication::setApplicationName(QStringLiteral("Tarnivo"));
    // A refused key keeps its default; only a file named on the command line must be there.
    const bool named = !options.strConfig.isEmpty();
    const QString config = named ? options.strConfig : MachineSettings::defaultPath();
    if (named && !QFileInfo(config).isFile()) {
        say(QStringLiteral("--config names no file: %1").arg(config));
        finish(2);
    }
    for (const QString &message : MachineSettings::load(config, named))
        say(message);

    startOptions = options;
    ServerControl::setWebRoot(options.strContent);
    if (options.boolHeadless)
        finish(runHeadless(options));

    // Without a display Qt aborts with a message about reinstalling the program.
    if (!platform::displayAvailable()) {
        say(QStringLiteral("no display to show the window on (DISPLAY and WAYLAND_DISPLAY are "
                           "not set); start with --headless to run without a window"));
        finish(1);
    }
    int argc = 0;
    char *argv[] = {nullptr};
    int result;
    {
        // No command-line argument reaches Qt: the options above are the program's own.
        QApplication application(argc, argv);
        Main *main = new Main(&application);
        QTimer::singleShot(0, main, SLOT(run()));
        result = application.exec();

        // The threads are stopped, or given time to finish, while everything they use still
        // exists. A connection still sending to a slow client after that must not see the
        // application object go, so the process then ends on the spot.
        if (!shutdown())
            finish(result);
    }
    finish(result);
}

int Main::runHeadless(const CommandLine &options) {
    int argc = 0;
    char *argv[] = {nullptr};
    QCoreApplication application(argc, argv);
    platform::catchTermination();
    const bool service = platform::beginService();
    startMonitor();

    // Without a window the remembered port is not the choice: the file's, else 8080.
    quint32 port = chosenPort(options);
    if (!port)
        port = headlessPort;
    QString cause;
    int result = 0;
    if (!ServerControl::start(port, cause)) {
        say(QStringLiteral("the server did not start: %1").arg(cause));
        result = 1;
    } else {
        say(QStringLiteral("serving %1 on port %2%3")
                .arg(ServerControl::webRoot())
                .arg(port)
                .arg(service ? QStringLiteral(" as the service Tarnivo") : QString()));
        platform::serviceRunning();
        // The wait for the end blocks; it runs beside the event loop and ends it from there.
        std::thread watcher([&application] {
            platform::waitForTermination();
            QMetaObject::invokeMethod(&application, &QCoreApplication::quit, Qt::QueuedConnection);
        });
        application.exec();
        watcher.join();
        say(QStringLiteral("stopping"));
    }
    if (!shutdown())
        say(QStringLiteral("a connection was still busy at the end"));
    platform::serviceStopped(result);
    return result;
}

int Main::installService(const CommandLine &options) {
    const quint16 port = options.intPort ? options.intPort : headlessPort;
    QString arguments = QStringLiteral("--headless --port %1").arg(port);
    if (!options.strContent.isEmpty())
        arguments +=
            QStringLiteral(" --content \"%1\"")
                .arg(QDir::toNativeSeparators(QFileInfo(options.strContent).absoluteFilePath()));
    std::string warning;
    const std::string cause =
        platform::installService(arguments.toStdString(), port, HeartbeatProtocol::port, warning);
    if (!warning.empty())
        say(QString::fromStdString(warning));
    if (!cause.empty()) {
        say(QStringLiteral("the service was not installed: %1").arg(QString::fromStdString(cause)));
        return 1;
    }
    say(QStringLiteral("installed the service Tarnivo on port %1").arg(port));
    if (!options.boolStart)
        return 0;
    const std::string started = platform::startService();
    if (!started.empty()) {
        say(QStringLiteral("the service did not start: %1").arg(QString::fromStdString(started)));
        return 1;
    }
    say(QStringLiteral("started the service Tarnivo"));
    return 0;
}

int Main::uninstallService() {
    std::string warning;
    const std::string cause = platform::uninstallService(warning);
    if (!warning.empty())
        say(QString::fromStdString(warning));
    if (!cause.empty()) {
        say(QStringLiteral("the service was not removed: %1").arg(QString::fromStdString(cause)));
        return 1;
    }
    say(QStringLiteral("removed the service Tarnivo"));
    return 0;
}

void Main::finish(int result) {
    // No static destruction: records, tables and their mutexes simply end with the process,
    // as every other long-lived object does.
    std::fflush(nullptr);
    std::_Exit(result);
}
