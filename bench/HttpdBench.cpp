// Runs the web server without the window, for measurements and the dashboard's end-to-end
// test: tarnivo_httpd_bench PORT WEBROOT. It samples the counters as the program does.
// Prints "listening PORT" once it accepts (PORT 0 picks a free one).
#include "Perfdata.h"
#include "SharedState.h"
#include "Webserver.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <cstdio>

int main(int argc, char *argv[]) {
    QCoreApplication application(argc, argv);
    const QStringList arguments = application.arguments();
    if (arguments.size() != 3) {
        std::fprintf(stderr, "usage: tarnivo_httpd_bench PORT WEBROOT\n");
        return 2;
    }
    setContentPath(arguments.at(2));
    perfdata();
    Webserver server;
    if (!server.listen(QHostAddress::AnyIPv4, quint16(arguments.at(1).toUInt()))) {
        std::fprintf(stderr, "cannot listen: %s\n", qPrintable(server.errorString()));
        return 1;
    }
    std::printf("listening %u\n", unsigned(server.serverPort()));
    std::fflush(stdout);
    return application.exec();
}
