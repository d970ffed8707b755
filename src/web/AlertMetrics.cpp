#include "AlertMetrics.h"

#include "AlertNotifier.h"
#include "MetricsDocument.h"

#include <QSet>

QString AlertMetrics::render(const std::vector<Alerts::Alert> &firing, quint64 dropped,
                             quint64 failed) {
    QString out = QStringLiteral(
        "# HELP tarnivo_alert_active 1 for each alert the monitor judges to be firing now.\n"
        "# TYPE tarnivo_alert_active gauge\n");
    QSet<QString> written;
    for (const Alerts::Alert &a : firing) {
        const QString labels =
            QStringLiteral("alertname=\"%1\",severity=\"%2\",device=\"%3\"")
                .arg(MetricsDocument::labelValue(a.name), MetricsDocument::labelValue(a.severity),
                     MetricsDocument::labelValue(a.device));
        // Two devices of one name (two adapters named alike) give one series.
        if (!written.contains(labels))
            out += QLatin1String("tarnivo_alert_active{") + labels + QLatin1String("} 1\n");
        written.insert(labels);
    }
    out += QStringLiteral(
               "# HELP tarnivo_alert_notifications_dropped_total Notifications dropped because "
               "their receiver's backlog was full.\n"
               "# TYPE tarnivo_alert_notifications_dropped_total counter\n"
               "tarnivo_alert_notifications_dropped_total %1\n"
               "# HELP tarnivo_alert_notifications_failed_total Notifications given up after "
               "every attempt failed.\n"
               "# TYPE tarnivo_alert_notifications_failed_total counter\n"
               "tarnivo_alert_notifications_failed_total %2\n")
               .arg(dropped)
               .arg(failed);
    return out;
}

QString AlertMetrics::build() {
    const AlertNotifier *notifier = AlertNotifier::current();
    return render(Alerts::instance().firing(), notifier ? notifier->dropped() : 0,
                  notifier ? notifier->failed() : 0);
}
