#include "WebserverThread.h"

#include "HttpRequest.h"
#include "HttpResponse.h"
#include "MetricsDocument.h"
#include "QuietEventDispatcher.h"
#include "SharedState.h"
#include "StaticFile.h"
#include "StatusDocument.h"
#include "platform/Platform.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QMutex>
#include <QMutexLocker>
#include <QTcpSocket>
#include <QWaitCondition>

namespace {

// The connection threads alive in the process, guarded by runningMutex; runningDone is
// signalled whenever the count drops, for waitForAll() at exit.
QMutex runningMutex;
QWaitCondition runningDone;
int intRunning = 0;

// The head is read within this many bytes (a chunk that crosses the budget is still read whole).
constexpr qint64 headBudget = 4096;
// One wait for more request data.
constexpr int readWait = 1000;
// Bounds what one read from the socket can hold, so a huge body is drained piece by piece.
constexpr qint64 readBufferSize = 64 * 1024;
// File pieces, and how much unsent data the socket may hold before the next piece is read:
// memory stays flat however large the file.
constexpr qint64 filePiece = 16 * 1024;
constexpr qint64 writeHighWater = 64 * 1024;

} // namespace

WebserverThread::WebserverThread(qintptr socket) : WebserverThread(socket, Timeouts()) {}

WebserverThread::WebserverThread(qintptr socket, const Timeouts &limits)
    : WebserverThread(socket, limits, QDeadlineTimer(limits.intRequestDeadline)) {}

WebserverThread::WebserverThread(qintptr socket, const Timeouts &limits, QDeadlineTimer deadline)
    : intSocket(socket), timeouts(limits), requestDeadline(deadline) {
    QMutexLocker lock(&runningMutex);
    ++intRunning;
    boolCounted = true;
    lock.unlock();
    connect(this, &QThread::finished, this, &QObject::deleteLater);
    setEventDispatcher(new QuietEventDispatcher);
}

WebserverThread::~WebserverThread() {
    // A thread that could not be started never reached the end of run().
    leave();
    intSocket = 0;
}

void WebserverThread::leave() {
    QMutexLocker lock(&runningMutex);
    if (!boolCounted)
        return;
    boolCounted = false;
    --intRunning;
    runningDone.wakeAll();
}

int WebserverThread::runningCount() {
    QMutexLocker lock(&runningMutex);
    return intRunning;
}

bool WebserverThread::waitForAll(int msecs) {
    QDeadlineTimer deadline(msecs);
    QMutexLocker lock(&runningMutex);
    while (intRunning > 0) {
        if (!runningDone.wait(&runningMutex, deadline))
            break;
    }
    return intRunning == 0;
}

void WebserverThread::run() {
    {
        QTcpSocket socket;
        if (socket.setSocketDescriptor(intSocket, QAbstractSocket::ConnectedState,
                                       QIODevice::ReadWrite)) {
            serve(socket);
        } else {
            // Not adopted, so no socket object will ever close it.
            platform::closeSocket(intSocket);
        }
    }
    leave();
}

