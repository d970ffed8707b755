// The web server's certificate and key (web/certificate and web/key, PEM files): with both
// set the port speaks HTTPS only. The files are read again when either changes, so that a
// renewed certificate is served from the next connection on without a restart.
#pragma once

#include <QDateTime>
#include <QMutex>
#include <QSslConfiguration>
#include <QString>
#include <memory>
#include <optional>

class TlsCertificate {
public:
    static const QString certificateKey;
    static const QString keyKey;

    // Both paths empty: plain HTTP.
    TlsCertificate(const QString &strCertificate, const QString &strKey);

    // Reads both settings anew and the files they name; called when the listener starts.
    // Thread-safe. Why the server cannot serve HTTPS with them ("" when it can, or when none
    // is set): a start with such files fails rather than falling back to plain HTTP.
    static QString load();
    // What load() read last (nothing yet: plain HTTP).
    static std::shared_ptr<TlsCertificate> current();

    bool enabled() const { return !strCertificate.isEmpty() || !strKey.isEmpty(); }
    // Reads the files; why they cannot be used, or "" once they are.
    QString read();
    // The server configuration for a new connection; the files are read again first when
    // either has changed since they were last read (looked at no more than once a second). A
    // renewal that cannot be read (half written, say) keeps the last good configuration.
    std::optional<QSslConfiguration> configuration();

private:
    QString readUnlocked();
    QDateTime changedAt() const;

    const QString strCertificate;
    const QString strKey;
    // Guards the fields below: connection threads ask for the configuration at any time.
    QMutex mutex;
    std::optional<QSslConfiguration> loaded;
    QDateTime loadedChange;
    qint64 intLookedAt = -1; // steady milliseconds
};
