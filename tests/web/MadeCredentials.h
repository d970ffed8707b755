// Credentials the web tests make for themselves with the system's tools: users as htpasswd
// writes them (apache2-utils) and certificates from openssl, as an administrator would.
#pragma once

#include <QFile>
#include <QProcess>
#include <QSslCertificate>
#include <QString>

// A user's entry as "htpasswd -nB" writes it, at the given cost.
inline QString htpasswd(const QString &name, const QString &password, int cost = 5) {
    QProcess process;
    process.start(QStringLiteral("htpasswd"), {QStringLiteral("-nbB"), QStringLiteral("-C"),
                                               QString::number(cost), name, password});
    process.waitForFinished(60000);
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

// A self-signed certificate for 127.0.0.1 with this common name, and its key: certificate.pem
// and key.pem in the directory.
inline bool makeCertificate(const QString &directory, const QString &name) {
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"),
                  {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                   "-nodes", "-days", "2", "-subj", "/CN=" + name, "-addext",
                   "subjectAltName=IP:127.0.0.1", "-keyout", directory + "/key.pem", "-out",
                   directory + "/certificate.pem"});
    return openssl.waitForFinished(30000) && openssl.exitCode() == 0;
}

inline QSslCertificate certificateIn(const QString &directory) {
    QFile file(directory + "/certificate.pem");
    file.open(QIODevice::ReadOnly);
    return QSslCertificate(file.readAll());
}
