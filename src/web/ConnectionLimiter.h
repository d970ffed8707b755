// Admission of accepted connections: how many connection threads run at once, how many of them
// one peer address may hold, and how many accepted connections may wait for a thread.
//
// Not thread-safe by design: the listener calls it under the one mutex of its admission, from
// its own thread as connections come and from connection threads as they end.
#pragma once

#include <QString>
#include <QtGlobal>

#include <deque>
#include <map>
#include <optional>
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
    // A running connection as the listener sees it when every thread is taken.
    struct Running {
        quint64 intId = 0;
        QString strAddress;
        // Since when it has waited on its client (the caller's steady clock); 0 while it works.
        qint64 intWaitingSince = 0;
    };

    ConnectionLimiter(int maxRunning, int maxPerAddress, int maxQueued);

    // Decides for a newly accepted connection. Start counts it as running at once; Queue keeps
    // it until release() hands it back; Refuse means the queue is full and the caller closes it.
    // When the queue is full, a connection of an address that holds (runs and has waiting) at
    // least two fewer than the address holding the most among those waiting takes the place of
    // that address's latest waiting connection, which is handed out in displaced for the caller
    // to close (Queue): a few busy addresses cannot fill the queue and shut out the others.
    Admission admit(qintptr intSocket, const QString &strAddress, qint64 intDeadline = 0,
                    std::optional<Connection> *displaced = nullptr);

    // A running connection of this address has ended. Returns the waiting connections that may
    // start now, each already counted as running: those of the addresses that run the fewest
    // first, so that a few busy addresses cannot keep the others waiting; in arrival order
    // among equals.
    std::vector<Connection> release(const QString &strAddress);

    // Waiting connections that only the cap on all threads holds back (their address is under
    // its own cap).
    int heldBackByTheTotal() const;
    // When every thread is taken: the running connection that should give way to the waiting
    // one that would start first. It must have waited on its client for at least minWait, and
    // its address must run more than that one's; the busiest address's, and of those the one
    // that has waited longest, goes first. False when none qualifies.
    bool chooseToGiveWay(const std::vector<Running> &candidates, qint64 now, qint64 minWait,
                         quint64 &id) const;

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
    int runningOf(const QString &strAddress) const;
    // The latest waiting connection of the address that holds the most among those waiting,
    // when that address holds at least two more than strAddress; end() otherwise.
    std::deque<Connection>::iterator displaceableFor(const QString &strAddress);
    // The waiting connection that starts next when a thread is free; end() when none may.
    std::deque<Connection>::const_iterator nextToStart() const;

    int intMaxRunning;
    int intMaxPerAddress;
    int intMaxQueued;
    int intRunning = 0;
    std::map<QString, int> runningPerAddress;
    std::deque<Connection> queue;
};
