// The TCP listener: hands every accepted connection to a connection thread of its own, within
// limits that keep threads and descriptors bounded under many or slow clients.
#pragma once

#include "ConnectionLimiter.h"
#include "WebserverThread.h"

#include <QTcpServer>
#include <QTimer>

#include <map>
#include <memory>

class Webserver : public QTcpServer {
    Q_OBJECT
public:
    Webserver();
    // Closes the connections still waiting for a thread; running threads finish on their own.
    ~Webserver() override;

    // Listens as QTcpServer::listen() does (QHostAddress::Any: both families in one socket, or
    // IPv4 alone on a system without IPv6); on Windows an IPv4 address, or Any, is bound
    // exclusively, so that no other program can bind the same port on one of the addresses and
    // take the connections to it.
    bool listen(const QHostAddress &address, quint16 port);
    // Why the last listen() failed, and the system's words for it (which the exclusive bind
    // on Windows sets, as QTcpServer::listen() sets its own).
    QAbstractSocket::SocketError listenError() const;
    QString listenErrorText() const;

    // Why the certificate and key that the settings name cannot serve HTTPS; "" when they can
    // or none are set. Read with the settings when the listener is made.
    QString tlsProblem() const { return strTlsProblem; }

    // The limits apply to connections accepted afterwards; set them before listen().
    void setLimits(int maxRunning, int maxPerAddress, int maxQueued);
    void setTimeouts(const WebserverThread::Timeouts &timeouts);

    // Connection threads of this listener that run now, and accepted connections that wait.
    int runningConnections() const { return limiter.running(); }
    int queuedConnections() const { return limiter.queued(); }

public slots:
    void incomingConnection(qintptr intSocket) override;

private:
    QString strTlsProblem;
    QAbstractSocket::SocketError exclusiveListenError = QAbstractSocket::UnknownSocketError;
    bool listenedExclusively = false;
    void launch(const ConnectionLimiter::Connection &connection);
    void finishedConnection(quint64 intId, const QString &strAddress);
    // When every thread is taken and connections wait for one: asks as many running
    // connections as those need, among those stalled on their clients, to give way; looks again
    // shortly while some still wait without one.
    void makeRoom();
    // Closes, unserved, the waiting connections whose request deadline has passed, and sets
    // the timer for the next one.
    void expireQueued();

    // GUI thread only: incomingConnection(), the queued finished() of the threads and the
    // expiry timer all run there, so the limiter needs no lock.
    ConnectionLimiter limiter;
    WebserverThread::Timeouts timeouts;
    QTimer expiry;
    // The running connections by a number of their own (a descriptor's number may be reused
    // before the end of its thread is reported here).
    struct Running {
        QString strAddress;
        std::shared_ptr<ConnectionControl> control;
        bool boolGivingWay = false;
    };
    std::map<quint64, Running> running;
    quint64 intNextId = 0;
    QTimer roomCheck;
};
