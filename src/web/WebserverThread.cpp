#include "WebserverThread.h"

#include "Discovery.h"
#include "FleetSummaries.h"
#include "HttpRequest.h"
#include "HttpResponse.h"
#include "MetricsDocument.h"
#include "ProcessesDocument.h"
#include "QuietEventDispatcher.h"
#include "SharedState.h"
#include "StaticFile.h"
#include "StatusDocument.h"
#include "SummaryDocument.h"
#include "VolumesDocument.h"
#include "platform/Platform.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QMutex>
#include <QMutexLocker>
#include <QSet>

#include <cstring>

namespace {

// Guards intRunning (the threads that have not yet ended run()) and liveThreads (every thread
// object not yet deleted, for waitForAll()).
QMutex runningMutex;
int intRunning = 0;
QSet<WebserverThread *> liveThreads;

// The head is read within this many bytes (a chunk that crosses the budget is still read whole).
constexpr qint64 headBudget = 4096;
// One wait for more request data.
constexpr int readWait = 1000;
// One read from the socket: a huge body is drained piece by piece.
constexpr qint64 readChunk = 8 * 1024;
// One piece of a file on its way to the socket.
constexpr qint64 filePiece = 16 * 1024;

// The generated documents: metrics, the discovery lists, and the status document.
QString textDocument(const QString &path) {
    if (MetricsDocument::serves(path))
        return MetricsDocument::build();
    if (Discovery::serves(path))
        return Discovery::instance().document(path);
    if (VolumesDocument::serves(path))
        return VolumesDocument::build();
    if (ProcessesDocument::serves(path))
        return ProcessesDocument::instance().document();
    if (SummaryDocument::serves(path))
        return SummaryDocument::instance().document();
    if (FleetSummaries::serves(path))
        return FleetSummaries::instance().document();
    return StatusDocument::build(path);
}

} // namespace

WebserverThread::WebserverThread(qintptr socket) : WebserverThread(socket, Timeouts()) {}

WebserverThread::WebserverThread(qintptr socket, const Timeouts &limits)
    : WebserverThread(socket, limits, QDeadlineTimer(limits.intRequestDeadline)) {}

WebserverThread::WebserverThread(qintptr socket, const Timeouts &limits, QDeadlineTimer deadline)
    : intSocket(socket), timeouts(limits), requestDeadline(deadline) {
    QMutexLocker lock(&runningMutex);
    ++intRunning;
    boolCounted = true;
    liveThreads.insert(this);
    lock.unlock();
    connect(this, &QThread::finished, this, &QObject::deleteLater);
    setEventDispatcher(new QuietEventDispatcher);
}

WebserverThread::~WebserverThread() {
    // A thread that could not be started never reached the end of run().
    leave();
    QMutexLocker lock(&runningMutex);
    liveThreads.remove(this);
    intSocket = 0;
}

void WebserverThread::leave() {
    QMutexLocker lock(&runningMutex);
    if (!boolCounted)
        return;
    boolCounted = false;
    --intRunning;
}

int WebserverThread::runningCount() {
    QMutexLocker lock(&runningMutex);
    return intRunning;
}

bool WebserverThread::waitForAll(int msecs) {
    const QDeadlineTimer deadline(msecs);
    QMutexLocker lock(&runningMutex);
    const QList<WebserverThread *> threads = liveThreads.values();
    lock.unlock();
    // The objects stay valid while this waits: they are deleted only on this (the GUI) thread.
    for (WebserverThread *thread : threads) {
        if (!thread->wait(deadline))
            return false;
    }
    return true;
}

void WebserverThread::run() {
    // The descriptor is used as it is: blocking calls with time-outs need no socket object.
    if (platform::setNonBlocking(intSocket))
        serve();
    // Whatever the kernel still holds of the answer is sent after this; a stalled transfer is
    // cut off here.
    platform::closeSocket(intSocket);
    leave();
}

