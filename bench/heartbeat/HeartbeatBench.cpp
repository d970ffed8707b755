// Load and idle figures of the heartbeat thread.
//   heartbeat_bench rate SECONDS   answers per second, with a window of requests in flight
//   heartbeat_bench idle SECONDS   serves and waits; run.sh watches the process's CPU time
//   heartbeat_bench taken SECONDS  the same while another socket holds the port
#include "HeartbeatThread.h"
#include "SharedState.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QNetworkDatagram>
#include <QUdpSocket>
#include <cstdio>
#include <memory>

namespace {
const QByteArray versionRequest =
    "Start:Heartbeat\nstrType:typeRequest\nstrCommand:commandVersion\nStop:Heartbeat";

quint16 freeUdpPort() {
    QUdpSocket probe;
    probe.bind(QHostAddress::AnyIPv4, 0);
    return probe.localPort();
}

int rate(quint16 port, int seconds) {
    // Answers go to the heartbeat port, so the requester shares it on another loopback address.
    QUdpSocket requester;
    if (!requester.bind(QHostAddress(QStringLiteral("127.0.0.2")), port,
                        QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint)) {
        std::fprintf(stderr, "cannot bind the requester\n");
        return 1;
    }
    // Enough in flight to keep the thread busy, few enough for the loopback buffers.
    const int window = 32;
    qint64 sent = 0;
    qint64 answered = 0;
    qint64 lost = 0;
    QElapsedTimer elapsed;
    elapsed.start();
    while (elapsed.elapsed() < seconds * 1000) {
        while (sent - answered - lost < window) {
            requester.writeDatagram(versionRequest, QHostAddress::LocalHost, port);
            ++sent;
        }
        if (!requester.waitForReadyRead(200)) {
            // Nothing for a long while: what is in flight counts as lost, and the window opens.
            lost = sent - answered;
            continue;
        }
        while (requester.hasPendingDatagrams()) {
            if (requester.receiveDatagram().data().size() == 92) {
                ++answered;
            }
        }
    }
    const double perSecond = answered * 1000.0 / elapsed.elapsed();
    std::printf("answered %lld of %lld requests (%lld lost) in %.2f s: %.0f requests/s\n",
                static_cast<long long>(answered), static_cast<long long>(sent),
                static_cast<long long>(lost), elapsed.elapsed() / 1000.0, perSecond);
    return 0;
}
} // namespace

int main(int argc, char **argv) {
    QCoreApplication application(argc, argv);
    const QStringList arguments = application.arguments();
    const QString mode = arguments.value(1);
    const int seconds = arguments.value(2, QStringLiteral("3")).toInt();

    const quint16 port = freeUdpPort();
    std::unique_ptr<QUdpSocket> holder;
    if (mode == QLatin1String("taken")) {
        holder = std::make_unique<QUdpSocket>();
        holder->bind(QHostAddress::AnyIPv4, port, QAbstractSocket::DontShareAddress);
    }
    // The production waits: no time-out while bound (250 ms slices only without a waker), a
    // bind attempt every 3 s. The rate is the thread's own work: its answer limits, which
    // would hold one requester to 10 a second, see a second pass at every reading.
    qint64 intLimitClock = 0;
    HeartbeatThread thread(port, 3000, 250, nullptr,
                           [&intLimitClock] { return intLimitClock += 1000; });
    thread.start();
    int result = 0;
    if (mode == QLatin1String("rate")) {
        QElapsedTimer bound;
        bound.start();
        while (!thread.isBound() && bound.elapsed() < 2000) {
            QThread::msleep(10);
        }
        result = rate(port, seconds);
    } else if (mode == QLatin1String("idle") || mode == QLatin1String("taken")) {
        std::printf("serving port %u, bound: %s; idle for %d s\n", port,
                    thread.isBound() ? "yes" : "not yet", seconds);
        std::fflush(stdout);
        QThread::sleep(seconds);
    } else {
        std::fprintf(stderr, "usage: heartbeat_bench rate|idle|taken SECONDS\n");
        result = 2;
    }
    thread.requestStop();
    thread.wait();
    return result;
}
