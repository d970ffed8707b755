// The TCP listener: a thread of its own takes every connection as it comes and hands it to a
// connection thread of its own, within limits that keep threads and descriptors bounded under
// many or slow clients.
#pragma once

#include "ConnectionLimiter.h"
#include "WebserverThread.h"
#include "platform/Platform.h"

#include <QAbstractSocket>
#include <QHostAddress>
#include <QString>

#include <memory>

class Webserver {
public:
    Webserver();
    // Stops taking connections and closes those still waiting for a thread; running
    // connections finish on their own.
    ~Webserver();
    Webserver(const Webserver &) = delete;
    Webserver &operator=(const Webserver &) = delete;

    // Listens on the address (QHostAddress::Any: both families in one socket, or IPv4 alone on
    // a system without IPv6) and starts taking connections. The port is held alone: on Windows
    // an exclusive bind, so that no other program can bind the same port on one of the
    // addresses and take the connections to it. Once only.
    bool listen(const QHostAddress &address, quint16 port);
    // Why listen() failed, and the system's words for it.
    QAbstractSocket::SocketError listenError() const { return error; }
    QString listenErrorText() const { return strErrorText; }
    quint16 serverPort() const;
    qintptr socketDescriptor() const { return intListener; }

    // Why the certificate and key that the settings name cannot serve HTTPS; "" when they can
    // or none are set. Read with the settings when the listener is made.
    QString tlsProblem() const { return strTlsProblem; }

    // The limits apply to connections accepted afterwards.
    void setLimits(int maxRunning, int maxPerAddress, int maxQueued);
    void setTimeouts(const WebserverThread::Timeouts &timeouts);

    // Connection threads of this listener that run now, and accepted connections that wait.
    int runningConnections() const;
    int queuedConnections() const;

    // What the listener's thread and the connection threads share (the admission of
    // connections); it lives as long as the last of them.
    struct Admission;

private:
    void acceptLoop();

    QString strTlsProblem;
    QAbstractSocket::SocketError error = QAbstractSocket::UnknownSocketError;
    QString strErrorText;
    qintptr intListener = -1;
    std::shared_ptr<Admission> admission;
    platform::SystemThread *acceptThread = nullptr;
};
