// Finding the other Tarnivos on the local networks, on demand only: a round broadcasts the
// heartbeat's version and port requests to every adapter's subnet, and the answers, which come
// back to the heartbeat port, make the list of peers. The program never looks on its own; a
// round needs the monitor running and someone asking (the dashboard, or /sd.json).
#pragma once

#include "HeartbeatProtocol.h"
#include "PeerList.h"
#include "platform/Platform.h"

#include <QHash>
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

    // An IPv4 subnet of one adapter: its network address and mask, and the adapter's
    // interface index.
    struct Subnet {
        quint32 intNetwork = 0;
        quint32 intMask = 0;
        quint32 intInterface = 0;
        bool contains(quint32 intAddress) const { return (intAddress & intMask) == intNetwork; }
    };
    // Where a round goes and which sender addresses are this machine's own.
    struct Targets {
        QVector<QHostAddress> broadcasts;
        // The subnet of every adapter a broadcast goes out of: an answer counts only from the
        // subnet of the adapter it arrived on.
        QVector<Subnet> subnets;
        QSet<QString> ownAddresses;
    };
    // The directed broadcast address of every running adapter (up, with a carrier) with an
    // address and a mask, each once. Never the limited broadcast 255.255.255.255 (a mask of
    // 0), never a point-to-point mask (/31, /32), whose "broadcast" is a host. Every adapter's
    // address is this machine's own, running or not.
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
    // The heartbeat thread: records a reply of a responder that arrived on the adapter with
    // interface index intInterface, but only while the last round is within its answer time,
    // and only from the subnet of that adapter that the round went to, or from an address of
    // this machine's own; anything else cannot be an answer to us and is dropped. True when
    // recorded. A sender on one network can forge the address of a machine on another network
    // of ours (the loose reverse-path filter lets it in, and Windows has none): it must not
    // make us list, and fetch from, a machine there. What this machine's own addresses say is
    // never taken: its port and version come from the program.
    bool hear(const QHostAddress &sender, quint32 intInterface,
              const HeartbeatProtocol::Answer &answer);

    // The heartbeat thread: a goodbye from sender, taken as a reply is (from the subnet of the
    // adapter it arrived on, never from this machine). True when recorded.
    bool farewell(const QHostAddress &sender, quint32 intInterface);
    // When each machine last said goodbye, by address (ms since the epoch).
    QHash<QString, qint64> farewells();
    // Where a goodbye goes: the broadcast address of every running adapter's subnet.
    QVector<QHostAddress> goodbyeTargets() const;

    // The peers as of now, those silent for too many rounds left out; this machine with the
    // port on which its web server listens now and the program's version.
    QVector<Peer> peers();
    // When the last round started; -1 before the first.
    qint64 lastRoundAt();

    // The document of "/peers.json": with "strRequest=requestLook" in the query of the
    // decoded request path it also starts a round.
    QString peersDocument(const QString &strPath);
    // The document of "/sd.json": always starts a round, and waits for its answers when it did.
    // This machine's target is the local address on which the request arrived
    // (strLocalAddress, when given), since that is the one the asker reaches it at. Each
    // target is labelled with its host name, which hostNames gives by address once the
    // round's answers are in (none when it is not given). The schemes are as
    // PeerDocuments::serviceDiscovery takes them.
    using HostNames = std::function<QHash<QString, QString>(const QVector<Peer> &)>;
    QString serviceDiscoveryDocument(const QString &strLocalAddress = QString(),
                                     const HostNames &hostNames = HostNames(),
                                     bool boolThisHttps = false, bool boolPeersHttps = false);

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
    // Where the last round went; empty until it is sent.
    QVector<Subnet> roundSubnets;
    std::function<void()> wakeSender;
    QSet<QString> ownAddresses;
    PeerList peerList;
    QHash<QString, qint64> goodbyes; // bounded by intCapacity
};
