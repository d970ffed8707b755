#include "WebserverThread.h"

#include "HttpRequest.h"
#include "HttpResponse.h"
#include "QuietEventDispatcher.h"
#include "RequestOrigin.h"
#include "RouteTable.h"
#include "SharedState.h"
#include "StaticFile.h"
#include "TlsCertificate.h"
#include "TlsStream.h"
#include "WebAccess.h"
#include "platform/Platform.h"

#include <QDeadlineTimer>
#include <QMutex>
#include <QMutexLocker>
#include <QThread>
#include <QWaitCondition>

#include <cstring>
#include <vector>

namespace {

// The head is read within this many bytes (a chunk that crosses the budget is still read whole).
constexpr qint64 headBudget = 4096;
// One wait for more request data.
constexpr int readWait = 1000;
// One read from the socket: a huge body is drained piece by piece.
constexpr qint64 readChunk = 8 * 1024;
// One piece of a file on its way to the socket.
constexpr qint64 filePiece = 16 * 1024;
// The longest single wait for room to send: a request to give way is also seen after it, where
// the system does not end the wait by itself.
constexpr int roomWait = 500;
// A connection's calls are shallow; a small stack lets the C library keep many of them cached
// between connections instead of mapping eight megabytes for each.
constexpr std::size_t stackSize = 512 * 1024;

// Now on the steady clock that QDeadlineTimer uses, in milliseconds.
qint64 now() {
    return QDeadlineTimer::current().deadline();
}

// Guards intRunning (threads started and not yet ended) and endedThreads (threads that have
// ended and are not yet joined); allEnded is signalled when intRunning falls to 0.
QMutex threadsMutex;
QWaitCondition allEnded;
int intRunning = 0;
std::vector<platform::SystemThread *> endedThreads;

std::vector<platform::SystemThread *> takeEnded() {
    QMutexLocker lock(&threadsMutex);
    std::vector<platform::SystemThread *> ended;
    ended.swap(endedThreads);
    return ended;
}

// Where a thread's handle meets its end. The creator sets thread once the system has made it,
// the thread sets boolEnded at its end; whichever comes second hands the handle on to be joined.
// Both under threadsMutex, which is never held while a thread is made: that takes long enough
// that every connection ending meanwhile would queue behind it.
struct Handoff {
    platform::SystemThread *thread = nullptr;
    bool boolEnded = false;
};

// With threadsMutex held, once the thread has ended and its handle is known.
void handOn(Handoff *handoff) {
    endedThreads.push_back(handoff->thread);
    delete handoff;
    if (--intRunning == 0)
        allEnded.wakeAll();
}

// What a new connection thread is given.
struct Launch {
    std::unique_ptr<WebserverThread> connection;
    std::function<void()> ended;
    Handoff *handoff;
};

void runConnection(void *argument) {
    std::unique_ptr<Launch> launch(static_cast<Launch *>(argument));
    launch->connection->run();
    launch->connection.reset();
    launch->ended();
    launch->ended = nullptr;
    // The threads that ended before this one are joined here, after the client has its answer:
    // a thread that has just ended may still be on its last steps, and the listener's thread
    // must never wait for them.
    for (platform::SystemThread *thread : takeEnded())
        platform::joinThread(thread);
    QMutexLocker lock(&threadsMutex);
    if (launch->handoff->thread)
        handOn(launch->handoff);
    else
        launch->handoff->boolEnded = true;
}

} // namespace

WebserverThread::WebserverThread(std::shared_ptr<ConnectionControl> shared, const Timeouts &limits,
                                 QDeadlineTimer deadline, const QString &peer)
    : control(std::move(shared)), intSocket(control->socket()), timeouts(limits),
      requestDeadline(deadline), strPeer(peer) {}

WebserverThread::~WebserverThread() = default;

