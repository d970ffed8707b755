#include "Main.h"

#include "CommandLine.h"
#include "HeartbeatThread.h"
#include "Log.h"
#include "Settings.h"
#include "Startup.h"
#include "platform/Platform.h"
#include "platform/Process.h"

#include <QApplication>
#include <QEventLoop>
#include <QIcon>
#include <QLineEdit>
#include <QStyleFactory>
#include <QTimer>

#include <string>
#include <vector>

#ifdef Q_OS_WIN
#include <QImage>
#include <QPixmap>
#include <windows.h>
#endif

Display *display = nullptr;
DisplayAboutAuthor *displayAboutAuthor = nullptr;
DisplayAboutVersion *displayAboutVersion = nullptr;

namespace {
// The options the program was started with, for run(). Written once before the main loop.
CommandLine startOptions;
// The program without its window, beside this one.
const char headlessProgram[] = "tarnivo-headless";
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
    if (const quint16 port = Startup::chosenPort(startOptions))
        display->editSettingsPort->setText(QString::number(port));

    Startup::startMonitor(startOptions);
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

void Main::start(const QStringList &arguments) {
    if (CommandLine::parse(arguments).boolHeadless) {
        std::vector<std::string> list;
        for (const QString &argument : arguments)
            list.push_back(argument.toStdString());
        // Returns only where there is no such program (Windows, or a build without it).
        platform::runInstead(headlessProgram, list);
    }
    Startup::start(arguments, &Main::runWindow);
}

int Main::runWindow(const CommandLine &options) {
    startOptions = options;
    // Without a display Qt aborts with a message about reinstalling the program.
    if (!platform::displayAvailable()) {
        Log::say(QStringLiteral("no display to show the window on (DISPLAY and WAYLAND_DISPLAY are "
                                "not set); start with --headless to run without a window"));
        return 1;
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
        if (!Startup::shutdown())
            Startup::finish(result);
    }
    return result;
}
