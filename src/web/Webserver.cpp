#include "Webserver.h"

#include "RequestOrigin.h"
#include "TlsCertificate.h"
#include "WebAccess.h"
#include "platform/Platform.h"

#include <QDeadlineTimer>
#include <QMutex>
#include <QMutexLocker>

#include <algorithm>
#include <chrono>
#include <map>
#include <thread>
#include <vector>

namespace {
// Threads at once; threads one peer address may hold (so one host cannot take every worker);
// accepted connections that may wait for a thread before further ones are closed at once.
constexpr int defaultMaxRunning = 64;
constexpr int defaultMaxPerAddress = 16;
constexpr int defaultMaxQueued = 256;
// How often the listener looks again for a connection to give way while others wait.
constexpr int roomCheckInterval = 50;
// The pause after the system refused to hand over a connection (out of descriptors, say).
constexpr int acceptRetry = 50;

// Now on the steady clock that QDeadlineTimer uses, in milliseconds.
qint64 now() {
    return QDeadlineTimer::current().deadline();
}

} // namespace

struct Webserver::Admission : std::enable_shared_from_this<Webserver::Admission> {
    Admission()
        : limiter(defaultMaxRunning, defaultMaxPerAddress, defaultMaxQueued),
          waker(platform::openWaker()) {}
    ~Admission() { platform::closeWaker(waker); }

    // An accepted connection: started, queued or closed.
    void admit(qintptr intSocket, const QString &strAddress);
    // A connection thread has ended.
    void finished(quint64 intId, const QString &strAddress);
    // Makes the threads of the connections started under the mutex; called without it.
    void startLaunched();
    // How long the listener's thread may sleep before something is due; -1: until woken.
    int dueIn();
    // Stops: no connection is admitted or started from here on; closes those that wait.
    void close();

    // Guards everything below but the waker, which any thread may wake: the listener's thread
    // admits connections and closes the expired ones, a connection thread's end starts the next,
    // and the counts and limits are read and set from other threads.
    mutable QMutex mutex;
    bool boolOpen = true;
    ConnectionLimiter limiter;
    WebserverThread::Timeouts timeouts;
    // The running connections by a number of their own (a descriptor's number may be reused
    // before the end of its thread is reported here).
    struct Running {
        QString strAddress;
        std::shared_ptr<ConnectionControl> control;
        bool boolGivingWay = false;
    };
    std::map<quint64, Running> running;
    quint64 intNextId = 0;
    // Connections still wait for others to give way: look again shortly.
    bool boolRoomNeeded = false;
    // Connections started under the mutex whose threads startLaunched() makes after it is let
    // go: making a thread takes long enough that every connection ending meanwhile, and the
    // listener, would queue behind it.
    struct Launched {
        quint64 intId;
        QString strAddress;
        std::shared_ptr<ConnectionControl> control;
        std::unique_ptr<WebserverThread> connection;
    };
    std::vector<Launched> launched;
    const platform::WakerHandle waker;

private:
    // The rest runs with the mutex held.
    void admitLocked(qintptr intSocket, const QString &strAddress);
    void launch(const ConnectionLimiter::Connection &connection);
    void ended(quint64 intId, const QString &strAddress);
    // When every thread is taken and connections wait for one: asks as many running
    // connections as those need, among those stalled on their clients, to give way.
    void makeRoom();
    // Closes, unserved, the waiting connections whose request deadline has passed.
    void expireQueued();
};

void Webserver::Admission::admit(qintptr intSocket, const QString &strAddress) {
    QMutexLocker lock(&mutex);
    if (!boolOpen) {
        platform::closeSocket(intSocket);
        return;
    }
    admitLocked(intSocket, strAddress);
    lock.unlock();
    startLaunched();
}

void Webserver::Admission::admitLocked(qintptr intSocket, const QString &strAddress) {
    // The request deadline runs from here, through any wait in the queue.
    const qint64 deadline = QDeadlineTimer(timeouts.intRequestDeadline).deadline();
    std::optional<ConnectionLimiter::Connection> displaced;
    switch (limiter.admit(intSocket, strAddress, deadline, &displaced)) {
    case ConnectionLimiter::Admission::Start:
        launch({intSocket, strAddress, deadline});
        break;
    case ConnectionLimiter::Admission::Queue:
        if (displaced)
            platform::closeSocket(displaced->intSocket);
        expireQueued();
        makeRoom();
        break;
    case ConnectionLimiter::Admission::Refuse:
        platform::closeSocket(intSocket);
        break;
    }
}

void Webserver::Admission::launch(const ConnectionLimiter::Connection &connection) {
    QDeadlineTimer deadline;
    deadline.setDeadline(connection.intDeadline);
    // Waiting on its client from here: a connection that has just been given a thread does not
    // give it up again before it has had its time.
    auto control = std::make_shared<ConnectionControl>(connection.intSocket, now());
    const QString address = connection.strAddress;
    const quint64 id = ++intNextId;
    running[id] = {address, control, false};
    launched.push_back({id, address, control,
                        std::make_unique<WebserverThread>(control, timeouts, deadline, address)});
}

void Webserver::Admission::startLaunched() {
    auto self = shared_from_this();
    QMutexLocker lock(&mutex);
    while (!launched.empty()) {
        std::vector<Launched> due;
        due.swap(launched);
        lock.unlock();
        for (Launched &connection : due) {
            const quint64 id = connection.intId;
            const QString address = connection.strAddress;
            if (WebserverThread::start(std::move(connection.connection),
                                       [self, id, address] { self->finished(id, address); }))
                continue;
            // No thread could be made (out of resources): the connection is closed instead,
            // and its place goes to the next.
            connection.control->close();
            QMutexLocker again(&mutex);
            if (boolOpen)
                ended(id, address);
        }
        lock.relock();
    }
}