bool WebserverThread::start(std::unique_ptr<WebserverThread> connection,
                            std::function<void()> ended) {
    auto *handoff = new Handoff;
    auto *launch = new Launch{std::move(connection), std::move(ended), handoff};
    {
        // Counted from here, so that waitForAll() waits for a thread still being made.
        QMutexLocker lock(&threadsMutex);
        ++intRunning;
    }
    platform::SystemThread *thread = platform::startThread(runConnection, launch, stackSize);
    QMutexLocker lock(&threadsMutex);
    if (!thread) {
        delete launch;
        delete handoff;
        if (--intRunning == 0)
            allEnded.wakeAll();
        return false;
    }
    handoff->thread = thread;
    if (handoff->boolEnded)
        handOn(handoff);
    return true;
}

int WebserverThread::runningCount() {
    QMutexLocker lock(&threadsMutex);
    return intRunning;
}

bool WebserverThread::waitForAll(int msecs) {
    const QDeadlineTimer deadline(msecs);
    {
        QMutexLocker lock(&threadsMutex);
        while (intRunning > 0) {
            if (!allEnded.wait(&threadsMutex, deadline))
                return false;
        }
    }
    for (platform::SystemThread *thread : takeEnded())
        platform::joinThread(thread);
    return true;
}

void WebserverThread::run() {
    // The descriptor is used as it is (the listener took it in non-blocking mode): blocking
    // calls with time-outs need no socket object. HTTPS goes through a socket object of Qt's
    // TLS on a duplicate of it.
    const std::optional<QSslConfiguration> configuration =
        TlsCertificate::current()->configuration();
    if (!configuration || startTls(*configuration))
        serve();
    tls.reset();
    // Whatever the kernel still holds of the answer is sent after this; a stalled transfer is
    // cut off here.
    control->close();
}

qint64 WebserverThread::receiveSome(char *buffer, qint64 size) {
    return tls ? tls->receiveSome(buffer, size) : platform::receiveSome(intSocket, buffer, size);
}

qint64 WebserverThread::sendSome(const char *data, qint64 size) {
    return tls ? tls->sendSome(data, size) : platform::sendSome(intSocket, data, size);
}

int WebserverThread::waitReadable(int msecs) {
    return tls ? tls->waitReadable(msecs) : platform::waitReadable(intSocket, msecs);
}

int WebserverThread::waitWritable(int msecs) {
    return tls ? tls->waitWritable(msecs) : platform::waitWritable(intSocket, msecs);
}

bool WebserverThread::startTls(const QSslConfiguration &configuration) {
    // A TLS session begins with a handshake record (type 22); anything else is a plain
    // request, which is told where to go rather than left waiting for a handshake.
    char first = 0;
    for (;;) {
        if (requestDeadline.hasExpired() || control->askedToGiveWay())
            return false;
        const qint64 got = platform::peekSome(intSocket, &first, 1);
        if (got == 0 || got == -2)
            return false;
        if (got == 1)
            break;
        const qint64 left = requestDeadline.remainingTime();
        if (platform::waitReadable(intSocket,
                                   int(left < 0 ? readWait : qMin<qint64>(left, readWait))) < 0)
            return false;
    }
    if (first != 0x16) {
        const QByteArray &answer = TlsStream::httpsOnly();
        if (sendAll(answer.constData(), answer.size())) {
            QByteArray scratch(readChunk, Qt::Uninitialized);
            linger(scratch.data(), readChunk);
        }
        return false;
    }
    control->working();
    // Qt's socket object asks its thread for an event dispatcher, which a plain thread lacks;
    // it gets one that costs nothing, as its waits poll the socket themselves.
    if (!QThread::currentThread()->eventDispatcher())
        QThread::currentThread()->setEventDispatcher(new QuietEventDispatcher);
    tls = std::make_unique<TlsStream>(intSocket, configuration);
    const bool shaken = tls->handshake(requestDeadline);
    control->waiting(now());
    return shaken;
}

