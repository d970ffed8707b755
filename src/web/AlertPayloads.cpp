#include "AlertPayloads.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

namespace {
QJsonObject labels(const Alerts::Alert &a, const AlertPayloads::Origin &origin) {
    return {{QStringLiteral("alertname"), a.name},
            {QStringLiteral("severity"), a.severity},
            {QStringLiteral("device"), a.device},
            {QStringLiteral("hostname"), origin.hostname}};
}

QJsonObject annotations(const Alerts::Alert &a) {
    return {{QStringLiteral("summary"), a.words},
            {QStringLiteral("value"), QString::number(a.value, 'g', 6)}};
}

// What the values of every alert share.
QJsonObject common(const std::vector<QJsonObject> &objects) {
    if (objects.empty())
        return {};
    QJsonObject shared = objects.front();
    for (const QJsonObject &o : objects) {
        for (auto k = shared.begin(); k != shared.end();)
            k = o.value(k.key()) == k.value() ? k + 1 : shared.erase(k);
    }
    return shared;
}

bool allResolved(const std::vector<Alerts::Alert> &alerts) {
    for (const Alerts::Alert &a : alerts) {
        if (a.ended == 0)
            return false;
    }
    return true;
}

QByteArray compact(const QJsonValue &value) {
    return value.isArray() ? QJsonDocument(value.toArray()).toJson(QJsonDocument::Compact)
                           : QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact);
}
} // namespace

QString AlertPayloads::time(qint64 ms) {
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC).toString(Qt::ISODateWithMs);
}

QByteArray AlertPayloads::webhook(const std::vector<Alerts::Alert> &alerts, const Origin &origin) {
    const QString status =
        allResolved(alerts) ? QStringLiteral("resolved") : QStringLiteral("firing");
    QJsonArray list;
    std::vector<QJsonObject> allLabels, allAnnotations;
    for (const Alerts::Alert &a : alerts) {
        const QJsonObject l = labels(a, origin);
        allLabels.push_back(l);
        allAnnotations.push_back(annotations(a));
        const QByteArray identity = compact(l);
        list.append(QJsonObject{
            {QStringLiteral("status"),
             a.ended ? QStringLiteral("resolved") : QStringLiteral("firing")},
            {QStringLiteral("labels"), l},
            {QStringLiteral("annotations"), allAnnotations.back()},
            {QStringLiteral("startsAt"), time(a.since)},
            {QStringLiteral("endsAt"),
             a.ended ? time(a.ended) : QStringLiteral("0001-01-01T00:00:00Z")},
            {QStringLiteral("generatorURL"), origin.url},
            {QStringLiteral("fingerprint"),
             QString::fromLatin1(QCryptographicHash::hash(identity, QCryptographicHash::Sha256)
                                     .toHex()
                                     .left(16))}});
    }
    const QJsonObject groupLabels{{QStringLiteral("hostname"), origin.hostname}};
    return compact(QJsonObject{
        {QStringLiteral("version"), QStringLiteral("4")},
        {QStringLiteral("groupKey"), QStringLiteral("{}:{hostname=\"%1\"}").arg(origin.hostname)},
        {QStringLiteral("truncatedAlerts"), 0},
        {QStringLiteral("status"), status},
        {QStringLiteral("receiver"), QStringLiteral("tarnivo")},
        {QStringLiteral("groupLabels"), groupLabels},
        {QStringLiteral("commonLabels"), common(allLabels)},
        {QStringLiteral("commonAnnotations"), common(allAnnotations)},
        {QStringLiteral("externalURL"), origin.url},
        {QStringLiteral("alerts"), list}});
}

QByteArray AlertPayloads::alertmanager(const std::vector<Alerts::Alert> &alerts, qint64 validUntil,
                                       const Origin &origin) {
    QJsonArray list;
    for (const Alerts::Alert &a : alerts)
        list.append(QJsonObject{{QStringLiteral("labels"), labels(a, origin)},
                                {QStringLiteral("annotations"), annotations(a)},
                                {QStringLiteral("startsAt"), time(a.since)},
                                {QStringLiteral("endsAt"), time(a.ended ? a.ended : validUntil)},
                                {QStringLiteral("generatorURL"), origin.url}});
    return compact(list);
}

QByteArray AlertPayloads::ntfy(const std::vector<Alerts::Alert> &alerts, const Origin &origin,
                               Headers &headers) {
    const bool resolved = allResolved(alerts);
    bool critical = false;
    QStringList lines;
    for (const Alerts::Alert &a : alerts) {
        critical = critical || a.severity == QLatin1String("critical");
        lines << QStringLiteral("%1 %2 %3: %4")
                     .arg(resolved ? QStringLiteral("Resolved") : QStringLiteral("Firing"), a.name,
                          a.device, a.words);
    }
    const QString title =
        alerts.size() == 1
            ? QStringLiteral("%1 %2 on %3")
                  .arg(alerts.front().name,
                       resolved ? QStringLiteral("resolved") : QStringLiteral("firing"),
                       origin.hostname)
            : QStringLiteral("%1 alerts %2 on %3")
                  .arg(alerts.size())
                  .arg(resolved ? QStringLiteral("resolved") : QStringLiteral("firing"),
                       origin.hostname);
    // Header values are sent as UTF-8; ntfy reads them so.
    headers = {{"Title", title.toUtf8()},
               {"Priority", resolved   ? "default"
                            : critical ? "urgent"
                                       : "high"},
               {"Tags", resolved   ? "white_check_mark"
                        : critical ? "rotating_light"
                                   : "warning"}};
    if (!origin.url.isEmpty())
        headers.append({"Click", origin.url.toUtf8()});
    return lines.join(QLatin1Char('\n')).toUtf8();
}
