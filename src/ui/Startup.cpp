#include "Startup.h"

#include "AlertNotifier.h"
#include "AlertThread.h"
#include "CommandLine.h"
#include "DeviceScan.h"
#include "Discovery.h"
#include "FleetWatch.h"
#include "HeartbeatProtocol.h"
#include "HeartbeatThread.h"
#include "HistoryFile.h"
#include "Log.h"
#include "MachineSettings.h"
#include "Perfdata.h"
#include "PerfdataThread.h"
#include "ServerControl.h"
#include "StateFolder.h"
#include "WebserverThread.h"
#include "platform/Host.h"
#include "platform/Platform.h"
#include "platform/Process.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <cstdio>
#include <cstdlib>
#include <thread>

HeartbeatThread *heartbeatThread = nullptr;
AlertThread *alertThread = nullptr;

namespace {
// The port of the program without its window, and of the service, when none is given.
const quint16 headlessPort = 8080;
// The service's log file: renamed to tarnivo.log.1 when it would grow past this.
const qint64 serviceLogBytes = 1024 * 1024;
// The C library's memory arenas: the main one and one that the other threads share.
const int memoryArenas = 2;

void say(const QString &text) {
    Log::say(text);
}
} // namespace

quint16 Startup::chosenPort(const CommandLine &options) {
    return options.intPort ? options.intPort
                           : quint16(MachineSettings::value(QStringLiteral("web/port")).toUInt());
}

// The monitor watches from its start, whether or not anyone ever opens a page: brings back the
// history kept in the state folder, takes stock of the devices, and starts the heartbeat and
// the sampling thread.
void Startup::startMonitor(const CommandLine &options) {
    const QString folder =
        options.strState.isEmpty() ? StateFolder::defaultPath() : options.strState;
    HistoryFile::instance().setFolder(folder);
    const QString restored = HistoryFile::instance().restore();
    if (!restored.isEmpty())
        say(restored);
    DeviceScan::instance().takeStock();

    heartbeatThread = new HeartbeatThread();
    heartbeatThread->start(QThread::InheritPriority);

    // The judge starts with the receivers it tells; both live until the process ends.
    Alerts::instance().setLimits(Alerts::configured());
    auto *notifier = new AlertNotifier(AlertNotifier::configured(),
                                       {QString::fromStdString(platform::hostName()), QString()});
    notifier->start();
    AlertNotifier::setCurrent(notifier);
    alertThread = new AlertThread(Alerts::instance());
    alertThread->setListener([notifier](const std::vector<Alerts::Alert> &changes,
                                        const std::vector<Alerts::Alert> &firing,
                                        qint64 now) { notifier->notify(changes, firing, now); });
    if (MachineSettings::value(QStringLiteral("alerts/watchFleet")).toBool()) {
        auto *watch = new FleetWatch(Discovery::instance());
        alertThread->addSource([watch](qint64 now) {
            std::vector<Alerts::Reading> silent;
            for (const auto &[address, minutes] : watch->silence(now))
                silent.push_back(
                    {Alerts::Kind::Silent, address, QLatin1String("machine:") + address, minutes});
            return silent;
        });
    }
    // The judge's rounds run after each sampling pass; its own thread reads the slow figures.
    alertThread->start();
    PerfdataThread::setAfterPass([] { alertThread->round(); });
    // perfdata() publishes the object before its constructor starts the sampling thread, so
    // the thread finds this object and never makes a second one.
    perfdata();
}

bool Startup::shutdown() {
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
    // After the sampler, whose passes end with the judge's round, which tells the notifier.
    if (alertThread) {
        alertThread->requestStop();
        stopped = alertThread->wait(3000) && stopped;
    }
    // Notifications still waiting are not sent: an attempt under way is aborted.
    if (AlertNotifier *notifier = AlertNotifier::current())
        notifier->stop();
    // A connection may be in the middle of a slow transfer; it is given a few seconds.
    stopped = WebserverThread::waitForAll(3000) && stopped;
    const QString unsaved = HistoryFile::instance().save();
    if (!unsaved.isEmpty())
        say(QStringLiteral("the history is not kept: %1").arg(unsaved));
    return stopped;
}

void Startup::start(const QStringList &arguments, Window window) {
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

    ServerControl::setWebRoot(options.strContent);
    if (options.boolHeadless)
        finish(runHeadless(options));

    if (!window) {
        say(QStringLiteral("this program runs only without a window: start it with --headless"));
        finish(2);
    }
    finish(window(options));
}

