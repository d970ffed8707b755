// Runs the web server without the window, for measurements and the dashboard's end-to-end
// test: tarnivo_httpd_bench PORT WEBROOT [--stats]. It samples the counters as the program does.
// Prints "listening PORT" once it accepts (PORT 0 picks a free one); with --stats also
// "counters N" every second: how many counters the shared query holds.
#include "Perfdata.h"
#include "SharedState.h"
#include "Webserver.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <QTimer>
#include <cstdio>

int main(int argc, char *argv[]) {
    // As the program bounds them.
    platform::limitMemoryArenas(2);
    QCoreApplication application(argc, argv);
    const QStringList arguments = application.arguments();
    const bool stats = arguments.size() == 4 && arguments.at(3) == QLatin1String("--stats");
    if (arguments.size() != 3 && !stats) {
        std::fprintf(stderr, "usage: tarnivo_httpd_bench PORT WEBROOT [--stats]\n");
        return 2;
    }
    setContentPath(arguments.at(2));
    perfdata();
    Webserver server;
    if (!server.listen(QHostAddress::AnyIPv4, quint16(arguments.at(1).toUInt()))) {
        std::fprintf(stderr, "cannot listen: %s\n", qPrintable(server.listenErrorText()));
        return 1;
    }
    std::printf("listening %u\n", unsigned(server.serverPort()));
    std::fflush(stdout);
    QTimer report;
    if (stats) {
        QObject::connect(&report, &QTimer::timeout, [] {
            std::printf("counters %zu\n", platform::counterCount(perfdata()->query));
            std::fflush(stdout);
        });
        report.start(1000);
    }
    return application.exec();
}
