// What the notifications carry, built from the judge's alerts: the Alertmanager webhook payload
// (version "4", as Alertmanager itself posts to a webhook receiver), the list Alertmanager's
// /api/v2/alerts takes, and an ntfy message (plain text with Title, Priority and Tags headers).
// Pure functions, so each format is checked without a network.
#pragma once

#include "Alerts.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <vector>

class AlertPayloads {
public:
    // Who sends: this machine's host name (a label of every alert) and the address of its
    // dashboard (generatorURL, externalURL).
    struct Origin {
        QString hostname;
        QString url;
    };

    using Headers = QList<QPair<QByteArray, QByteArray>>;

    // Times as Alertmanager writes them: RFC 3339 in UTC with milliseconds.
    static QString time(qint64 ms);

    // One webhook post for alerts that all began (status "firing") or all resolved
    // ("resolved"): version, groupKey, status, receiver, groupLabels, commonLabels,
    // commonAnnotations, externalURL, alerts[] with status, labels, annotations, startsAt,
    // endsAt ("0001-01-01T00:00:00Z" while firing), generatorURL and fingerprint.
    static QByteArray webhook(const std::vector<Alerts::Alert> &alerts, const Origin &origin);

    // The body of a POST to /api/v2/alerts: firing alerts end at `validUntil` unless they are
    // sent again before it, resolved ones at the moment they resolved.
    static QByteArray alertmanager(const std::vector<Alerts::Alert> &alerts, qint64 validUntil,
                                   const Origin &origin);

    // An ntfy message for alerts that all began or all resolved: the text, and its headers.
    static QByteArray ntfy(const std::vector<Alerts::Alert> &alerts, const Origin &origin,
                           Headers &headers);
};
