#include "FleetWatch.h"

#include <QMutexLocker>

FleetWatch::FleetWatch(Discovery &watched) : discovery(watched) {}

std::vector<std::pair<QString, double>> FleetWatch::silence(qint64 now) {
    QMutexLocker lock(&mutex);
    if (lookedAt < 0 || now - lookedAt >= lookGapMs || now < lookedAt) {
        // Discovery itself keeps rounds at least its own gap apart.
        discovery.look();
        lookedAt = now;
    }
    for (const Peer &peer : discovery.peers()) {
        if (peer.boolThisMachine)
            continue;
        qint64 &heard = lastHeard[peer.strAddress];
        heard = std::max(heard, peer.intLastHeard);
    }
    const QHash<QString, qint64> goodbyes = discovery.farewells();
    for (auto goodbye = goodbyes.constBegin(); goodbye != goodbyes.constEnd(); ++goodbye) {
        const auto known = lastHeard.constFind(goodbye.key());
        if (known != lastHeard.constEnd() && *known <= goodbye.value())
            lastHeard.remove(goodbye.key());
    }
    std::vector<std::pair<QString, double>> list;
    for (auto m = lastHeard.constBegin(); m != lastHeard.constEnd(); ++m)
        list.emplace_back(m.key(), double(std::max<qint64>(0, now - m.value())) / 60000.0);
    return list;
}
