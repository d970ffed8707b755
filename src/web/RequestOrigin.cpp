#include "RequestOrigin.h"

#include "Log.h"
#include "MachineSettings.h"

#include <QDir>
#include <QHostAddress>
#include <QHostInfo>
#include <QMutex>
#include <QMutexLocker>
#include <QSet>

const QString RequestOrigin::allowedHostsKey = QStringLiteral("web/allowedHosts");

namespace {

// Guards loadedNames and namesLoaded: written when a listener starts (GUI thread), read by
// every connection thread.
QMutex namesMutex;
QStringList loadedNames;
bool namesLoaded = false;

// Guards refusedNames: every connection thread may add one.
QMutex refusedMutex;
QSet<QString> refusedNames;

// Every value of a header, its name compared without case: the browser writes these names, and
// a client that spells one differently must not slip past the check.
QStringList headerValues(const HttpRequest &request, QLatin1String name) {
    QStringList values;
    for (auto header = request.headers.constBegin(); header != request.headers.constEnd();
         ++header) {
        if (header.key().compare(name, Qt::CaseInsensitive) == 0)
            values << header.value().trimmed();
    }
    return values;
}

// "name:port", "[v6]:port" or a bare name as the name alone, lower case, without a final dot;
// empty when the text is no host at all.
QString hostName(QString host) {
    host = host.trimmed().toLower();
    if (host.startsWith(QLatin1Char('['))) {
        const qsizetype close = host.indexOf(QLatin1Char(']'));
        if (close < 0)
            return {};
        return host.mid(1, close - 1);
    }
    const qsizetype colon = host.lastIndexOf(QLatin1Char(':'));
    if (colon >= 0 && host.indexOf(QLatin1Char(':')) == colon)
        host.truncate(colon);
    if (host.endsWith(QLatin1Char('.')))
        host.chop(1);
    return host;
}

// A "Host" value or the host and port of an "Origin", in one form: lower case, without the
// default port of plain HTTP.
QString authority(QString text) {
    text = text.trimmed().toLower();
    if (text.endsWith(QLatin1String(":80")))
        text.chop(3);
    return text;
}

} // namespace

void RequestOrigin::loadNames() {
    QStringList names;
    const QString host = QHostInfo::localHostName().toLower();
    const QString shortName = host.section(QLatin1Char('.'), 0, 0);
    const QString domain = QHostInfo::localDomainName().toLower();
    names << host << shortName;
    if (!domain.isEmpty())
        names << shortName + QLatin1Char('.') + domain;
    // The machine-wide file, else the user's own settings.
    const QStringList listed = MachineSettings::value(allowedHostsKey).toStringList();
    for (const QString &name : listed)
        names << hostName(name);
    names.removeAll(QString());
    names.removeDuplicates();
    QMutexLocker lock(&namesMutex);
    loadedNames = names;
    namesLoaded = true;
}

QStringList RequestOrigin::names() {
    QMutexLocker lock(&namesMutex);
    if (!namesLoaded) {
        lock.unlock();
        loadNames();
        lock.relock();
    }
    return loadedNames;
}

bool RequestOrigin::hostAllowed(const QString &host, const QStringList &names) {
    const QString name = hostName(host);
    if (name.isEmpty())
        return false;
    if (name == QLatin1String("localhost") || names.contains(name))
        return true;
    // An address names this machine by itself: no name in DNS can be pointed elsewhere.
    return !QHostAddress(name).isNull();
}

bool RequestOrigin::hostAllowed(const HttpRequest &request, QString *refused) {
    const QStringList hosts = headerValues(request, QLatin1String("Host"));
    if (hosts.isEmpty())
        return true;
    const QStringList known = names();
    for (const QString &host : hosts) {
        if (!hostAllowed(host, known)) {
            if (refused)
                *refused = hostName(host);
            return false;
        }
    }
    return true;
}

QString RequestOrigin::shownName(const QString &name) {
    QString shown = name.left(100);
    for (QChar &c : shown) {
        if (c.unicode() < 0x21 || c.unicode() > 0x7e)
            c = QLatin1Char('?');
    }
    return shown;
}

void RequestOrigin::logRefused(const QString &name) {
    {
        QMutexLocker lock(&refusedMutex);
        if (refusedNames.size() > refusalsLogged || refusedNames.contains(name))
            return;
        refusedNames.insert(name);
        if (refusedNames.size() > refusalsLogged) {
            lock.unlock();
            Log::say(QStringLiteral("more requests name hosts this server does not answer to; "
                                    "no further names are logged"));
            return;
        }
    }
    Log::say(QStringLiteral("a request named the host \"%1\", which this server does not answer "
                            "to; to open it by that name, add the name to %2 in %3 and restart")
                 .arg(shownName(name), allowedHostsKey, settingsFile()));
}

QString RequestOrigin::settingsFile() {
    const QString loaded = MachineSettings::path();
    return QDir::toNativeSeparators(loaded.isEmpty() ? MachineSettings::defaultPath() : loaded);
}

bool RequestOrigin::crossSite(const HttpRequest &request) {
    for (const QString &site : headerValues(request, QLatin1String("Sec-Fetch-Site"))) {
        if (site.compare(QLatin1String("cross-site"), Qt::CaseInsensitive) == 0)
            return true;
    }
    const QStringList origins = headerValues(request, QLatin1String("Origin"));
    if (origins.isEmpty())
        return false;
    // This server speaks plain HTTP only: its own pages have an origin "http://" followed by
    // the host the browser asked for. "null" (a sandboxed page, a file) is never its own.
    const QStringList hosts = headerValues(request, QLatin1String("Host"));
    const QString own = hosts.isEmpty() ? QString() : authority(hosts.last());
    for (const QString &origin : origins) {
        const QString text = authority(origin);
        if (own.isEmpty() || !text.startsWith(QLatin1String("http://")) || text.mid(7) != own)
            return true;
    }
    return false;
}

QString RequestOrigin::withoutRescan(const QString &path) {
    static const QString key = QStringLiteral("strRequest=");
    const qsizetype start = path.indexOf(key);
    if (start < 0)
        return path;
    const qsizetype valueStart = start + key.size();
    qsizetype valueEnd = path.indexOf(QLatin1Char('&'), valueStart);
    if (valueEnd < 0)
        valueEnd = path.size();
    QStringList words = path.mid(valueStart, valueEnd - valueStart).split(QLatin1Char(':'));
    if (!words.contains(QLatin1String("requestInit")))
        return path;
    // Compared word for word: a regular expression here gave every connection thread that met
    // one the expression engine's per-thread stack, torn down through the C++ runtime's
    // thread-exit list (under Wine the program's end then hung now and then).
    for (QString &word : words)
        if (word == QLatin1String("requestInit"))
            word = QStringLiteral("requestRead");
    return path.left(valueStart) + words.join(QLatin1Char(':')) + path.mid(valueEnd);
}
