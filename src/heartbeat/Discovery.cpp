#include "Discovery.h"

#include "PeerDocuments.h"
#include "SharedState.h"

#include <QDateTime>
#include <QMutexLocker>
#include <QThread>
#include <algorithm>

Discovery &Discovery::instance() {
    // Never destroyed: the heartbeat thread may still use it while the process ends.
    static Discovery *const discovery =
        new Discovery(Settings(), &QDateTime::currentMSecsSinceEpoch, &platform::adapters);
    return *discovery;
}

Discovery::Discovery(const Settings &settings, Clock clock, Adapters adapters)
    : settings(settings), clock(std::move(clock)), adapters(std::move(adapters)),
      peerList(settings.intCapacity) {}

Discovery::Targets Discovery::targetsOf(const std::vector<platform::Adapter> &adapters) {
    Targets targets;
    for (const platform::Adapter &adapter : adapters) {
        const QHostAddress address(QString::fromStdString(adapter.address));
        const QHostAddress mask(QString::fromStdString(adapter.mask));
        if (address.protocol() != QAbstractSocket::IPv4Protocol ||
            mask.protocol() != QAbstractSocket::IPv4Protocol || address.toIPv4Address() == 0)
            continue;
        targets.ownAddresses.insert(address.toString());
        if (!adapter.running)
            continue;
        const quint32 bits = mask.toIPv4Address();
        // A mask is ones then zeros; anything else is not a subnet to broadcast on.
        const quint32 hosts = ~bits;
        if ((hosts & (hosts + 1)) != 0 || bits == 0 || hosts < 3)
            continue;
        const QHostAddress broadcast((address.toIPv4Address() & bits) | hosts);
        if (broadcast == QHostAddress(QHostAddress::Broadcast))
            continue;
        if (!targets.broadcasts.contains(broadcast))
            targets.broadcasts.append(broadcast);
        targets.subnets.append({address.toIPv4Address() & bits, bits, adapter.index});
    }
    return targets;
}

bool Discovery::farewell(const QHostAddress &sender, quint32 intInterface) {
    const Targets targets = targetsOf(adapters());
    const quint32 address = sender.toIPv4Address();
    if (targets.ownAddresses.contains(sender.toString()))
        return false;
    const bool near =
        std::any_of(targets.subnets.begin(), targets.subnets.end(), [&](const Subnet &s) {
            return s.intInterface == intInterface && s.contains(address);
        });
    if (!near)
        return false;
    QMutexLocker lock(&mutex);
    if (goodbyes.size() >= settings.intCapacity && !goodbyes.contains(sender.toString()))
        goodbyes.erase(std::min_element(goodbyes.begin(), goodbyes.end()));
    goodbyes.insert(sender.toString(), clock());
    return true;
}

QHash<QString, qint64> Discovery::farewells() {
    QMutexLocker lock(&mutex);
    return goodbyes;
}

QVector<QHostAddress> Discovery::goodbyeTargets() const {
    return targetsOf(adapters()).broadcasts;
}

void Discovery::setRunning(bool running) {
    QMutexLocker lock(&mutex);
    boolRunning = running;
    if (!running)
        boolRoundDue = false;
}

bool Discovery::look() {
    QMutexLocker lock(&mutex);
    if (!boolRunning)
        return false;
    const qint64 now = clock();
    // A clock set back does not hold rounds up for longer than the gap.
    if (intRoundAt >= 0 && now >= intRoundAt && now - intRoundAt < settings.intRoundGapMs)
        return false;
    ++intRound;
    intRoundAt = now;
    boolRoundDue = true;
    roundSubnets.clear();
    if (wakeSender)
        wakeSender();
    return true;
}

void Discovery::setSender(std::function<void()> wake) {
    QMutexLocker lock(&mutex);
    wakeSender = std::move(wake);
}

QVector<QHostAddress> Discovery::takeRound() {
    {
        QMutexLocker lock(&mutex);
        if (!boolRoundDue || !boolRunning)
            return {};
        boolRoundDue = false;
    }
    // Read afresh every round, outside the lock: adapters come and go.
    const Targets targets = targetsOf(adapters());
    QMutexLocker lock(&mutex);
    ownAddresses = targets.ownAddresses;
    if (!boolRunning)
        return {};
    roundSubnets = targets.subnets;
    return targets.broadcasts;
}

bool Discovery::hear(const QHostAddress &sender, quint32 intInterface,
                     const HeartbeatProtocol::Answer &answer) {
    bool ipv4 = false;
    const quint32 intAddress = sender.toIPv4Address(&ipv4);
    if (!ipv4 || intAddress == 0)
        return false;
    const QString strAddress = QHostAddress(intAddress).toString();
    QMutexLocker lock(&mutex);
    // Anyone can send a reply, from any source address: only what can be an answer to the
    // round we sent counts, so that a forger has to sit on our own subnet, and answer in time.
    const qint64 now = clock();
    if (roundSubnets.isEmpty() || now < intRoundAt || now - intRoundAt >= settings.intAnswerWaitMs)
        return false;
    const bool thisMachine = ownAddresses.contains(strAddress);
    const bool onSubnet = std::any_of(
        roundSubnets.begin(), roundSubnets.end(), [intAddress, intInterface](const Subnet &s) {
            return s.intInterface == intInterface && s.contains(intAddress);
        });
    if (!thisMachine && !onSubnet)
        return false;
    return peerList.hear(strAddress, answer, thisMachine, now, intRound);
}

void Discovery::forgetSilent() {
    // A round whose answers may still be coming is not counted as missed yet.
    const qint64 now = clock();
    const bool answering =
        intRoundAt >= 0 && now >= intRoundAt && now - intRoundAt < settings.intAnswerWaitMs;
    const qint64 firstKept = qint64(intRound) - (settings.intRoundsKept - 1) - (answering ? 1 : 0);
    if (firstKept > 0)
        peerList.forgetBefore(quint64(firstKept));
}

QVector<Peer> Discovery::peers() {
    QVector<Peer> list;
    {
        QMutexLocker lock(&mutex);
        forgetSilent();
        list = peerList.peers();
    }
    for (Peer &peer : list) {
        if (peer.boolThisMachine) {
            peer.intPort = int(intListeningPort.load());
            peer.strVersion = QLatin1String(HeartbeatProtocol::strVersion);
        }
    }
    return list;
}

qint64 Discovery::lastRoundAt() {
    QMutexLocker lock(&mutex);
    return intRoundAt;
}

QString Discovery::serviceDiscoveryDocument(const QString &strLocalAddress,
                                            const HostNames &hostNames, bool boolThisHttps,
                                            bool boolPeersHttps) {
    // Prometheus asks seldom: its answer should already hold the round it started.
    if (look())
        QThread::msleep(ulong(settings.intAnswerWaitMs));
    const QVector<Peer> list = peers();
    return PeerDocuments::serviceDiscovery(list, strLocalAddress,
                                           hostNames ? hostNames(list) : QHash<QString, QString>(),
                                           boolThisHttps, boolPeersHttps);
}

QString Discovery::peersDocument(const QString &strPath) {
    const qsizetype query = strPath.indexOf(QLatin1Char('?'));
    if (query >= 0 && strPath.mid(query + 1)
                          .split(QLatin1Char('&'))
                          .contains(QLatin1String("strRequest=requestLook")))
        look();
    const QVector<Peer> list = peers();
    QMutexLocker lock(&mutex);
    return PeerDocuments::peers(list, intRoundAt, boolRunning, settings.intRoundGapMs);
}