qint64 WebserverThread::receive(char *buffer, qint64 size) {
    for (;;) {
        // Checked first, so that a client sending without pause cannot outrun it either.
        if (requestDeadline.hasExpired() || control->askedToGiveWay())
            return 0;
        const qint64 got = receiveSome(buffer, size);
        if (got != -1)
            return qMax<qint64>(0, got);
        const qint64 left = requestDeadline.remainingTime();
        if (left == 0)
            return 0;
        const int wait = int(left < 0 ? readWait : qMin<qint64>(left, readWait));
        if (waitReadable(wait) <= 0)
            return 0;
    }
}

void WebserverThread::serve() {
    // The head is gathered as bytes and decoded once, and its end must lie within the budget,
    // so that a head cut into pieces anywhere reads as it would in one piece.
    // On the heap, not the stack: the arena hands back memory a finished connection has
    // returned, while every stack page a new thread touches is a page fault, and its release at
    // the thread's end a flush of the other processors' address caches.
    QByteArray scratch(readChunk, Qt::Uninitialized);
    char *const chunk = scratch.data();
    QByteArray received;
    qsizetype headEnd = -1;
    for (qint64 got; (got = receive(chunk, readChunk)) > 0;) {
        const qsizetype searchFrom = qMax<qsizetype>(0, received.size() - 3);
        received.append(chunk, got);
        headEnd = received.indexOf("\r\n\r\n", searchFrom);
        if (headEnd >= 0 || received.size() >= headBudget)
            break;
    }
    const bool overBudget = headEnd < 0 ? received.size() >= headBudget : headEnd + 4 > headBudget;
    HttpRequest request = overBudget ? HttpRequest() : HttpRequest::fromBytes(received);
    // Decided before anything is routed: an address off the list or a request without a
    // user's password gets its refusal, a request for a name this server does not go by gets
    // nothing, and a page of another site may read the figures but not rescan.
    QString refusedHost;
    const QByteArray refusal = WebAccess::current()->refusal(strPeer, request);
    const bool misdirected = !RequestOrigin::hostAllowed(request, &refusedHost);
    if (RequestOrigin::crossSite(request))
        request.strPath = RequestOrigin::withoutRescan(request.strPath);

    // The body is never used: it is only drained, and not kept, so a large body costs no memory.
    const qint64 announced = request.announcedLength();
    qint64 bodyBytes = request.intBodyBytes;
    for (qint64 got; !overBudget && bodyBytes < announced &&
                     (got = receive(chunk, qMin<qint64>(readChunk, announced - bodyBytes))) > 0;)
        bodyBytes += got;
    // Given way: the connection is already shut down, nothing could reach the client.
    if (control->askedToGiveWay())
        return;
    control->working();
    // A request not read to its exact end may have left bytes unread: a head cut off or over
    // the budget, a body shorter or longer than announced.
    const bool unread = overBudget || (headEnd < 0 ? !received.isEmpty() : bodyBytes != announced);

    HttpResponse response = HttpResponse::route(request);
    const Route::Kind kind = response.matched ? response.matched->kind : Route::Kind::Move;
    bool sent;
    if (!refusal.isEmpty()) {
        sent = sendAll(refusal.constData(), refusal.size());
    } else if (misdirected) {
        RequestOrigin::logRefused(refusedHost);
        response = HttpResponse::misdirected(refusedHost);
        QByteArray whole = response.head();
        whole += response.strContent.toUtf8();
        sent = sendAll(whole.constData(), whole.size());
    } else if (!response.matched || kind == Route::Kind::Move) {
        // Heads that nothing of the request changes are built once.
        const QByteArray &head =
            response.matched ? response.matched->head : RouteTable::notFoundHead();
        sent = sendAll(head.constData(), head.size());
    } else if (kind == Route::Kind::File) {
        StaticFile::Opened file;
        if (!StaticFile::open(contentPath(), response.strContent, file, filePiece))
            response = HttpResponse();
        else
            response.addFileHeaders(file.size, StaticFile::mediaType(response.strContent),
                                    StaticFile::disposition(response.strContent));
        response.complete();
        sent = sendFile(response.head(), file);
    } else {
        response.strContent = response.matched->document(request, intSocket);
        response.complete();
        // Head and body leave in one write, so a small answer is one segment.
        QByteArray whole = response.head();
        whole += response.strContent.toUtf8();
        sent = sendAll(whole.constData(), whole.size());
    }
    if (!sent)
        return; // the client stalled or went: closing cuts the connection
    if (tls) {
        // The session's closing alert after the answer; then the connection ends as a plain
        // one does, without the session (what the client still sends is only thrown away).
        tls->finish(timeouts.intLinger);
        tls.reset();
        linger(chunk, readChunk);
    } else if (unread || moreToRead(chunk, readChunk)) {
        linger(chunk, readChunk);
    }
}

