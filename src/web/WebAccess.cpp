#include "WebAccess.h"

#include "HttpResponse.h"
#include "MachineSettings.h"

#include <QMutex>
#include <QMutexLocker>

const QString WebAccess::allowedAddressesKey = QStringLiteral("web/allowedAddresses");
const QString WebAccess::usersKey = QStringLiteral("web/users");

namespace {
// Guards loaded: the GUI thread loads at Start, connection threads take it.
QMutex loadedMutex;
std::shared_ptr<WebAccess> loaded;

QByteArray answer(const char *status, const QMap<QString, QString> &headers, const char *body) {
    HttpResponse response;
    response.strStatus = QLatin1String(status);
    response.headers = headers;
    response.headers.insert(QStringLiteral("Content-Type"),
                            QStringLiteral("text/plain; charset=utf-8"));
    response.headers.insert(QStringLiteral("Content-Length"), QString::number(qstrlen(body)));
    response.complete();
    return response.head() + body;
}

// A header by name, in any case (HttpRequest keeps names as received).
QString header(const HttpRequest &request, QLatin1String name) {
    for (auto h = request.headers.constBegin(); h != request.headers.constEnd(); ++h) {
        if (h.key().compare(name, Qt::CaseInsensitive) == 0)
            return h.value();
    }
    return QString();
}
} // namespace

WebAccess::WebAccess(const QStringList &allowedAddresses, const QStringList &users)
    : addresses(allowedAddresses), passwords(users) {}

void WebAccess::load() {
    auto access =
        std::make_shared<WebAccess>(MachineSettings::value(allowedAddressesKey).toStringList(),
                                    MachineSettings::value(usersKey).toStringList());
    QMutexLocker lock(&loadedMutex);
    loaded = std::move(access);
}

std::shared_ptr<WebAccess> WebAccess::current() {
    QMutexLocker lock(&loadedMutex);
    if (!loaded)
        loaded = std::make_shared<WebAccess>(QStringList(), QStringList());
    return loaded;
}

QByteArray WebAccess::refusal(const QString &strPeer, const HttpRequest &request) {
    if (!addresses.allows(strPeer))
        return forbidden();
    if (passwords.required() && !passwords.allows(header(request, QLatin1String("Authorization"))))
        return unauthorized();
    return QByteArray();
}

const QByteArray &WebAccess::forbidden() {
    static const QByteArray whole =
        answer("HTTP/1.0 403 Forbidden\r\n", {},
               "This address may not use this monitor: see web/allowedAddresses.\n");
    return whole;
}

const QByteArray &WebAccess::unauthorized() {
    static const QByteArray whole =
        answer("HTTP/1.0 401 Unauthorized\r\n",
               {{QStringLiteral("WWW-Authenticate"), QStringLiteral("Basic realm=\"Tarnivo\"")}},
               "This monitor asks for the name and password of a user of web/users.\n");
    return whole;
}
