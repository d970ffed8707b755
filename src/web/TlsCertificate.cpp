#include "TlsCertificate.h"

#include "MachineSettings.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <QSslCertificate>
#include <QSslKey>
#include <QSslSocket>

const QString TlsCertificate::certificateKey = QStringLiteral("web/certificate");
const QString TlsCertificate::keyKey = QStringLiteral("web/key");

namespace {
// Guards loadedCertificate: the GUI thread loads at Start, connection threads take it.
QMutex loadedMutex;
std::shared_ptr<TlsCertificate> loadedCertificate;

constexpr qint64 lookGapMs = 1000;

QByteArray contents(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
} // namespace

TlsCertificate::TlsCertificate(const QString &certificate, const QString &key)
    : strCertificate(certificate), strKey(key) {}

QString TlsCertificate::load() {
    auto certificate =
        std::make_shared<TlsCertificate>(MachineSettings::value(certificateKey).toString(),
                                         MachineSettings::value(keyKey).toString());
    const QString problem = certificate->enabled() ? certificate->read() : QString();
    QMutexLocker lock(&loadedMutex);
    loadedCertificate = std::move(certificate);
    return problem;
}

std::shared_ptr<TlsCertificate> TlsCertificate::current() {
    QMutexLocker lock(&loadedMutex);
    if (!loadedCertificate)
        loadedCertificate = std::make_shared<TlsCertificate>(QString(), QString());
    return loadedCertificate;
}

QDateTime TlsCertificate::changedAt() const {
    return qMax(QFileInfo(strCertificate).lastModified(), QFileInfo(strKey).lastModified());
}

QString TlsCertificate::read() {
    QMutexLocker lock(&mutex);
    return readUnlocked();
}

QString TlsCertificate::readUnlocked() {
    if (strCertificate.isEmpty() || strKey.isEmpty())
        return QStringLiteral("HTTPS needs both %1 and %2").arg(certificateKey, keyKey);
    if (!QSslSocket::supportsSsl())
        return QStringLiteral("this system offers Qt no TLS backend for HTTPS");
    const QDateTime change = changedAt();
    const QList<QSslCertificate> chain =
        QSslCertificate::fromData(contents(strCertificate), QSsl::Pem);
    if (chain.isEmpty() || chain.first().isNull())
        return QStringLiteral("%1 holds no PEM certificate").arg(strCertificate);
    const QByteArray keyBytes = contents(strKey);
    QSslKey key;
    for (const QSsl::KeyAlgorithm algorithm : {QSsl::Rsa, QSsl::Ec, QSsl::Dsa}) {
        key = QSslKey(keyBytes, algorithm, QSsl::Pem);
        if (!key.isNull())
            break;
    }
    if (key.isNull())
        return QStringLiteral("%1 holds no PEM private key (an encrypted key cannot be read)")
            .arg(strKey);
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setLocalCertificateChain(chain);
    configuration.setPrivateKey(key);
    configuration.setProtocol(QSsl::TlsV1_2OrLater);
    configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
    loaded = configuration;
    loadedChange = change;
    return QString();
}

std::optional<QSslConfiguration> TlsCertificate::configuration() {
    if (!enabled())
        return std::nullopt;
    QMutexLocker lock(&mutex);
    const qint64 now = QDeadlineTimer::current().deadline();
    if (intLookedAt < 0 || now - intLookedAt >= lookGapMs) {
        intLookedAt = now;
        // A renewal that cannot be read changes nothing, and is tried again at the next look.
        if (changedAt() != loadedChange)
            readUnlocked();
    }
    return loaded;
}
