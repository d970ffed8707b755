// This machine at a glance, served at /summary.json for the dashboards of other machines:
// processor and memory in use, the fullest volume and the host's facts, read when asked.
#pragma once

#include "platform/Platform.h"
#include "platform/Volumes.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QMutex>
#include <QString>
#include <functional>
#include <optional>
#include <vector>

class SummaryDocument {
public:
    static SummaryDocument &instance();

    // {"processor": percent of all processors in use, "memory": percent of physical memory in
    // use, "volume": {"volume", "used", "free"} (the fullest, percent) or null, "host": the
    // object of HostDocument::json, "alerts": [{"name", "severity", "words"}] of what fires,
    // critical first, at most alertLimit}; a figure that could not be read is null.
    static QString render(std::optional<double> processor, const platform::MemoryStatus &memory,
                          const std::vector<platform::VolumeSpace> &volumes,
                          const QJsonObject &host, const QJsonArray &alerts = {});
    static constexpr int alertLimit = 16;
    // The processor share is the busy time since the last request; without a recent one, it
    // is measured over firstWindowMs at once.
    QString document();
    static constexpr int firstWindowMs = 250;
    static constexpr qint64 baseAgeMs = 30000;

private:
    struct Reading {
        quint64 intBusy = 0; // microseconds, all processors
        quint64 intCount = 0;
        qint64 intAt = -1; // milliseconds, steady
    };
    static Reading read();

    // Guards last and share: connection threads ask at any time.
    QMutex mutex;
    Reading last;
    std::optional<double> share;
};
