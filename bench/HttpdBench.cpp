// Runs the web server alone, for measurements: tarnivo_httpd_bench PORT WEBROOT.
// Prints "listening PORT" once it accepts (PORT 0 picks a free one).
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
    Webserver server;
    if (!server.listen(QHostAddress::AnyIPv4, quint16(arguments.at(1).toUInt()))) {
        std::fprintf(stderr, "cannot listen: %s\n", qPrintable(server.errorString()));
        return 1;
    }
    std::printf("listening %u\n", unsigned(server.serverPort()));
    std::fflush(stdout);
    return application.exec();
}