bool WebserverThread::sendAll(const char *data, qint64 size) {
    // Only a client that takes nothing for the whole stall time is cut off, however long the
    // transfer takes in all. The system reports a socket writable only once a good part of its
    // send buffer is free, which a slow but steady reader may take longer than that to free:
    // so a wait that times out is followed by one more try, and only a try that then finds no
    // room at all ends the transfer.
    bool waitedInVain = false;
    while (size > 0 || (tls && tls->pending())) {
        const qint64 sent = size > 0 ? sendSome(data, size) : -1;
        if (sent == -2)
            return false;
        if (sent > 0) {
            data += sent;
            size -= sent;
            waitedInVain = false;
            control->working();
        } else if (waitedInVain || control->askedToGiveWay()) {
            return false;
        } else {
            control->waiting(now());
            waitedInVain = !waitForRoom(timeouts.intStall);
        }
    }
    control->working();
    return true;
}

bool WebserverThread::waitForRoom(int msecs) {
    const QDeadlineTimer until(msecs);
    for (;;) {
        const qint64 left = until.remainingTime();
        const int ready = waitWritable(int(qMin<qint64>(left, roomWait)));
        if (ready != 0)
            return ready > 0;
        if (until.hasExpired() || control->askedToGiveWay())
            return false;
    }
}

bool WebserverThread::sendFile(const QByteArray &head, StaticFile::Opened &file) {
    // The head and the start the open read leave in one write, so a small file is one segment;
    // the rest goes in pieces through one buffer, so memory stays flat however large the file
    // is. Never more than the announced length, should the file grow while it is sent.
    QByteArray buffer = head + file.start;
    if (!sendAll(buffer.constData(), buffer.size()))
        return false;
    qint64 left = file.size - file.start.size();
    if (left <= 0)
        return true;
    buffer.resize(filePiece);
    for (qint64 read; left > 0 && (read = file.read(buffer.data(), qMin(left, filePiece))) > 0;) {
        left -= read;
        if (!sendAll(buffer.constData(), read))
            return false;
    }
    return true;
}

bool WebserverThread::moreToRead(char *buffer, qint64 size) {
    return platform::receiveSome(intSocket, buffer, size) > 0;
}

void WebserverThread::linger(char *buffer, qint64 size) {
    // Closing with unread bytes would send a reset, and the client could lose the answer still
    // on its way. So the answer is ended with the sending side's shutdown, and what the client
    // still sends is read and thrown away until it closes too, for a bounded time.
    platform::shutdownSending(intSocket);
    control->waiting(now());
    const QDeadlineTimer until(timeouts.intLinger);
    for (;;) {
        const qint64 got = platform::receiveSome(intSocket, buffer, size);
        if (got == 0 || got == -2)
            return;
        if (got == -1 && (until.hasExpired() ||
                          platform::waitReadable(intSocket, int(until.remainingTime())) <= 0))
            return;
    }
}
