// The machines of the peer list at a glance, served at /fleet.json: this monitor asks each
// listed machine whose monitor runs for its /summary.json, side by side within one time-out, so
// that the dashboard never has to read another origin. Asked only when a dashboard asks (while
// its "Machines on this network" panel is open), and at most once in gapMs.
#pragma once

#include "PeerList.h"

#include <QJsonObject>
#include <QMutex>
#include <QString>
#include <QVector>
#include <functional>

class FleetSummaries {
public:
    // The peers to ask, and how one summary is fetched: the JSON object, or an empty object
    // when the machine did not answer in time with one.
    using Peers = std::function<QVector<Peer>()>;
    using Fetch = std::function<QJsonObject(const QString &strAddress, int intPort, int intWaitMs)>;

    static FleetSummaries &instance();
    FleetSummaries(Peers peers, Fetch fetch);

    static constexpr int waitMs = 1000;
    static constexpr qint64 gapMs = 2000;

    // {"machines":[{"address","port","summary": the machine's summary, or null for no
    // answer}]}, in the peer list's order; machines whose monitor is not running are left out.
    QString document();

    // GET /summary.json over HTTP/1.0 with a plain socket, within waitMs in all.
    static QJsonObject fetchSummary(const QString &strAddress, int intPort, int intWaitMs);
    // What a peer's answer gives to the dashboards: its known fields only, with bounded
    // lengths; empty for anything but a summary. A peer is anyone who answered a round, and a
    // dashboard relays its words to every viewer.
    static QJsonObject relayed(const QByteArray &answer);
    // A summary is a few hundred bytes; anything larger is not one, and is read no further.
    static constexpr qint64 answerLimit = 16 * 1024;
    // A mount point can be long, but not longer than a line of the panel can show.
    static constexpr qsizetype volumeNameLimit = 256;

private:
    const Peers peers;
    const Fetch fetch;

    // Guards the cached answer: dashboards on several browsers share one round of requests.
    QMutex mutex;
    QString strCached;
    qint64 intCachedAt = -1;
};
