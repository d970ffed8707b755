#include "Webserver.h"

#include "platform/Platform.h"

namespace {
// Threads at once; threads one peer address may hold (so one host cannot take every worker);
// accepted connections that may wait for a thread before further ones are closed at once.
constexpr int defaultMaxRunning = 64;
constexpr int defaultMaxPerAddress = 16;
constexpr int defaultMaxQueued = 256;

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
}

Webserver::~Webserver() {
    for (const auto &waiting : limiter.takeQueued())
        platform::closeSocket(waiting.intSocket);
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
    switch (limiter.admit(intSocket, address, deadline)) {
    case ConnectionLimiter::Admission::Start:
        launch({intSocket, address, deadline});
        break;
    case ConnectionLimiter::Admission::Queue:
        if (!expiry.isActive())
            expireQueued();
        break;
    case ConnectionLimiter::Admission::Refuse:
        platform::closeSocket(intSocket);
        break;
    }
}

void Webserver::launch(const ConnectionLimiter::Connection &connection) {
    QDeadlineTimer deadline;
    deadline.setDeadline(connection.intDeadline);
    auto *thread = new WebserverThread(connection.intSocket, timeouts, deadline);
    const QString address = connection.strAddress;
    // Queued to this (GUI) thread; dropped if the listener is deleted first.
    connect(thread, &QThread::finished, this, [this, address]() { finishedConnection(address); });
    // A connection's calls are shallow; a small stack lets the C library keep many of them
    // cached between connections instead of mapping eight megabytes for each.
    thread->setStackSize(512 * 1024);
    thread->start(QThread::InheritPriority);
    if (!thread->isRunning() && !thread->isFinished()) {
        // No thread could be created (out of resources): the connection is closed instead.
        platform::closeSocket(connection.intSocket);
        delete thread;
        finishedConnection(address);
    }
}

void Webserver::finishedConnection(const QString &strAddress) {
    // What is due is closed first, so that a freed thread never goes to an expired connection.
    expireQueued();
    for (const auto &next : limiter.release(strAddress))
        launch(next);
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
