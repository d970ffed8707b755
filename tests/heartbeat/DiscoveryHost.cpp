// The monitor without its window, as after Start: the web server on PORT serving WEBROOT, the
// heartbeat on its own port, sampling, and looking for other machines allowed. For the
// end-to-end tests, which run each copy in a network namespace of its own:
//   tarnivo_discovery_host PORT WEBROOT [SETTINGS]
// with SETTINGS a machine-wide settings file. Prints "listening PORT" once it accepts.
#include "Discovery.h"
#include "HeartbeatThread.h"
#include "MachineSettings.h"
#include "Perfdata.h"
#include "SharedState.h"
#include "Webserver.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <cstdio>

int main(int argc, char *argv[]) {
    QCoreApplication application(argc, argv);
    const QStringList arguments = application.arguments();
    if (arguments.size() != 3 && arguments.size() != 4) {
        std::fprintf(stderr, "usage: tarnivo_discovery_host PORT WEBROOT [SETTINGS]\n");
        return 2;
    }
    for (const QString &message : MachineSettings::load(arguments.value(3), arguments.size() == 4))
        std::fprintf(stderr, "%s\n", qPrintable(message));
    setContentPath(arguments.at(2));
    perfdata();
    HeartbeatThread *heartbeat = new HeartbeatThread();
    heartbeat->start();
    Webserver server;
    if (!server.listen(QHostAddress::Any, quint16(arguments.at(1).toUInt()))) {
        std::fprintf(stderr, "cannot listen: %s\n", qPrintable(server.listenErrorText()));
        return 1;
    }
    intPort = server.serverPort();
    intListeningPort = server.serverPort();
    Discovery::instance().setRunning(true);
    std::printf("listening %u\n", unsigned(server.serverPort()));
    std::fflush(stdout);
    return application.exec();
}
