// The judge's alerts in /metrics: tarnivo_alert_active{alertname,severity,device} for what fires
// now, and the notifications dropped for a full backlog or given up after every attempt.
#pragma once

#include "Alerts.h"

#include <QString>
#include <vector>

class AlertMetrics {
public:
    static QString render(const std::vector<Alerts::Alert> &firing, quint64 dropped,
                          quint64 failed);
    static QString build();
};
