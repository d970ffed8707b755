// Each physical disk's own health, asked at most once in gapMs for /metrics and for the
// dashboard's disk cards (/health.json) alike, so that both show the same answer.
#pragma once

#include "platform/DiskHealth.h"

#include <QHash>
#include <QString>
#include <utility>
#include <vector>

class DiskHealthDocument {
public:
    using Rows = std::vector<std::pair<quint32, platform::DiskHealth>>;

    // Every attached disk by its number. Asking every disk costs a command to each (and a hung
    // disk its time-out): at most once in this gap, on the connection thread that asks first. A
    // drive's health changes over hours, not seconds.
    static Rows reading();
    static constexpr qint64 gapMs = 60000;

    // {"disks":[{"disk", "storage" (the disk record's strIdent, or null), "reported", "why"
    // (when not reported), "kind" ("nvme", "ata"), "failing", and what that kind keeps:
    // "temperature", "percentageUsed", "mediaErrors", "powerOnHours", "criticalWarning";
    // "reallocated", "reportedUncorrectable", "pending", "offlineUncorrectable"}]}.
    static QString render(const Rows &rows, const QHash<quint32, QString> &storageIdents);
    static QString build();
};
