// What the access tests set up as an administrator would: users as htpasswd writes them
// (apache2-utils), certificates from openssl, a machine-wide settings file; and a client that
// runs on a thread of its own while the listener keeps the test's thread.
#pragma once

#include "MachineSettings.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QSslCertificate>
#include <QString>
#include <future>

// A user's entry as "htpasswd -nB" writes it, at the given cost.
inline QString htpasswd(const QString &name, const QString &password, int cost = 5) {
    QProcess process;
    process.start("htpasswd", {"-nbB", "-C", QString::number(cost), name, password});
    process.waitForFinished(60000);
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

// A self-signed certificate for 127.0.0.1 with this common name, and its key: certificate.pem
// and key.pem in the directory.
inline bool makeCertificate(const QString &directory, const QString &name) {
    QProcess openssl;
    openssl.start("openssl", {"req", "-x509", "-newkey", "ec", "-pkeyopt",
                              "ec_paramgen_curve:prime256v1", "-nodes", "-days", "2", "-subj",
                              "/CN=" + name, "-addext", "subjectAltName=IP:127.0.0.1", "-keyout",
                              directory + "/key.pem", "-out", directory + "/certificate.pem"});
    return openssl.waitForFinished(30000) && openssl.exitCode() == 0;
}

inline QSslCertificate certificateIn(const QString &directory) {
    QFile file(directory + "/certificate.pem");
    file.open(QIODevice::ReadOnly);
    return QSslCertificate(file.readAll());
}

// Reads a machine-wide file with these lines as the program does at start; its messages.
inline QStringList loadSettings(const QString &path, const QByteArray &lines) {
    QFile file(path);
    file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    file.write(lines);
    file.close();
    return MachineSettings::load(path, true);
}

// Runs a blocking client on a thread of its own; the test's thread, where the listener lives,
// keeps accepting meanwhile.
template <typename Client> auto meanwhile(Client client) {
    auto result = std::async(std::launch::async, client);
    while (result.wait_for(std::chrono::milliseconds(1)) != std::future_status::ready)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return result.get();
}
