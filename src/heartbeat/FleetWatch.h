// The machines of the fleet that fell silent, for the alert judge (alerts/watchFleet): every
// machine discovery ever found is remembered with when it last answered, and looked for again
// every lookGapMs; one that said goodbye since it last answered (it ended in order) is
// forgotten until it answers again.
#pragma once

#include "Discovery.h"

#include <QHash>
#include <QMutex>
#include <utility>
#include <vector>

class FleetWatch {
public:
    static constexpr qint64 lookGapMs = 15000;

    explicit FleetWatch(Discovery &discovery);

    // Every remembered machine by address, with the minutes since it last answered.
    std::vector<std::pair<QString, double>> silence(qint64 now);

private:
    Discovery &discovery;
    // Guards everything below: the judge's round is the one caller, tests another.
    QMutex mutex;
    QHash<QString, qint64> lastHeard; // by address, ms since the epoch
    qint64 lookedAt = -1;
};
