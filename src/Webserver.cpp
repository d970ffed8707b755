#include "Webserver.h"

#include "platform/Platform.h"

namespace {
// Threads at once; threads one peer address may hold (so one host cannot take every worker);
// accepted connections that may wait for a thread before further ones are closed at once.
constexpr int defaultMaxRunning = 64;
constexpr int defaultMaxPerAddress = 16;
constexpr int defaultMaxQueued = 256;
} // namespace

Webserver::Webserver()
    : QTcpServer(nullptr), limiter(defaultMaxRunning, defaultMaxPerAddress, defaultMaxQueued) {}

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
    switch (limiter.admit(intSocket, address)) {
    case ConnectionLimiter::Admission::Start:
        launch({intSocket, address});
        break;
    case ConnectionLimiter::Admission::Queue:
        break;
    case ConnectionLimiter::Admission::Refuse:
        platform::closeSocket(intSocket);
        break;
    }
}

void Webserver::launch(const ConnectionLimiter::Connection &connection) {
    auto *thread = new WebserverThread(connection.intSocket, timeouts);
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
    for (const auto &next : limiter.release(strAddress))
        launch(next);
}
