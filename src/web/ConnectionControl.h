// What the listener and one connection thread share: since when the connection has been waiting
// on its client, and the listener's request that it give way to a connection that waits for a
// thread. The listener uses it under its admission's mutex, the connection only on its own thread.
#pragma once

#include <QMutex>
#include <QtGlobal>

#include <atomic>

class ConnectionControl {
public:
    // A connection waits on its client from its start until its request is in.
    ConnectionControl(qintptr intSocket, qint64 intStarted);

    qintptr socket() const { return intSocket; }

    // Connection thread: waiting on the client (for the request, for room to send, for its
    // close) since the given time on the steady clock, in milliseconds; or working, which the
    // listener never interrupts. A wait that goes on keeps the time it began.
    void waiting(qint64 intSince);
    void working();
    // True once the listener has asked the connection to give way: its waits end at once, and
    // it ends as for a client that went.
    bool askedToGiveWay() const { return boolGiveWay.load(std::memory_order_acquire); }
    // Closes the socket. From here on giveWay() does not touch the descriptor, whose number the
    // system may already have handed to a new connection.
    void close();

    // Listener: since when the connection waits on its client; 0 while it works.
    qint64 waitingSince() const { return intWaitingSince.load(std::memory_order_acquire); }
    // Shuts the socket down both ways, which ends every wait on it in the connection thread.
    void giveWay();

private:
    const qintptr intSocket;
    std::atomic<qint64> intWaitingSince;
    std::atomic<bool> boolGiveWay{false};
    // Guards boolClosed, so that the shutdown of giveWay() and the close never cross.
    QMutex mutex;
    bool boolClosed = false;
};
