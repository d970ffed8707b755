#include "FleetClient.h"

#include "CleanText.h"
#include "MachineSettings.h"

#include <QDeadlineTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSslConfiguration>
#include <QSslSocket>

namespace {
// A figure, or null for anything else.
QJsonValue numberOr(const QJsonValue &value) {
    return value.isDouble() ? value : QJsonValue(QJsonValue::Null);
}

// A peer's text as it may be relayed: bounded, and without control characters, which would
// reach every viewer and swell to six bytes each in JSON.
QString text(const QJsonValue &value) {
    return CleanText::clean(value.toString().left(FleetClient::volumeNameLimit));
}

// The host facts the machines panel shows, each text and list bounded: a name, a restart owed
// and why, the services that should run and do not.
QJsonObject relayedHost(const QJsonObject &host) {
    QJsonArray reasons;
    for (const QJsonValue reason : host.value("rebootReasons").toArray())
        if (reasons.size() < FleetClient::listLimit)
            reasons.append(text(reason));
    const QJsonObject services = host.value("services").toObject();
    QJsonArray stopped;
    for (const QJsonValue entry : services.value("stopped").toArray()) {
        if (stopped.size() >= FleetClient::listLimit)
            break;
        const QJsonObject service = entry.toObject();
        stopped.append(
            QJsonObject{{QStringLiteral("name"), text(service.value("name"))},
                        {QStringLiteral("displayName"), text(service.value("displayName"))},
                        {QStringLiteral("state"), text(service.value("state"))}});
    }
    return {{QStringLiteral("hostname"), text(host.value("hostname"))},
            {QStringLiteral("upSeconds"), numberOr(host.value("upSeconds"))},
            {QStringLiteral("rebootRequired"), host.value("rebootRequired").toBool()},
            {QStringLiteral("rebootReasons"), reasons},
            {QStringLiteral("services"),
             QJsonObject{{QStringLiteral("read"), services.value("read").toBool()},
                         {QStringLiteral("stopped"), stopped}}}};
}

// What fires on the machine, bounded as its host facts are.
QJsonArray relayedAlerts(const QJsonArray &alerts) {
    QJsonArray kept;
    for (const QJsonValue entry : alerts) {
        if (kept.size() >= FleetClient::listLimit)
            break;
        const QJsonObject alert = entry.toObject();
        kept.append(QJsonObject{{QStringLiteral("name"), text(alert.value("name"))},
                                {QStringLiteral("severity"), text(alert.value("severity"))},
                                {QStringLiteral("words"), text(alert.value("words"))}});
    }
    return kept;
}

QString problemOf(const QByteArray &answer) {
    if (answer.startsWith("HTTP/1.0 401 "))
        return QStringLiteral("needs a password");
    if (answer.startsWith("HTTP/1.0 403 "))
        return QStringLiteral("refuses this machine");
    if (answer.startsWith("HTTP/1.0 400 ") && answer.contains("HTTPS only"))
        return QStringLiteral("speaks HTTPS only");
    return QString();
}
} // namespace

FleetClient FleetClient::fromSettings() {
    FleetClient client;
    client.strUser = MachineSettings::value(QStringLiteral("fleet/user")).toString();
    client.strPassword = MachineSettings::value(QStringLiteral("fleet/password")).toString();
    client.boolHttps = MachineSettings::value(QStringLiteral("fleet/https")).toBool();
    const QString caFile = MachineSettings::value(QStringLiteral("fleet/caFile")).toString();
    if (!caFile.isEmpty()) {
        client.boolOwnAuthorities = true;
        client.authorities = QSslCertificate::fromPath(caFile, QSsl::Pem);
    }
    return client;
}

