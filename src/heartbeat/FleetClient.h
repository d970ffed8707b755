// How this monitor asks another for its /summary.json: over HTTP, or over HTTPS when
// fleet/https is set (verified against fleet/caFile when one is given, else the system's
// authorities), with fleet/user and fleet/password when the others ask for a password. A
// refusal is told apart from silence, so that the panel can say why a machine shows nothing.
#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QSslCertificate>
#include <QString>

class FleetClient {
public:
    struct Reply {
        // The summary as relayed (see relayed()); empty when there is none.
        QJsonObject summary;
        // Why there is none, when the machine said so: "needs a password", "certificate not
        // trusted", "refuses this machine", "speaks HTTPS only", "does not speak HTTPS";
        // empty for no answer in time (or none that is a summary).
        QString strProblem;
    };

    // Read from the machine-wide settings; a caFile that holds no certificate trusts nothing.
    static FleetClient fromSettings();

    // GET /summary.json within intWaitMs in all, from the calling thread (blocking waits).
    Reply fetch(const QString &strAddress, int intPort, int intWaitMs) const;

    // What a peer's answer gives to the dashboards: its known fields only, with bounded
    // lengths; empty for anything but a summary. A peer is anyone who answered a round, and a
    // dashboard relays its words to every viewer.
    static QJsonObject relayed(const QByteArray &answer);
    // A summary is a few hundred bytes; anything larger is not one, and is read no further.
    static constexpr qint64 answerLimit = 16 * 1024;
    // A mount point can be long, but not longer than a line of the panel can show.
    static constexpr qsizetype volumeNameLimit = 256;
    // At most this many restart reasons and stopped services are relayed.
    static constexpr qsizetype listLimit = 16;

    QString strUser;
    QString strPassword;
    bool boolHttps = false;
    // The authorities peers are verified against; with none given, the system's, and the
    // peer's certificate must then also name the address it is asked at.
    bool boolOwnAuthorities = false;
    QList<QSslCertificate> authorities;
};
