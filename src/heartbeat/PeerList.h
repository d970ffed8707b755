// The other Tarnivos that answered this machine's heartbeat requests, and this machine itself.
#pragma once

#include "HeartbeatProtocol.h"

#include <QHash>
#include <QString>
#include <QVector>
#include <list>

struct Peer {
    QString strAddress;
    // The web server port; -1 until the port reply came, 0 while its monitor is not running.
    int intPort = -1;
    // Empty until the version reply came.
    QString strVersion;
    // Milliseconds since the epoch.
    qint64 intFirstHeard = 0;
    qint64 intLastHeard = 0;
    // The round in which it was last heard.
    quint64 intRound = 0;
    bool boolThisMachine = false;
};

// Not thread-safe: its owner guards it.
class PeerList {
public:
    explicit PeerList(int intCapacity);

    // Records one answer of round intRound. This machine is one peer whichever of its
    // addresses answers: it stays under the address it was first heard from, and what the
    // answer says is not recorded for it (its owner fills that in). A new peer past
    // the capacity pushes out the one heard least recently, but never this machine, nor one
    // that answered intRound or the round before unless the newcomer is this machine: else the
    // newcomer is not recorded (false).
    bool hear(const QString &strAddress, const HeartbeatProtocol::Answer &answer,
              bool boolThisMachine, qint64 intNow, quint64 intRound);

    // Drops every peer last heard in a round before intRound.
    void forgetBefore(quint64 intRound);

    // This machine first, then by address.
    QVector<Peer> peers() const;
    int size() const { return int(index.size()); }

private:
    const int intCapacity;
    // Least recently heard first; index finds a peer's place by address.
    std::list<Peer> order;
    QHash<QString, std::list<Peer>::iterator> index;
    // The address under which this machine is listed; empty while it is not.
    QString strThisMachine;
};
