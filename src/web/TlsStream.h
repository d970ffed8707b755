// HTTPS on one connection, through Qt's TLS (OpenSSL on Linux, Schannel on Windows), driven by
// the connection thread with blocking waits: the same calls as the plain socket's in the system
// layer, so that a request is read and answered the same way over either.
#pragma once

#include <QByteArray>
#include <QDeadlineTimer>
#include <QSslConfiguration>
#include <QtGlobal>
#include <memory>

class QSslSocket;

class TlsStream {
public:
    // Works on a duplicate of the connection's descriptor, which the socket object closes
    // itself; the connection keeps its own, through which the listener can still end every
    // wait.
    TlsStream(qintptr intDescriptor, const QSslConfiguration &configuration);
    ~TlsStream();

    // The server's side of the handshake, within the deadline; false when it failed.
    bool handshake(QDeadlineTimer deadline);

    // As platform::receiveSome, sendSome, waitReadable and waitWritable on the plain socket;
    // waitWritable waits until some of what is queued has left.
    qint64 receiveSome(char *buffer, qint64 size);
    qint64 sendSome(const char *data, qint64 size);
    int waitReadable(int msecs);
    int waitWritable(int msecs);
    // True while encrypted bytes wait to be handed to the system.
    bool pending() const;
    // Ends the session with its closing alert, within msecs; the plain socket's own shutdown
    // and close follow.
    void finish(int msecs);

    // The whole answer to a plain HTTP request on the HTTPS port, built once.
    static const QByteArray &httpsOnly();

    // Decrypted bytes held at most, and encrypted bytes queued before a send waits for room.
    static constexpr qint64 intBuffered = 64 * 1024;

private:
    bool connected() const;
    std::unique_ptr<QSslSocket> socket;
};