void Webserver::Admission::finished(quint64 intId, const QString &strAddress) {
    QMutexLocker lock(&mutex);
    if (!boolOpen)
        return;
    ended(intId, strAddress);
    // The listener's thread may sleep without a time-out: it is to look at the queue again.
    if (boolRoomNeeded || limiter.queued() > 0)
        platform::wake(waker);
    lock.unlock();
    startLaunched();
}

void Webserver::Admission::ended(quint64 intId, const QString &strAddress) {
    running.erase(intId);
    // What is due is closed first, so that a freed thread never goes to an expired connection.
    expireQueued();
    for (const auto &next : limiter.release(strAddress))
        launch(next);
    makeRoom();
}

void Webserver::Admission::makeRoom() {
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
    boolRoomNeeded = needed > 0;
}

void Webserver::Admission::expireQueued() {
    for (const auto &due : limiter.expire(now()))
        platform::closeSocket(due.intSocket);
}

int Webserver::Admission::dueIn() {
    QMutexLocker lock(&mutex);
    expireQueued();
    if (boolRoomNeeded)
        makeRoom();
    qint64 wait = boolRoomNeeded ? roomCheckInterval : -1;
    qint64 next = 0;
    if (limiter.nextDeadline(next)) {
        const qint64 left = qBound<qint64>(0, next - now(), 24LL * 3600 * 1000);
        wait = wait < 0 ? left : qMin(wait, left);
    }
    return int(wait);
}

void Webserver::Admission::close() {
    QMutexLocker lock(&mutex);
    boolOpen = false;
    for (const auto &waiting : limiter.takeQueued())
        platform::closeSocket(waiting.intSocket);
    // Started and not yet given a thread: closed unserved.
    for (const Launched &connection : launched)
        connection.control->close();
    launched.clear();
}

Webserver::Webserver() : admission(std::make_shared<Admission>()) {
    // The names the server answers to, and who may ask, are read anew at every Start.
    RequestOrigin::loadNames();
    WebAccess::load();
    strTlsProblem = TlsCertificate::load();
}

Webserver::~Webserver() {
    admission->close();
    if (acceptThread) {
        platform::wake(admission->waker);
        platform::joinThread(acceptThread);
    }
    if (intListener != -1)
        platform::closeSocket(intListener);
}

bool Webserver::listen(const QHostAddress &address, quint16 port) {
    if (intListener != -1 || admission->waker == -1)
        return false;
    const bool any = address == QHostAddress::Any;
    platform::ListenRefusal refusal = platform::ListenRefusal::Other;
    std::string why;
    intListener = platform::listenExclusively(any ? "::" : address.toString().toStdString(), port,
                                              &refusal, &why);
    // A system without IPv6 still serves IPv4.
    if (intListener == -1 && any && refusal == platform::ListenRefusal::Other)
        intListener = platform::listenExclusively("0.0.0.0", port, &refusal, &why);
    if (intListener == -1 || !platform::setNonBlocking(intListener)) {
        error = refusal == platform::ListenRefusal::InUse    ? QAbstractSocket::AddressInUseError
                : refusal == platform::ListenRefusal::Denied ? QAbstractSocket::SocketAccessError
                                                             : QAbstractSocket::UnknownSocketError;
        strErrorText = QString::fromStdString(why);
        if (intListener != -1)
            platform::closeSocket(intListener);
        intListener = -1;
        return false;
    }
    acceptThread = platform::startThread(
        [](void *server) { static_cast<Webserver *>(server)->acceptLoop(); }, this, 256 * 1024);
    if (!acceptThread) {
        strErrorText = QStringLiteral("no thread to take connections could be made");
        platform::closeSocket(intListener);
        intListener = -1;
        return false;
    }
    return true;
}

void Webserver::acceptLoop() {
    // A connection is a few hundred microseconds of work: on a busy machine it is let on as soon
    // as it is ready rather than after the running program's turn. Its threads inherit this.
    platform::preferShortTurns(100);
    for (;;) {
        const platform::WaitResult result =
            platform::waitReadable(intListener, admission->waker, admission->dueIn());
        {
            QMutexLocker lock(&admission->mutex);
            if (!admission->boolOpen)
                return;
        }
        if (result != platform::WaitResult::Readable)
            continue;
        // One connection per wake-up: with more waiting, the wait returns at once, and with
        // none (the common case) no second look finds the queue empty.
        std::string peer;
        const intptr_t socket = platform::acceptConnection(intListener, &peer);
        if (socket == -2)
            std::this_thread::sleep_for(std::chrono::milliseconds(acceptRetry));
        else if (socket != -1)
            admission->admit(socket, QString::fromStdString(peer));
    }
}

quint16 Webserver::serverPort() const {
    return intListener == -1 ? 0 : platform::localPort(intListener);
}

void Webserver::setLimits(int maxRunning, int maxPerAddress, int maxQueued) {
    QMutexLocker lock(&admission->mutex);
    admission->limiter = ConnectionLimiter(maxRunning, maxPerAddress, maxQueued);
}

void Webserver::setTimeouts(const WebserverThread::Timeouts &limits) {
    QMutexLocker lock(&admission->mutex);
    admission->timeouts = limits;
}

int Webserver::runningConnections() const {
    QMutexLocker lock(&admission->mutex);
    return admission->limiter.running();
}

int Webserver::queuedConnections() const {
    QMutexLocker lock(&admission->mutex);
    return admission->limiter.queued();
}
