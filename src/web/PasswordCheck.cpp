#include "PasswordCheck.h"

#include "platform/Platform.h"

#include <QCryptographicHash>
#include <QMutexLocker>

PasswordCheck::PasswordCheck(const QStringList &users) : boolRequired(!users.isEmpty()) {
    for (const QString &user : users) {
        const qsizetype colon = user.indexOf(QLatin1Char(':'));
        if (colon <= 0)
            continue;
        const std::string hash = user.mid(colon + 1).toStdString();
        if (strDecoy.empty())
            strDecoy = hash;
        hashes.insert(user.left(colon), hash);
    }
}

bool PasswordCheck::allows(const QString &strAuthorization) {
    if (!boolRequired)
        return true;
    const QString trimmed = strAuthorization.trimmed();
    const qsizetype space = trimmed.indexOf(QLatin1Char(' '));
    if (space < 0 || trimmed.left(space).compare(QLatin1String("Basic"), Qt::CaseInsensitive) != 0)
        return false;
    const QByteArray::FromBase64Result decoded = QByteArray::fromBase64Encoding(
        trimmed.mid(space + 1).trimmed().toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return false;
    const QByteArray &credentials = *decoded;
    const qsizetype colon = credentials.indexOf(':');
    if (colon < 0)
        return false;
    const QByteArray digest = QCryptographicHash::hash(credentials, QCryptographicHash::Sha256);
    {
        QMutexLocker lock(&mutex);
        if (accepted.contains(digest))
            return true;
    }
    const QString name = QString::fromUtf8(credentials.left(colon));
    const std::string password = credentials.mid(colon + 1).toStdString();
    const auto user = hashes.constFind(name);
    const bool known = user != hashes.constEnd();
    // crypt reads the password up to its first NUL: one with a NUL is never a match.
    const bool matches = platform::passwordMatches(password, known ? *user : strDecoy) && known &&
                         password.find('\0') == std::string::npos;
    if (matches) {
        QMutexLocker lock(&mutex);
        if (!accepted.contains(digest)) {
            if (acceptedOrder.size() >= intRemembered)
                accepted.remove(acceptedOrder.takeFirst());
            accepted.insert(digest);
            acceptedOrder.append(digest);
        }
    }
    return matches;
}