qint64 WebserverThread::receive(char *buffer, qint64 size) {
    for (;;) {
        // Checked first, so that a client sending without pause cannot outrun it either.
        if (requestDeadline.hasExpired())
            return 0;
        const qint64 got = platform::receiveSome(intSocket, buffer, size);
        if (got != -1)
            return qMax<qint64>(0, got);
        const qint64 left = requestDeadline.remainingTime();
        if (left == 0)
            return 0;
        const int wait = int(left < 0 ? readWait : qMin<qint64>(left, readWait));
        if (platform::waitReadable(intSocket, wait) <= 0)
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
    const HttpRequest request = overBudget ? HttpRequest() : HttpRequest::fromBytes(received);

    // The body is never used: it is only drained, and not kept, so a large body costs no memory.
    const qint64 announced = request.announcedLength();
    qint64 bodyBytes = request.intBodyBytes;
    for (qint64 got; !overBudget && bodyBytes < announced &&
                     (got = receive(chunk, qMin<qint64>(readChunk, announced - bodyBytes))) > 0;)
        bodyBytes += got;
    // A request not read to its exact end may have left bytes unread: a head cut off or over
    // the budget, a body shorter or longer than announced.
    const bool unread = overBudget || (headEnd < 0 ? !received.isEmpty() : bodyBytes != announced);

    HttpResponse response = HttpResponse::route(request);
    QFile file;
    // The size is taken once: the announced length also bounds what is sent, should the file
    // grow meanwhile.
    qint64 fileSize = 0;
    if (response.strType == QLatin1String("typeFile")) {
        if (!StaticFile::open(contentPath(), response.strContent, file)) {
            response = HttpResponse();
        } else {
            fileSize = file.size();
            response.addFileHeaders(fileSize, StaticFile::mediaType(response.strContent),
                                    StaticFile::disposition(response.strContent));
        }
    } else if (response.strType == QLatin1String("typeText")) {
        response.strContent = textDocument(request.strPath);
    }
    response.complete();

    // Head and body leave in one write where they fit, so a small answer is one segment.
    bool sent;
    if (response.strType == QLatin1String("typeFile")) {
        sent = sendFile(response.head(), file, fileSize);
    } else {
        QByteArray whole = response.head();
        if (response.strType == QLatin1String("typeText"))
            whole += response.strContent.toUtf8();
        sent = sendAll(whole.constData(), whole.size());
    }
    if (!sent)
        return; // the client stalled or went: closing cuts the connection
    if (unread || moreToRead(chunk, readChunk))
        linger(chunk, readChunk);
}

bool WebserverThread::sendAll(const char *data, qint64 size) {
    // Only a client that takes nothing for the whole stall time is cut off, however long the
    // transfer takes in all. The system reports a socket writable only once a good part of its
    // send buffer is free, which a slow but steady reader may take longer than that to free:
    // so a wait that times out is followed by one more try, and only a try that then finds no
    // room at all ends the transfer.
    bool waitedInVain = false;
    while (size > 0) {
        const qint64 sent = platform::sendSome(intSocket, data, size);
        if (sent == -2)
            return false;
        if (sent > 0) {
            data += sent;
            size -= sent;
            waitedInVain = false;
        } else if (waitedInVain) {
            return false;
        } else {
            waitedInVain = platform::waitWritable(intSocket, timeouts.intStall) <= 0;
        }
    }
    return true;
}

bool WebserverThread::sendFile(const QByteArray &head, QFile &file, qint64 size) {
    // The file goes in pieces through one buffer, so memory stays flat however large it is;
    // the first piece shares the write with the head. Never more than the announced length,
    // should the file grow while it is sent.
    QByteArray buffer(head.size() + filePiece, Qt::Uninitialized);
    std::memcpy(buffer.data(), head.constData(), size_t(head.size()));
    qint64 used = head.size();
    qint64 left = size;
    for (;;) {
        const qint64 read = left > 0 ? file.read(buffer.data() + used, qMin(left, filePiece)) : 0;
        if (read > 0)
            left -= read;
        const qint64 piece = used + qMax<qint64>(0, read);
        if (piece > 0 && !sendAll(buffer.constData(), piece))
            return false;
        if (read <= 0)
            return true;
        used = 0;
    }
}

bool WebserverThread::moreToRead(char *buffer, qint64 size) {
    return platform::receiveSome(intSocket, buffer, size) > 0;
}

void WebserverThread::linger(char *buffer, qint64 size) {
    // Closing with unread bytes would send a reset, and the client could lose the answer still
    // on its way. So the answer is ended with the sending side's shutdown, and what the client
    // still sends is read and thrown away until it closes too, for a bounded time.
    platform::shutdownSending(intSocket);
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
