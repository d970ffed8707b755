#include "PeerDocuments.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {
QJsonValue utc(qint64 intMs) {
    if (intMs < 0)
        return QJsonValue::Null;
    return QDateTime::fromMSecsSinceEpoch(intMs, Qt::UTC).toString(Qt::ISODateWithMs);
}

QString compact(const QJsonDocument &document) {
    return QString::fromUtf8(document.toJson(QJsonDocument::Compact));
}
} // namespace

QString PeerDocuments::peers(const QVector<Peer> &peers, qint64 intLastRoundAt, bool boolRunning,
                             int intRoundGapMs) {
    QJsonArray list;
    for (const Peer &peer : peers) {
        QJsonObject entry;
        entry.insert(QStringLiteral("address"), peer.strAddress);
        entry.insert(QStringLiteral("port"),
                     peer.intPort < 0 ? QJsonValue(QJsonValue::Null) : QJsonValue(peer.intPort));
        entry.insert(QStringLiteral("version"), peer.strVersion.isEmpty()
                                                    ? QJsonValue(QJsonValue::Null)
                                                    : QJsonValue(peer.strVersion));
        entry.insert(QStringLiteral("thisMachine"), peer.boolThisMachine);
        entry.insert(QStringLiteral("firstHeard"), utc(peer.intFirstHeard));
        entry.insert(QStringLiteral("lastHeard"), utc(peer.intLastHeard));
        list.append(entry);
    }
    QJsonObject document;
    document.insert(QStringLiteral("running"), boolRunning);
    document.insert(QStringLiteral("lastLook"), utc(intLastRoundAt));
    document.insert(QStringLiteral("roundGapSeconds"), intRoundGapMs / 1000.0);
    document.insert(QStringLiteral("peers"), list);
    return compact(QJsonDocument(document));
}

QString PeerDocuments::serviceDiscovery(const QVector<Peer> &peers, const QString &strThisMachine,
                                        const QHash<QString, QString> &hostNames,
                                        bool boolThisHttps, bool boolPeersHttps) {
    QJsonArray groups;
    for (const Peer &peer : peers) {
        if (peer.intPort <= 0)
            continue;
        QJsonObject labels;
        if (!peer.strVersion.isEmpty())
            labels.insert(QStringLiteral("__meta_tarnivo_version"), peer.strVersion);
        if (peer.boolThisMachine ? boolThisHttps : boolPeersHttps)
            labels.insert(QStringLiteral("__scheme__"), QStringLiteral("https"));
        labels.insert(QStringLiteral("__meta_tarnivo_this_machine"),
                      peer.boolThisMachine ? QStringLiteral("true") : QStringLiteral("false"));
        const QString name = hostNames.value(peer.strAddress);
        if (!name.isEmpty()) {
            labels.insert(QStringLiteral("__meta_tarnivo_hostname"), name);
            labels.insert(QStringLiteral("hostname"), name);
        }
        QJsonObject group;
        QString address =
            peer.boolThisMachine && !strThisMachine.isEmpty() ? strThisMachine : peer.strAddress;
        // Asked over IPv6, this machine is reached at an IPv6 address, which a target brackets.
        if (address.contains(QLatin1Char(':')))
            address = QLatin1Char('[') + address + QLatin1Char(']');
        group.insert(QStringLiteral("targets"),
                     QJsonArray{address + QLatin1Char(':') + QString::number(peer.intPort)});
        group.insert(QStringLiteral("labels"), labels);
        groups.append(group);
    }
    return compact(QJsonDocument(groups));
}
