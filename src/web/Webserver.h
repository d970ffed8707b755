// The TCP listener: hands every accepted connection to a connection thread of its own, within
// limits that keep threads and descriptors bounded under many or slow clients.
#pragma once

#include "ConnectionLimiter.h"
#include "WebserverThread.h"

#include <QTcpServer>
#include <QTimer>

class Webserver : public QTcpServer {
    Q_OBJECT
public:
    Webserver();
    // Closes the connections still waiting for a thread; running threads finish on their own.
    ~Webserver() override;

    // The limits apply to connections accepted afterwards; set them before listen().
    void setLimits(int maxRunning, int maxPerAddress, int maxQueued);
    void setTimeouts(const WebserverThread::Timeouts &timeouts);

    // Connection threads of this listener that run now, and accepted connections that wait.
    int runningConnections() const { return limiter.running(); }
    int queuedConnections() const { return limiter.queued(); }

public slots:
    void incomingConnection(qintptr intSocket) override;

private:
    void launch(const ConnectionLimiter::Connection &connection);
    void finishedConnection(const QString &strAddress);
    // Closes, unserved, the waiting connections whose request deadline has passed, and sets
    // the timer for the next one.
    void expireQueued();

    // GUI thread only: incomingConnection(), the queued finished() of the threads and the
    // expiry timer all run there, so the limiter needs no lock.
    ConnectionLimiter limiter;
    WebserverThread::Timeouts timeouts;
    QTimer expiry;
};
