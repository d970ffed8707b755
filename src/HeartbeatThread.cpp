#include "HeartbeatThread.h"

#include "HeartbeatProtocol.h"
#include "SharedState.h"

#include <QMutexLocker>
#include <QNetworkDatagram>
#include <QUdpSocket>
#include <memory>

namespace {
// Another program may hold the port (a second Tarnivo, a heartbeat client without address
// sharing); it is tried again after this pause rather than in a tight loop.
constexpr int intDefaultRetryMs = 3000;
// The receive wait is cut into slices so that a stop request at exit is seen within one.
constexpr int intDefaultSliceMs = 250;
} // namespace

HeartbeatThread::HeartbeatThread()
    : HeartbeatThread(HeartbeatProtocol::port, intDefaultRetryMs, intDefaultSliceMs) {}

HeartbeatThread::HeartbeatThread(quint16 intHeartbeatPort, int intRetryMs, int intSliceMs)
    : QThread(nullptr), intHeartbeatPort(intHeartbeatPort), intRetryMs(intRetryMs),
      intSliceMs(intSliceMs), strStatus(QStringLiteral("statusNone")) {}

void HeartbeatThread::requestStop() {
    QMutexLocker lock(&statusMutex);
    boolStopRequested = true;
    stopCondition.wakeAll();
}

QString HeartbeatThread::status() const {
    QMutexLocker lock(&statusMutex);
    return strStatus;
}

bool HeartbeatThread::isBound() const {
    QMutexLocker lock(&statusMutex);
    return boolBound;
}

bool HeartbeatThread::serving() const {
    QMutexLocker lock(&statusMutex);
    return strStatus == QLatin1String("statusEnabled") && !boolStopRequested;
}

bool HeartbeatThread::stopRequested() const {
    QMutexLocker lock(&statusMutex);
    return boolStopRequested;
}

void HeartbeatThread::setStatus(const QString &status) {
    QMutexLocker lock(&statusMutex);
    strStatus = status;
}

void HeartbeatThread::setBound(bool bound) {
    QMutexLocker lock(&statusMutex);
    boolBound = bound;
}

void HeartbeatThread::pauseBeforeRetry() {
    QMutexLocker lock(&statusMutex);
    if (!boolStopRequested) {
        stopCondition.wait(&statusMutex, intRetryMs);
    }
}

void HeartbeatThread::run() {
    std::unique_ptr<QUdpSocket> socket;
    setStatus(QStringLiteral("statusEnabled"));
    while (serving()) {
        // An unbound socket makes every wait return at once; a fresh socket per attempt keeps
        // a failed bind from leaving state behind.
        if (!socket || socket->state() != QAbstractSocket::BoundState) {
            setBound(false);
            socket = std::make_unique<QUdpSocket>();
            // Shared, never exclusive. ShareAddress alone is SO_REUSEADDR on Linux, so that a
            // requester on this machine can listen on the port too, and Windows' default
            // sharing there. ReuseAddressHint would add SO_REUSEADDR on Windows, where it binds
            // over a port that another program holds, and which socket then gets a datagram
            // is undefined.
            if (!socket->bind(QHostAddress::AnyIPv4, intHeartbeatPort,
                              QAbstractSocket::ShareAddress)) {
                pauseBeforeRetry();
                continue;
            }
            setBound(true);
        }
        socket->waitForReadyRead(intSliceMs);
        // Every datagram queued by now is answered, in arrival order, before the next test;
        // only a stop request cuts the run short, so that a flood cannot hold up the exit.
        while (socket->hasPendingDatagrams() && !stopRequested()) {
            const QNetworkDatagram datagram = socket->receiveDatagram();
            if (!datagram.isValid()) {
                break;
            }
            const QByteArray reply = HeartbeatProtocol::reply(datagram.data(), intPort.load());
            if (!reply.isEmpty()) {
                socket->writeDatagram(reply, datagram.senderAddress(), intHeartbeatPort);
            }
        }
    }
    setBound(false);
    socket.reset();
    setStatus(QStringLiteral("statusDisabled"));
}
