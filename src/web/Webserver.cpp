#include "Webserver.h"

#include "RequestOrigin.h"
#include "TlsCertificate.h"
#include "WebAccess.h"
#include "platform/Platform.h"

#include <algorithm>

namespace {
// Threads at once; threads one peer address may hold (so one host cannot take every worker);
// accepted connections that may wait for a thread before further ones are closed at once.
constexpr int defaultMaxRunning = 64;
constexpr int defaultMaxPerAddress = 16;
constexpr int defaultMaxQueued = 256;
// How often the listener looks again for a connection to give way while others wait.
constexpr int roomCheckInterval = 50;

// Now on the steady clock that QDeadlineTimer uses, in milliseconds.
qint64 now() {
    return QDeadlineTimer::current().deadline();
}

} // namespace

Webserver::Webserver()
    : QTcpServer(nullptr), limiter(defaultMaxRunning, defaultMaxPerAddress, defaultMaxQueued) {
    expiry.setSingleShot(true);
    expiry.setTimerType(Qt::PreciseTimer);
    connect(&expiry, &QTimer::timeout, this, &Webserver::expireQueued);
    roomCheck.setInterval(roomCheckInterval);
    connect(&roomCheck, &QTimer::timeout, this, &Webserver::makeRoom);
    // The names the server answers to, and who may ask, are read anew at every Start.
    RequestOrigin::loadNames();
    WebAccess::load();
    strTlsProblem = TlsCertificate::load();
}

Webserver::~Webserver() {
    for (const auto &waiting : limiter.takeQueued())
        platform::closeSocket(waiting.intSocket);
}

bool Webserver::listen(const QHostAddress &address, quint16 port) {
#ifdef Q_OS_WIN
    if (address.protocol() == QAbstractSocket::IPv4Protocol || address == QHostAddress::Any) {
        listenedExclusively = true;
        platform::ListenRefusal refusal;
        intptr_t socket = platform::listenExclusively(
            address == QHostAddress::Any ? "::" : address.toString().toStdString(), port, &refusal);
        // A system without IPv6 still serves IPv4.
        if (socket == -1 && address == QHostAddress::Any &&
            refusal == platform::ListenRefusal::Other)
            socket = platform::listenExclusively("0.0.0.0", port, &refusal);
        exclusiveListenError =
            refusal == platform::ListenRefusal::InUse    ? QAbstractSocket::AddressInUseError
            : refusal == platform::ListenRefusal::Denied ? QAbstractSocket::SocketAccessError
                                                         : QAbstractSocket::UnknownSocketError;
        if (socket == -1)
            return false;
        if (setSocketDescriptor(socket))
            return true;
        platform::closeSocket(socket);
        return false;
    }
#endif
    return QTcpServer::listen(address, port);
}

QAbstractSocket::SocketError Webserver::listenError() const {
    return listenedExclusively ? exclusiveListenError : serverError();
}

QString Webserver::listenErrorText() const {
    return listenedExclusively ? QString() : errorString();
}

void Webserver::setLimits(int maxRunning, int maxPerAddress, int maxQueued) {
    limiter = ConnectionLimiter(maxRunning, maxPerAddress, maxQueued);
}

void Webserver::setTimeouts(const WebserverThread::Timeouts &limits) {
    timeouts = limits;
}

void Webserver::incomingConnection(qintptr intSocket) {
    const QString address = QString::fromStdString(platform::peerAddress(intSocket));
    // The request deadline runs from here, through any wait in the queue.
    const qint64 deadline = QDeadlineTimer(timeouts.intRequestDeadline).deadline();
    std::optional<ConnectionLimiter::Connection> displaced;
    switch (limiter.admit(intSocket, address, deadline, &displaced)) {
    case ConnectionLimiter::Admission::Start:
        launch({intSocket, address, deadline});
        break;
    case ConnectionLimiter::Admission::Queue:
        if (displaced)
            platform::closeSocket(displaced->intSocket);
        if (!expiry.isActive())
            expireQueued();
        makeRoom();
        break;
    case ConnectionLimiter::Admission::Refuse:
        platform::closeSocket(intSocket);
        break;
    }
}

void Webserver::launch(const ConnectionLimiter::Connection &connection) {
    QDeadlineTimer deadline;
    deadline.setDeadline(connection.intDeadline);
    // Waiting on its client from here: a connection that has just been given a thread does not
    // give it up again before it has had its time.
    auto control = std::make_shared<ConnectionControl>(connection.intSocket, now());
    auto *thread = new WebserverThread(control, timeouts, deadline);
    const QString address = connection.strAddress;
    const quint64 id = ++intNextId;
    running[id] = {address, control, false};
    // Queued to this (GUI) thread; dropped if the listener is deleted first.
    connect(thread, &QThread::finished, this,
            [this, id, address]() { finishedConnection(id, address); });
    // A connection's calls are shallow; a small stack lets the C library keep many of them
    // cached between connections instead of mapping eight megabytes for each.
    thread->setStackSize(512 * 1024);
    thread->start(QThread::InheritPriority);
    if (!thread->isRunning() && !thread->isFinished()) {
        // No thread could be created (out of resources): the connection is closed instead.
        control->close();
        delete thread;
        finishedConnection(id, address);
    }
}

void Webserver::finishedConnection(quint64 intId, const QString &strAddress) {
    running.erase(intId);
    // What is due is closed first, so that a freed thread never goes to an expired connection.
    expireQueued();
    for (const auto &next : limiter.release(strAddress))
        launch(next);
    makeRoom();
}

void Webserver::makeRoom() {
    int needed = limiter.heldBackByTheTotal();
    std::vector<ConnectionLimiter::Running> candidates;
    for (const auto &[id, connection] : running) {
        if (connection.boolGivingWay)
            --needed;
        else
            candidates.push_back({id, connection.strAddress, connection.control->waitingSince()});
    }
    const qint64 time = now();
    for (quint64 id = 0;
         needed > 0 && limiter.chooseToGiveWay(candidates, time, timeouts.intGiveWay, id);
         --needed) {
        Running &connection = running[id];
        connection.boolGivingWay = true;
        connection.control->giveWay();
        candidates.erase(
            std::find_if(candidates.begin(), candidates.end(),
                         [id](const auto &candidate) { return candidate.intId == id; }));
    }
    if (needed > 0) {
        if (!roomCheck.isActive())
            roomCheck.start();
    } else {
        roomCheck.stop();
    }
}

void Webserver::expireQueued() {
    for (const auto &due : limiter.expire(now()))
        platform::closeSocket(due.intSocket);
    qint64 next = 0;
    if (limiter.nextDeadline(next))
        expiry.start(int(qBound<qint64>(0, next - now(), 24LL * 3600 * 1000)));
    else
        expiry.stop();
}