void WebserverThread::serve(QTcpSocket &socket) {
    socket.setReadBufferSize(readBufferSize);
    const QDeadlineTimer deadline = requestDeadline;
    // The next wait for data: one read wait, but never past the request deadline.
    auto waitForData = [&socket, &deadline]() {
        const qint64 left = deadline.remainingTime();
        if (left == 0)
            return false;
        return socket.waitForReadyRead(int(left < 0 ? readWait : qMin<qint64>(left, readWait)));
    };

    // The head is gathered as bytes and decoded once, and its end must lie within the budget,
    // so that a head cut into pieces anywhere reads as it would in one piece.
    QByteArray received;
    qsizetype headEnd = -1;
    while (waitForData()) {
        const qsizetype searchFrom = qMax<qsizetype>(0, received.size() - 3);
        received += socket.readAll();
        headEnd = received.indexOf("\r\n\r\n", searchFrom);
        if (headEnd >= 0 || received.size() >= headBudget)
            break;
    }
    const bool overBudget = headEnd < 0 ? received.size() >= headBudget : headEnd + 4 > headBudget;
    const HttpRequest request = overBudget ? HttpRequest() : HttpRequest::fromBytes(received);

    // The body is never used: it is only drained, and not kept, so a large body costs no memory.
    const qint64 announced = request.announcedLength();
    qint64 bodyBytes = request.intBodyBytes;
    while (!overBudget && bodyBytes < announced && waitForData())
        bodyBytes += socket.readAll().size();
    // A request not read to its exact end may have left bytes unread: a head cut off or over
    // the budget, a body shorter or longer than announced.
    const bool unread = overBudget || (headEnd < 0 ? !received.isEmpty() : bodyBytes != announced);

    HttpResponse response = HttpResponse::route(request);
    QFile file;
    // The size is taken once: the announced length also bounds what is sent, should the file
    // grow meanwhile.
    qint64 fileSize = 0;
    if (response.strType == QLatin1String("typeFile")) {
        const QString path = StaticFile::resolve(contentPath(), response.strContent);
        file.setFileName(path);
        if (path.isEmpty() || !file.open(QIODevice::ReadOnly)) {
            response = HttpResponse();
        } else {
            fileSize = file.size();
            response.addFileHeaders(fileSize, StaticFile::mediaType(response.strContent),
                                    StaticFile::disposition(response.strContent));
        }
    } else if (response.strType == QLatin1String("typeText")) {
        response.strContent = MetricsDocument::serves(request.strPath)
                                  ? MetricsDocument::build()
                                  : StatusDocument::build(request.strPath);
    }
    response.complete();

    socket.write(response.head());
    bool sent = true;
    if (response.strType == QLatin1String("typeText"))
        socket.write(response.strContent.toUtf8());
    else if (response.strType == QLatin1String("typeFile"))
        sent = sendFile(socket, file, fileSize);

    if (!sent || !drain(socket, 0))
        return; // the client stalled: the socket is destroyed (and the connection aborted) here
    if (unread || socket.bytesAvailable() > 0) {
        linger(socket);
        return;
    }
    socket.disconnectFromHost();
    if (socket.state() != QAbstractSocket::UnconnectedState)
        socket.waitForDisconnected(timeouts.intStall);
}

bool WebserverThread::sendFile(QTcpSocket &socket, QFile &file, qint64 size) {
    // Never more than the announced length, should the file grow while it is sent.
    QByteArray piece(filePiece, Qt::Uninitialized);
    qint64 left = size;
    while (left > 0) {
        const qint64 read = file.read(piece.data(), qMin(left, filePiece));
        if (read <= 0)
            break;
        left -= read;
        socket.write(piece.constData(), read);
        if (!drain(socket, writeHighWater))
            return false;
    }
    return true;
}

void WebserverThread::linger(QTcpSocket &socket) {
    // Closing with unread bytes would send a reset, and the client could lose the answer still
    // on its way. So the answer is ended with the sending side's shutdown, and what the client
    // still sends is read and thrown away until it closes too, for a bounded time.
    platform::shutdownSending(socket.socketDescriptor());
    const QDeadlineTimer until(timeouts.intLinger);
    do {
        socket.skip(socket.bytesAvailable());
    } while (socket.state() == QAbstractSocket::ConnectedState && !until.hasExpired() &&
             socket.waitForReadyRead(int(until.remainingTime())));
}

bool WebserverThread::drain(QTcpSocket &socket, qint64 limit) {
    // Each wait ends as soon as some bytes leave, so only a client that takes nothing for the
    // whole stall time is cut off, however long the transfer takes in all.
    while (socket.bytesToWrite() > limit) {
        if (!socket.waitForBytesWritten(timeouts.intStall))
            return false;
    }
    return true;
}
