// The services that should be running and are not, as the dashboards and /metrics see them. A
// reading walks every service of the system, so it is taken on the connection thread that asks
// (never on the sampling thread) and at most once in gapMs; askers in between share it.
#pragma once

#include "platform/Services.h"

#include <QMutex>
#include <functional>

class ServicesCheck {
public:
    using Read = std::function<platform::ServicesReading()>;

    static ServicesCheck &instance();
    explicit ServicesCheck(Read read);

    static constexpr qint64 gapMs = 30000;
    platform::ServicesReading reading();

private:
    const Read read;
    // Guards last and intReadAt: connection threads ask at any time, and one reading at a time
    // is taken while the others wait for it.
    QMutex mutex;
    platform::ServicesReading last;
    qint64 intReadAt = -1; // milliseconds, steady
};
