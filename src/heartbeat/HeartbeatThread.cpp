#include "HeartbeatThread.h"

#include "Discovery.h"
#include "HeartbeatProtocol.h"
#include "Log.h"
#include "SharedState.h"

#include "platform/Process.h"

#include <QMutexLocker>
#include <QNetworkDatagram>
#include <QNetworkProxy>
#include <QUdpSocket>
#include <atomic>
#include <memory>

namespace {
// Another program may hold the port (a second Tarnivo, a heartbeat client without address
// sharing); it is tried again after this pause rather than in a tight loop.
constexpr int intDefaultRetryMs = 3000;
// Only should the system refuse a waker: the receive wait is then cut into slices, so that a
// stop request at exit is still seen within one.
constexpr int intDefaultSliceMs = 250;

std::atomic<quint64> intDroppedRequests{0};

// Whom an answer must never go to, whatever a request's source says: nobody (0.0.0.0/8), every
// host at once (255.255.255.255) or a multicast group.
bool answerable(const QHostAddress &address) {
    bool ipv4 = false;
    const quint32 bits = address.toIPv4Address(&ipv4);
    return ipv4 && (bits >> 24) != 0 && (bits >> 28) != 0xE && bits != 0xFFFFFFFFu;
}
} // namespace

quint64 HeartbeatThread::droppedRequests() {
    return intDroppedRequests.load();
}

HeartbeatThread::HeartbeatThread()
    : HeartbeatThread(HeartbeatProtocol::port, intDefaultRetryMs, intDefaultSliceMs,
                      &Discovery::instance()) {}

HeartbeatThread::HeartbeatThread(quint16 intHeartbeatPort, int intRetryMs, int intSliceMs,
                                 Discovery *discovery, ReplyLimiter::Clock replyClock)
    : QThread(nullptr), intHeartbeatPort(intHeartbeatPort), intRetryMs(intRetryMs),
      intSliceMs(intSliceMs), discovery(discovery), waker(platform::openWaker()),
      limiter(intRepliesPerAddress, intRepliesTotal, std::move(replyClock)),
      strStatus(QStringLiteral("statusNone")) {}

HeartbeatThread::~HeartbeatThread() {
    platform::closeWaker(waker);
}

