// The machines of the peer list at a glance, served at /fleet.json: this monitor asks each
// listed machine whose monitor runs for its /summary.json, side by side within one time-out, so
// that the dashboard never has to read another origin. Asked only when a dashboard asks (while
// its "Machines on this network" panel is open), and at most once in gapMs.
#pragma once

#include "FleetClient.h"
#include "PeerList.h"

#include <QHash>
#include <QJsonObject>
#include <QMutex>
#include <QString>
#include <QVector>
#include <functional>

class FleetSummaries {
public:
    // The peers to ask, and how one summary is fetched with the client of this round's settings.
    using Peers = std::function<QVector<Peer>()>;
    using Fetch = std::function<FleetClient::Reply(
        const FleetClient &client, const QString &strAddress, int intPort, int intWaitMs)>;

    static FleetSummaries &instance();
    FleetSummaries(Peers peers, Fetch fetch);

    static constexpr int waitMs = 1000;
    static constexpr qint64 gapMs = 2000;

    // {"machines":[{"address","port","hostname": the name its summary gives, or null,
    // "summary": the machine's summary, or null for no answer}]}, in the peer list's order,
    // with "problem" beside a null summary when the machine said why (FleetClient::Reply);
    // machines whose monitor is not running are left out.
    QString document();
    // The host names of the last round (a new one when it is older than gapMs), by address.
    QHash<QString, QString> hostNames();

private:
    const Peers peers;
    const Fetch fetch;

    // Guards the cached answer: dashboards on several browsers share one round of requests.
    QMutex mutex;
    QString strCached;
    QHash<QString, QString> names;
    qint64 intCachedAt = -1;
};
