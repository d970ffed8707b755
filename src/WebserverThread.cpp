#include "WebserverThread.h"

#include "Discovery.h"
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

// The generated documents: metrics, the discovery lists, and the status document.
QString textDocument(const QString &path) {
    if (MetricsDocument::serves(path))
        return MetricsDocument::build();
    if (Discovery::serves(path))
        return Discovery::instance().document(path);
    return StatusDocument::build(path);
}

} // namespace

WebserverThread::WebserverThread(qintptr socket) : WebserverThread(socket, Timeouts()) {}

WebserverThread::WebserverThread(qintptr socket, const Timeouts &limits)
    : intSocket(socket), timeouts(limits) {
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
    const QDeadlineTimer deadline(timeouts.intRequestDeadline);
    // The next wait for data: one read wait, but never past the request deadline.
    auto waitForData = [&socket, &deadline]() {
        const qint64 left = deadline.remainingTime();
        if (left == 0)
            return false;
        return socket.waitForReadyRead(int(left < 0 ? readWait : qMin<qint64>(left, readWait)));
    };

    QString requestText;
    qint64 budget = headBudget;
    while (waitForData()) {
        budget -= socket.bytesAvailable();
        requestText += HttpRequest::decodeChunk(socket.readAll());
        if (HttpRequest::headComplete(requestText) || budget < 1)
            break;
    }
    const HttpRequest request = HttpRequest::parse(requestText);

    // The body is never used: it is only drained, and not kept, so that the answer is not
    // reset away by unread data and a large body costs no memory.
    qint64 remaining = request.bodyRemaining();
    while (remaining >= 1 && waitForData()) {
        remaining -= socket.bytesAvailable();
        socket.readAll();
    }

    HttpResponse response = HttpResponse::route(request);
    QFile file;
    if (response.strType == QLatin1String("typeFile")) {
        if (!StaticFile::open(contentPath(), response.strContent, file)) {
            response = HttpResponse();
        } else {
            response.addFileHeaders(file.size(), StaticFile::mediaType(response.strContent),
                                    StaticFile::disposition(response.strContent));
        }
    } else if (response.strType == QLatin1String("typeText")) {
        response.strContent = textDocument(request.strPath);
    }
    response.complete();

    socket.write(response.head());
    bool sent = true;
    if (response.strType == QLatin1String("typeText"))
        socket.write(response.strContent.toUtf8());
    else if (response.strType == QLatin1String("typeFile"))
        sent = sendFile(socket, file, file.size());

    if (sent && drain(socket, 0)) {
        socket.disconnectFromHost();
        if (socket.state() != QAbstractSocket::UnconnectedState)
            socket.waitForDisconnected(timeouts.intStall);
    }
    // Otherwise the client stalled: the socket is destroyed (and the connection aborted) here.
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

bool WebserverThread::drain(QTcpSocket &socket, qint64 limit) {
    // Each wait ends as soon as some bytes leave, so only a client that takes nothing for the
    // whole stall time is cut off, however long the transfer takes in all.
    while (socket.bytesToWrite() > limit) {
        if (!socket.waitForBytesWritten(timeouts.intStall))
            return false;
    }
    return true;
}
