// Finding the other Tarnivos on the local networks, on demand only: a round broadcasts the
// heartbeat's version and port requests to every adapter's subnet, and the answers, which come
// back to the heartbeat port, make the list of peers. The program never looks on its own; a
// round needs the monitor running and someone asking (the dashboard, or /sd.json).
#pragma once

#include "HeartbeatProtocol.h"
#include "PeerList.h"
#include "platform/Platform.h"

#include <QHostAddress>
#include <QMutex>
#include <QSet>
#include <QString>
#include <QVector>
#include <functional>
#include <vector>

class Discovery {
public:
    struct Settings {
        // However often it is asked, a round starts at most once in this time.
        int intRoundGapMs = 5000;
        // Answers on a local network take milliseconds; a round is over after this.
        int intAnswerWaitMs = 1000;
        // A peer that missed this many rounds in a row is dropped.
        int intRoundsKept = 3;
        int intCapacity = 1024;
    };
    // Milliseconds since the epoch.
    using Clock = std::function<qint64()>;
    using Adapters = std::function<std::vector<platform::Adapter>()>;

    // The process-wide instance: real clock, the system's adapters, the settings above.
    static Discovery &instance();
    Discovery(const Settings &settings, Clock clock, Adapters adapters);

    // Where a round goes and which sender addresses are this machine's own.
    struct Targets {
        QVector<QHostAddress> broadcasts;
        QSet<QString> ownAddresses;
    };
    // The directed broadcast address of every adapter with an address and a mask, each once.
    // Never the limited broadcast 255.255.255.255 (a mask of 0), never a point-to-point mask
    // (/31, /32), whose "broadcast" is a host.
    static Targets targetsOf(const std::vector<platform::Adapter> &adapters);

    // The GUI thread: rounds are allowed between Start and Stop only.
    void setRunning(bool boolRunning);

    // Any thread: starts a round when the monitor runs and the last round is older than the
    // gap; true when this call started one. The sender is woken to send it.
    bool look();

    // The heartbeat thread, once it can send: the function that wakes it (empty to take it
    // back). It is called with this object's lock held, so it must not call back in.
    void setSender(std::function<void()> wakeSender);
    // The heartbeat thread: where the round that is due goes, once per round; empty when none
    // is due (or the monitor stopped meanwhile).
    QVector<QHostAddress> takeRound();
    // The heartbeat thread: records a reply of a responder, whoever it came from.
    void hear(const QHostAddress &sender, const HeartbeatProtocol::Answer &answer);

    // The peers as of now, those silent for too many rounds left out.
    QVector<Peer> peers();
    // When the last round started; -1 before the first.
    qint64 lastRoundAt();

    // The document of "/peers.json": with "strRequest=requestLook" in the query of the
    // decoded request path it also starts a round.
    QString peersDocument(const QString &strPath);
    // The document of "/sd.json": always starts a round, and waits for its answers when it did.
    QString serviceDiscoveryDocument();

private:
    void forgetSilent();

    const Settings settings;
    const Clock clock;
    const Adapters adapters;

    // Guards every field below: the GUI thread sets boolRunning, connection threads start
    // rounds and read the list, the heartbeat thread takes rounds and records answers.
    QMutex mutex;
    bool boolRunning = false;
    quint64 intRound = 0;
    qint64 intRoundAt = -1;
    bool boolRoundDue = false;
    std::function<void()> wakeSender;
    QSet<QString> ownAddresses;
    PeerList peerList;
};