void HeartbeatThread::requestStop() {
    QMutexLocker lock(&statusMutex);
    boolStopRequested = true;
    stopCondition.wakeAll();
    platform::wake(waker);
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

QString HeartbeatThread::portProblem() const {
    QMutexLocker lock(&statusMutex);
    return strPortProblem;
}

void HeartbeatThread::setPortProblem(const QString &problem) {
    {
        QMutexLocker lock(&statusMutex);
        if (strPortProblem == problem)
            return;
        strPortProblem = problem;
    }
    if (!problem.isEmpty() && !loggedProblems.contains(problem)) {
        loggedProblems.append(problem);
        Log::say(problem);
    }
    emit portProblemChanged(problem);
}

QString HeartbeatThread::bindFailure(quint16 port, QAbstractSocket::SocketError error,
                                     const QString &systemText, int retryMs) {
    QString cause;
    if (error == QAbstractSocket::AddressInUseError)
        cause = QStringLiteral("another program holds it (another Tarnivo on this machine?)");
    else if (error == QAbstractSocket::SocketAccessError)
#ifdef Q_OS_WIN
        // Windows has no privileged ports; it refuses the ports it has reserved for others.
        cause = QStringLiteral("Windows refuses it (%1): Hyper-V, WSL2 or Docker may have "
                               "reserved it, as \"netsh interface ipv4 show excludedportrange "
                               "protocol=udp\" shows")
                    .arg(systemText);
#else
        cause = QStringLiteral("it is refused to this account (%1)").arg(systemText);
#endif
    else
        cause = systemText;
    const QString problem = QStringLiteral("the heartbeat cannot use UDP port %1: %2, so other "
                                           "machines cannot find this one and this one finds none")
                                .arg(port)
                                .arg(cause);
    return retryMs <= 0
               ? problem
               : problem + QStringLiteral("; trying again every %1 s").arg(qMax(1, retryMs / 1000));
}

QString HeartbeatThread::bindPort(QUdpSocket &socket, quint16 port, int retryMs) {
    // Datagrams of this network only: no proxy is asked for (which would load the system's
    // proxy libraries and keep a thread of theirs for good).
    socket.setProxy(QNetworkProxy::NoProxy);
    // Whether the port is free, asked before sharing it: shared, the bind below succeeds
    // beside another holder, and the system gives each datagram sent to this machine to one of
    // them, so the other's discovery hears nothing.
    bool alone = false;
    {
        QUdpSocket probe;
        probe.setProxy(QNetworkProxy::NoProxy);
        alone = probe.bind(QHostAddress::AnyIPv4, port, QAbstractSocket::DontShareAddress);
    }
    // Shared, never exclusive. ShareAddress alone is SO_REUSEADDR on Linux, so that a
    // requester on this machine can listen on the port too, and Windows' default sharing
    // there. ReuseAddressHint would add SO_REUSEADDR on Windows, where it binds over a port
    // that another program holds, and which socket then gets a datagram is undefined.
    if (!socket.bind(QHostAddress::AnyIPv4, port, QAbstractSocket::ShareAddress)) {
        // A window beside the service: the service holds the port and answers for the machine.
        if (socket.error() == QAbstractSocket::AddressInUseError && !platform::runningAsService() &&
            platform::serviceActive())
            return QStringLiteral("the service Tarnivo holds the heartbeat's UDP port %1 and "
                                  "answers for this machine; this window finds no other machines "
                                  "while the service runs")
                .arg(port);
        return bindFailure(port, socket.error(), socket.errorString(), retryMs);
    }
    if (alone)
        return QString();
    return QStringLiteral("the heartbeat shares UDP port %1 with another program on this machine "
                          "(another Tarnivo?): answers meant for one of them may reach the "
                          "other, so machines may go unfound")
        .arg(port);
}

QString HeartbeatThread::portCheck(quint16 port) {
    QUdpSocket socket;
    return bindPort(socket, port, 0);
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
    if (discovery && waker != -1)
        discovery->setSender([this] { platform::wake(waker); });
    while (serving()) {
        // An unbound socket makes every wait return at once; a fresh socket per attempt keeps
        // a failed bind from leaving state behind.
        if (!socket || socket->state() != QAbstractSocket::BoundState) {
            setBound(false);
            socket = std::make_unique<QUdpSocket>();
            setPortProblem(bindPort(*socket, intHeartbeatPort, intRetryMs));
            if (socket->state() != QAbstractSocket::BoundState) {
                pauseBeforeRetry();
                continue;
            }
            setBound(true);
        }
        const platform::WaitResult woke = platform::waitReadable(socket->socketDescriptor(), waker,
                                                                 waker == -1 ? intSliceMs : -1);
        if (woke == platform::WaitResult::Failed) {
            socket.reset();
            pauseBeforeRetry();
            continue;
        }
        sendRound(*socket);
        // Every datagram queued by now is answered, in arrival order, before the next test;
        // only a stop request cuts the run short, so that a flood cannot hold up the exit.
        while (socket->hasPendingDatagrams() && !stopRequested()) {
            const QNetworkDatagram datagram = socket->receiveDatagram();
            if (!datagram.isValid()) {
                break;
            }
            handle(*socket, datagram);
        }
    }
    if (discovery) {
        discovery->setSender({});
        // An orderly end: machines that watch this one are told not to miss it.
        if (socket && socket->state() == QAbstractSocket::BoundState)
            for (const QHostAddress &target : discovery->goodbyeTargets())
                socket->writeDatagram(HeartbeatProtocol::goodbye(), target, intHeartbeatPort);
    }
    setBound(false);
    socket.reset();
    setStatus(QStringLiteral("statusDisabled"));
}

void HeartbeatThread::handle(QUdpSocket &socket, const QNetworkDatagram &datagram) {
    const QByteArray reply = HeartbeatProtocol::reply(datagram.data(), intListeningPort.load());
    if (!reply.isEmpty()) {
        const QHostAddress sender = datagram.senderAddress();
        if (!answerable(sender))
            return;
        if (limiter.allow(sender.toIPv4Address()))
            socket.writeDatagram(reply, sender, intHeartbeatPort);
        else
            ++intDroppedRequests;
        return;
    }
    if (discovery && HeartbeatProtocol::isGoodbye(datagram.data())) {
        discovery->farewell(datagram.senderAddress(), quint32(datagram.interfaceIndex()));
        return;
    }
    // Replies are recorded, never answered, so that two responders never answer each other.
    HeartbeatProtocol::Answer answer;
    if (discovery && HeartbeatProtocol::answer(datagram.data(), answer))
        discovery->hear(datagram.senderAddress(), quint32(datagram.interfaceIndex()), answer);
}

void HeartbeatThread::sendRound(QUdpSocket &socket) {
    if (!discovery)
        return;
    const QVector<QHostAddress> targets = discovery->takeRound();
    for (const QHostAddress &target : targets) {
        // Requests go to the heartbeat port of every host on the subnet, this one included;
        // their replies come back to this socket.
        for (const char *command : {"commandVersion", "commandPort"})
            socket.writeDatagram(HeartbeatProtocol::request(QLatin1String(command)), target,
                                 intHeartbeatPort);
    }
}