FleetClient::Reply FleetClient::fetch(const QString &strAddress, int intPort, int intWaitMs) const {
    // Blocking calls in this thread, which has no event loop of its own to wait in.
    const QDeadlineTimer deadline(intWaitMs);
    QSslSocket socket;
    if (boolHttps) {
        QSslConfiguration configuration = socket.sslConfiguration();
        if (boolOwnAuthorities)
            configuration.setCaCertificates(authorities);
        socket.setSslConfiguration(configuration);
        // The fleet's own authority vouches for its members, whose addresses discovery finds:
        // a certificate of it need not name the address (nor can it, on DHCP). Every other
        // fault of the certificate still refuses it.
        if (boolOwnAuthorities)
            QObject::connect(&socket, &QSslSocket::sslErrors, &socket,
                             [&socket](const QList<QSslError> &errors) {
                                 for (const QSslError &error : errors) {
                                     if (error.error() != QSslError::HostNameMismatch)
                                         return;
                                 }
                                 socket.ignoreSslErrors();
                             });
        socket.connectToHostEncrypted(strAddress, quint16(intPort));
        while (!socket.isEncrypted() && socket.state() != QAbstractSocket::UnconnectedState &&
               !deadline.hasExpired())
            socket.waitForEncrypted(int(qMax<qint64>(1, deadline.remainingTime())));
        if (!socket.isEncrypted()) {
            if (!socket.sslHandshakeErrors().isEmpty())
                return {{}, QStringLiteral("certificate not trusted")};
            if (socket.error() == QAbstractSocket::SslHandshakeFailedError)
                return {{}, QStringLiteral("does not speak HTTPS")};
            return {};
        }
    } else {
        socket.connectToHost(strAddress, quint16(intPort));
        if (!socket.waitForConnected(int(qMax<qint64>(1, deadline.remainingTime()))))
            return {};
    }
    // The socket never buffers more than an answer may hold, whatever the peer sends.
    socket.setReadBufferSize(answerLimit + 1);
    QByteArray request = "GET /summary.json HTTP/1.0\r\n";
    if (!strUser.isEmpty() || !strPassword.isEmpty())
        request += "Authorization: Basic " +
                   (strUser + QLatin1Char(':') + strPassword).toUtf8().toBase64() + "\r\n";
    socket.write(request + "\r\n");
    QByteArray answer;
    while (answer.size() <= answerLimit) {
        if (socket.bytesAvailable() == 0 &&
            (deadline.hasExpired() ||
             !socket.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())))))
            break; // closed after the answer, or the time is up
        answer += socket.read(answerLimit + 1 - answer.size());
    }
    const QJsonObject summary = relayed(answer);
    return {summary, summary.isEmpty() ? problemOf(answer) : QString()};
}

QJsonObject FleetClient::relayed(const QByteArray &answer) {
    const qsizetype body = answer.indexOf("\r\n\r\n");
    if (answer.size() > answerLimit || !answer.startsWith("HTTP/1.0 200") || body < 0)
        return {};
    const QJsonObject summary = QJsonDocument::fromJson(answer.mid(body + 4)).object();
    if (summary.isEmpty())
        return {};
    QJsonObject kept{{QStringLiteral("processor"), numberOr(summary.value("processor"))},
                     {QStringLiteral("memory"), numberOr(summary.value("memory"))},
                     {QStringLiteral("volume"), QJsonValue::Null}};
    const QJsonObject volume = summary.value("volume").toObject();
    if (volume.value("volume").isString())
        kept.insert(QStringLiteral("volume"),
                    QJsonObject{{QStringLiteral("volume"), text(volume.value("volume"))},
                                {QStringLiteral("used"), numberOr(volume.value("used"))},
                                {QStringLiteral("free"), numberOr(volume.value("free"))}});
    const QJsonValue host = summary.value("host");
    if (host.isObject())
        kept.insert(QStringLiteral("host"), relayedHost(host.toObject()));
    // A monitor of an earlier version judges nothing.
    if (summary.value("alerts").isArray())
        kept.insert(QStringLiteral("alerts"), relayedAlerts(summary.value("alerts").toArray()));
    return kept;
}