int Startup::runHeadless(const CommandLine &options) {
    // Without a window the main loop only waits for the end: Qt's own event loop will do, and
    // GLib's is neither loaded nor woken.
    if (!qEnvironmentVariableIsSet("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", "1");
    int argc = 0;
    char *argv[] = {nullptr};
    QCoreApplication application(argc, argv);
    platform::catchTermination();
    const bool service = platform::beginService();
    if (service) {
        // No console: its lines go to a file in the state folder and to the event log.
        MachineSettings::ignoreUserSettings();
        const QString folder =
            options.strState.isEmpty() ? StateFolder::defaultPath() : options.strState;
        QDir().mkpath(folder);
        Log::keepIn(folder + QStringLiteral("/tarnivo.log"), serviceLogBytes);
        Log::toSystemLog();
    }
    startMonitor(options);

    // Without a window the remembered port is not the choice: the file's, else 8080.
    quint32 port = chosenPort(options);
    if (!port)
        port = headlessPort;
    QString cause;
    int result = 0;
    if (!ServerControl::start(port, cause)) {
        Log::say(QStringLiteral("the server did not start: %1").arg(cause), true);
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

int Startup::installService(const CommandLine &options) {
    // The service reads the machine-wide file, which keeps its port too: a repair or an
    // upgrade that names none keeps the port chosen before (the service's command line
    // carries it as well, so that a file edited since changes nothing until the next install).
    MachineSettings::ignoreUserSettings();
    const QString file = MachineSettings::defaultPath();
    const QString shown = QDir::toNativeSeparators(file);
    if (!options.strConfig.isEmpty()) {
        bool copied = false;
        const QString cause = MachineSettings::adopt(options.strConfig, file, copied);
        if (!cause.isEmpty()) {
            say(QStringLiteral("the service was not installed: %1").arg(cause));
            return 1;
        }
        say(copied ? QStringLiteral("copied %1 to %2").arg(options.strConfig, shown)
                   : QStringLiteral("kept %1, which is there already").arg(shown));
    }
    const QString allowedKey = QStringLiteral("web/allowedAddresses");
    if (!options.strAllowed.isEmpty()) {
        QStringList list;
        for (const QString &entry : options.strAllowed.split(QLatin1Char(',')))
            list << entry.trimmed();
        const QString cause = MachineSettings::store(file, allowedKey, list);
        if (!cause.isEmpty()) {
            say(QStringLiteral("the service was not installed: %1").arg(cause));
            return 1;
        }
    }
    bool refused = false;
    for (const QString &message : MachineSettings::load(file, false)) {
        say(message);
        refused = refused || (!options.strAllowed.isEmpty() && message.contains(allowedKey));
    }
    // A list it cannot read would let only this machine in: better no service than that.
    if (refused) {
        say(QStringLiteral("the service was not installed: --allowed is no list of addresses"));
        return 1;
    }
    const quint16 kept = quint16(MachineSettings::value(QStringLiteral("web/port")).toUInt());
    const quint16 port = options.intPort ? options.intPort : kept ? kept : headlessPort;
    QString arguments = QStringLiteral("--headless --port %1").arg(port);
    if (!options.strContent.isEmpty())
        arguments +=
            QStringLiteral(" --content \"%1\"")
                .arg(QDir::toNativeSeparators(QFileInfo(options.strContent).absoluteFilePath()));
    std::string warning;
    const std::string cause = platform::installService(
        arguments.toStdString(), port, HeartbeatProtocol::port,
        MachineSettings::value(QStringLiteral("service/firewallRemote")).toString().toStdString(),
        warning);
    if (!warning.empty())
        say(QString::fromStdString(warning));
    if (!cause.empty()) {
        say(QStringLiteral("the service was not installed: %1").arg(QString::fromStdString(cause)));
        return 1;
    }
    say(QStringLiteral("installed the service Tarnivo on port %1").arg(port));
    if (options.boolStart) {
        const std::string started = platform::startService();
        if (!started.empty()) {
            say(QStringLiteral("the service did not start: %1 (its log: %2)")
                    .arg(QString::fromStdString(started),
                         QDir::toNativeSeparators(StateFolder::defaultPath() +
                                                  QStringLiteral("/tarnivo.log"))));
            // Not left behind, automatic and pointing at a port it cannot have (the
            // installer's rollback also removes it, after any later failure too).
            std::string removal;
            if (platform::uninstallService(removal).empty())
                say(QStringLiteral("removed the service Tarnivo again"));
            return 1;
        }
        say(QStringLiteral("started the service Tarnivo"));
    }
    // Kept once the service is in place (a failed install leaves the file as it was), for a
    // repair or an upgrade that names no port.
    if (options.intPort && port != kept) {
        const QString cause = MachineSettings::store(file, QStringLiteral("web/port"), port);
        if (!cause.isEmpty()) {
            say(QStringLiteral("the port is not kept: %1").arg(cause));
            return 1;
        }
    }
    return 0;
}

int Startup::uninstallService() {
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

void Startup::finish(int result) {
    // No static destruction: records, tables and their mutexes simply end with the process,
    // as every other long-lived object does.
    std::fflush(nullptr);
    std::_Exit(result);
}
