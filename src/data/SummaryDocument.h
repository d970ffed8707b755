// This machine at a glance, served at /summary.json for the dashboards of other machines:
// processor and memory in use (from the last sampling pass), the fullest volume and the host's
// facts, read when asked.
#pragma once

#include "platform/Platform.h"
#include "platform/Volumes.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QString>
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
    // Processor and memory as the last sampling pass read them (the processors' mean busy
    // share over that second); the volumes, the host and the alerts when asked.
    QString document();
};
