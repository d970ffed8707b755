// Admission of accepted connections: how many connection threads run at once, how many of them
// one peer address may hold, and how many accepted connections may wait for a thread.
//
// Not thread-safe by design: the listener calls it from the GUI thread only (from
// incomingConnection and from the queued finished() of its connection threads).
#pragma once

#include <QString>
#include <QtGlobal>

#include <deque>
#include <map>
#include <vector>

class ConnectionLimiter {
public:
    struct Connection {
        qintptr intSocket = 0;
        QString strAddress;
        // When its request must have been read, in milliseconds of the caller's steady clock.
        qint64 intDeadline = 0;
    };
    enum class Admission { Start, Queue, Refuse };

    ConnectionLimiter(int maxRunning, int maxPerAddress, int maxQueued);

    // Decides for a newly accepted connection. Start counts it as running at once; Queue keeps
    // it until release() hands it back; Refuse means the queue is full and the caller closes it.
    Admission admit(qintptr intSocket, const QString &strAddress, qint64 intDeadline = 0);

    // A running connection of this address has ended. Returns the waiting connections that may
    // start now, in arrival order, each already counted as running.
    std::vector<Connection> release(const QString &strAddress);

    // Takes the waiting connections whose deadline is at or before now out of the queue (the
    // caller closes them unserved), in arrival order.
    std::vector<Connection> expire(qint64 now);
    // The earliest deadline in the queue; false when the queue is empty.
    bool nextDeadline(qint64 &deadline) const;

    // Empties the queue (the listener closes what it returns when it goes away).
    std::vector<Connection> takeQueued();

    int running() const { return intRunning; }
    int queued() const { return int(queue.size()); }

private:
    bool mayStart(const QString &strAddress) const;

    int intMaxRunning;
    int intMaxPerAddress;
    int intMaxQueued;
    int intRunning = 0;
    std::map<QString, int> runningPerAddress;
    std::deque<Connection> queue;
};
