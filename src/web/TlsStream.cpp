#include "TlsStream.h"

#include "HttpResponse.h"
#include "platform/Platform.h"

#include <QSslSocket>

TlsStream::TlsStream(qintptr descriptor, const QSslConfiguration &configuration)
    : socket(std::make_unique<QSslSocket>()) {
    const intptr_t copy = platform::duplicateSocket(descriptor);
    if (copy == -1)
        return;
    if (!socket->setSocketDescriptor(copy)) {
        platform::closeSocket(copy);
        return;
    }
    socket->setReadBufferSize(intBuffered);
    socket->setSslConfiguration(configuration);
}

TlsStream::~TlsStream() = default;

const QByteArray &TlsStream::httpsOnly() {
    static const QByteArray whole = [] {
        const QByteArray body = "This port speaks HTTPS only: ask for https:// instead of "
                                "http:// (web/certificate is set).\n";
        HttpResponse response;
        response.strStatus = QStringLiteral("HTTP/1.0 400 Bad Request\r\n");
        response.headers.insert(QStringLiteral("Content-Type"),
                                QStringLiteral("text/plain; charset=utf-8"));
        response.headers.insert(QStringLiteral("Content-Length"), QString::number(body.size()));
        response.complete();
        return response.head() + body;
    }();
    return whole;
}

bool TlsStream::connected() const {
    return socket->state() == QAbstractSocket::ConnectedState;
}

bool TlsStream::handshake(QDeadlineTimer deadline) {
    if (!connected())
        return false;
    socket->startServerEncryption();
    while (!socket->isEncrypted() && connected() && !deadline.hasExpired())
        socket->waitForEncrypted(int(qMax<qint64>(1, deadline.remainingTime())));
    return socket->isEncrypted();
}

qint64 TlsStream::receiveSome(char *buffer, qint64 size) {
    if (socket->bytesAvailable() > 0)
        return socket->read(buffer, size);
    if (connected())
        return -1;
    return socket->error() == QAbstractSocket::RemoteHostClosedError ? 0 : -2;
}

qint64 TlsStream::sendSome(const char *data, qint64 size) {
    if (!connected())
        return -2;
    if (socket->bytesToWrite() >= intBuffered) {
        socket->flush();
        return -1;
    }
    const qint64 written = socket->write(data, qMin(size, intBuffered - socket->bytesToWrite()));
    socket->flush();
    return written < 0 ? -2 : written;
}

int TlsStream::waitReadable(int msecs) {
    if (socket->bytesAvailable() > 0 || !connected())
        return 1;
    // A closed or failed connection is "readable": the next read says which.
    return socket->waitForReadyRead(msecs) || !connected() ? 1 : 0;
}

int TlsStream::waitWritable(int msecs) {
    // Waits for some of the queue to leave: both to make room for a send and to drain it.
    if (socket->bytesToWrite() == 0 || !connected())
        return 1;
    return socket->waitForBytesWritten(msecs) || !connected() ? 1 : 0;
}

bool TlsStream::pending() const {
    return connected() && socket->bytesToWrite() > 0;
}

void TlsStream::finish(int msecs) {
    if (!connected())
        return;
    socket->disconnectFromHost();
    if (socket->state() != QAbstractSocket::UnconnectedState)
        socket->waitForDisconnected(msecs);
}
