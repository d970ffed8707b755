// Tells the receivers of the machine-wide file what the judge decided: each alert that begins
// or resolves goes to the webhook (alerts/webhook) and to ntfy (alerts/ntfy), one message per
// round and status; Alertmanager (alerts/alertmanager) gets the same, and every firing alert
// again each resendMs, valid for four resends, as Prometheus itself pushes them, so that it
// resolves them on its own should this machine stop sending.
#pragma once

#include "AlertPayloads.h"
#include "AlertSender.h"

#include <memory>
#include <vector>

class AlertNotifier {
public:
    struct Receivers {
        QUrl webhook;
        QUrl alertmanager;
        QUrl ntfy;
    };
    static constexpr qint64 resendMs = 60000;

    // The receivers of the machine-wide file.
    static Receivers configured();

    AlertNotifier(const Receivers &receivers, const AlertPayloads::Origin &origin,
                  AlertSender::Timing timing = AlertSender::Timing());
    ~AlertNotifier();

    // The process's notifier while the monitor runs (nullptr before start and in tests).
    static AlertNotifier *current();
    static void setCurrent(AlertNotifier *notifier);

    void start();
    // Stops every sender; what waits is not sent.
    void stop();

    // One round of the judge (AlertThread's listener).
    void notify(const std::vector<Alerts::Alert> &changes, const std::vector<Alerts::Alert> &firing,
                qint64 now);

    // Messages dropped for a full backlog, and given up after every attempt, over all senders.
    quint64 dropped() const;
    quint64 failed() const;

private:
    AlertPayloads::Origin origin;
    std::unique_ptr<AlertSender> webhook, alertmanager, ntfy;
    qint64 pushedAt = -1; // only the judge's round touches it
};
