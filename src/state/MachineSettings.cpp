#include "MachineSettings.h"

#include "StateFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QMutexLocker>
#include <QRegularExpression>
#include <QSettings>
#include <QUrl>
#include <algorithm>

QMutex MachineSettings::mutex;
QVariantMap MachineSettings::values;
QString MachineSettings::loadedPath;
bool MachineSettings::userSettingsIgnored = false;

namespace {

// An INI line with commas reads as a list; one without as a text.
QString asText(const QVariant &value) {
    return value.metaType().id() == QMetaType::QStringList ? value.toStringList().join(',')
                                                           : value.toString();
}

QVariant port(const QVariant &value) {
    bool number = false;
    const uint port = asText(value).trimmed().toUInt(&number, 10);
    return number && port >= 1 && port <= 65535 ? QVariant(port) : QVariant();
}

// Names or addresses: a list, or one text with them separated by commas or blanks.
QVariant names(const QVariant &value) {
    const QStringList parts =
        value.metaType().id() == QMetaType::QStringList
            ? value.toStringList()
            : value.toString().split(QRegularExpression(QStringLiteral("[,\\s]+")));
    QStringList listed;
    for (const QString &part : parts) {
        const QString name = part.trimmed();
        if (!name.isEmpty())
            listed.append(name);
    }
    return listed;
}

// Addresses and CIDR ranges, IPv4 or IPv6 ("192.0.2.7", "192.0.2.0/24", "fd00::/8"), each
// written in its canonical form.
QVariant addresses(const QVariant &value) {
    QStringList ranges;
    for (const QString &entry : names(value).toStringList()) {
        const QPair<QHostAddress, int> range =
            entry.contains(QLatin1Char('/')) ? QHostAddress::parseSubnet(entry)
                                             : QPair<QHostAddress, int>(QHostAddress(entry), -1);
        if (range.first.isNull() || range.first.scopeId() != QString())
            return {};
        ranges << (range.second < 0
                       ? range.first.toString()
                       : range.first.toString() + QLatin1Char('/') + QString::number(range.second));
    }
    return ranges;
}

// "name:hash" entries with bcrypt hashes, as "htpasswd -nB" writes them ("$2y$05$" and 53
// characters); or "!" alone, the list that lets nobody in.
QVariant users(const QVariant &value) {
    static const QRegularExpression entry(
        QStringLiteral("^[^:\\s]+:\\$2[aby]\\$[0-3][0-9]\\$[./A-Za-z0-9]{53}$"));
    const QStringList listed = names(value).toStringList();
    if (listed == QStringList{QStringLiteral("!")})
        return listed;
    for (const QString &user : listed) {
        if (!entry.match(user).hasMatch())
            return {};
    }
    return listed;
}

QVariant text(const QVariant &value) {
    return asText(value).trimmed();
}

// The firewall's remote addresses: its keywords ("LocalSubnet", "*"), addresses and ranges,
// as one text separated by commas; never empty.
QVariant scope(const QVariant &value) {
    const QStringList listed = names(value).toStringList();
    return listed.isEmpty() ? QVariant() : QVariant(listed.join(QLatin1Char(',')));
}

QVariant onOff(const QVariant &value) {
    const QString word = asText(value).trimmed().toLower();
    if (word == QLatin1String("true") || word == QLatin1String("1") || word == QLatin1String("yes"))
        return true;
    if (word.isEmpty() || word == QLatin1String("false") || word == QLatin1String("0") ||
        word == QLatin1String("no"))
        return false;
    return {};
}

// A whole number within [low, high].
template <uint low, uint high> QVariant whole(const QVariant &value) {
    bool number = false;
    const uint n = asText(value).trimmed().toUInt(&number, 10);
    return number && n >= low && n <= high ? QVariant(n) : QVariant();
}

// A share in percent, above 0 and at most 100; decimals allowed.
QVariant share(const QVariant &value) {
    bool number = false;
    const double n = asText(value).trimmed().toDouble(&number);
    return number && n > 0 && n <= 100 ? QVariant(n) : QVariant();
}

// An http or https address with a host ("" for none).
QVariant webAddress(const QVariant &value) {
    const QString written = asText(value).trimmed();
    if (written.isEmpty())
        return written;
    const QUrl url(written, QUrl::StrictMode);
    const bool web =
        url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https");
    return url.isValid() && web && !url.host().isEmpty() ? QVariant(written) : QVariant();
}

const std::vector<MachineSettings::Key> allKeys = {
    {"web/port", port, "", "a port from 1 to 65535"},
    {"web/allowedHosts", names, "", "a list of host names"},
    {"web/allowedAddresses", addresses, "",
     "a list of addresses and CIDR ranges (only this machine may look until it is corrected)",
     "127.0.0.1"},
    {"web/users", users, "",
     "a list of name:hash entries with bcrypt hashes as htpasswd -nB writes them (nobody is let "
     "in until it is corrected)",
     "!"},
    {"web/certificate", text, "", "the path of a PEM certificate file"},
    {"web/key", text, "", "the path of a PEM key file"},
    {"fleet/user", text, "", "a user name"},
    {"fleet/password", text, "", "a password"},
    {"fleet/https", onOff, "false", "true or false"},
    {"fleet/caFile", text, "", "the path of a PEM file of certificates"},
    {"alerts/processorPercent", share, "90", "a percentage above 0, at most 100"},
    {"alerts/processorSeconds", whole<1, 3600>, "60", "a number of seconds from 1 to 3600"},
    {"alerts/memoryPercent", share, "90", "a percentage above 0, at most 100"},
    {"alerts/linkPercent", share, "80", "a percentage above 0, at most 100"},
    {"alerts/volumeWarningPercent", share, "10", "a percentage above 0, at most 100"},
    {"alerts/volumeCriticalPercent", share, "5", "a percentage above 0, at most 100"},
    {"alerts/webhook", webAddress, "", "an http or https address"},
    {"alerts/alertmanager", webAddress, "", "an http or https address"},
    {"alerts/ntfy", webAddress, "", "an http or https address"},
    {"alerts/watchFleet", onOff, "false", "true or false"},
    {"alerts/silentMinutes", whole<1, 1440>, "5", "a number of minutes from 1 to 1440"},
    {"service/firewallRemote", scope, "LocalSubnet",
     "the remote addresses of the service's firewall rules: LocalSubnet, *, or addresses and "
     "ranges"},
};

} // namespace

const std::vector<MachineSettings::Key> &MachineSettings::keys() {
    return allKeys;
}

const MachineSettings::Key *MachineSettings::find(const QString &name) {
    const auto key = std::find_if(allKeys.begin(), allKeys.end(),
                                  [&name](const Key &k) { return name == QLatin1String(k.name); });
    return key == allKeys.end() ? nullptr : &*key;
}

QString MachineSettings::defaultPath() {
#ifdef Q_OS_WIN
    return StateFolder::defaultPath() + QStringLiteral("/tarnivo.ini");
#else
    return QStringLiteral("/etc/tarnivo/tarnivo.ini");
#endif
}

QStringList MachineSettings::load(const QString &path, bool named) {
    QStringList messages;
    QVariantMap accepted;
    const QString shown = QDir::toNativeSeparators(path);
    const QFileInfo file(path);
    if (!file.exists()) {
        if (named)
            messages << QStringLiteral("%1: no such file").arg(shown);
    } else if (!file.isReadable()) {
        messages << QStringLiteral("%1: not readable; every setting keeps its default").arg(shown);
    } else {
        QSettings ini(path, QSettings::IniFormat);
        if (ini.status() != QSettings::NoError)
            messages << QStringLiteral("%1: not an INI file; every setting keeps its default")
                            .arg(shown);
        else
            for (const QString &name : ini.allKeys()) {
                const Key *key = find(name);
                const QVariant read = ini.value(name);
                if (!key) {
                    messages << QStringLiteral("%1: unknown key %2, ignored").arg(shown, name);
                    continue;
                }
                const QVariant checked = key->check(read);
                if (!checked.isValid() && key->refused) {
                    messages << QStringLiteral("%1: %2 = \"%3\" is not %4")
                                    .arg(shown, name, asText(read), QLatin1String(key->what));
                    accepted.insert(name, key->check(QString::fromLatin1(key->refused)));
                    continue;
                }
                if (!checked.isValid()) {
                    messages << QStringLiteral("%1: %2 = \"%3\" is not %4; the default is kept")
                                    .arg(shown, name, asText(read), QLatin1String(key->what));
                    continue;
                }
                accepted.insert(name, checked);
            }
    }
    QMutexLocker lock(&mutex);
    values = accepted;
    loadedPath = path;
    return messages;
}

QVariant MachineSettings::value(const QString &name) {
    const Key *key = find(name);
    if (!key)
        return {};
    {
        QMutexLocker lock(&mutex);
        const auto set = values.constFind(name);
        if (set != values.constEnd())
            return *set;
        if (userSettingsIgnored)
            return key->check(QString::fromLatin1(key->fallback));
    }
    // The user's own settings, checked as the file's are; a bad one is silently the default
    // (or what a refused value gives).
    const QVariant own =
        QSettings(QStringLiteral("Tarnivo"), QStringLiteral("Tarnivo")).value(name);
    const QVariant checked = own.isValid() ? key->check(own) : QVariant();
    if (checked.isValid())
        return checked;
    return key->check(
        QString::fromLatin1(own.isValid() && key->refused ? key->refused : key->fallback));
}

QString MachineSettings::path() {
    QMutexLocker lock(&mutex);
    return loadedPath;
}

void MachineSettings::ignoreUserSettings() {
    QMutexLocker lock(&mutex);
    userSettingsIgnored = true;
}

QString MachineSettings::adopt(const QString &prepared, const QString &path, bool &copied) {
    copied = false;
    if (QFileInfo::exists(path))
        return {};
    if (!QFileInfo(prepared).isFile())
        return QStringLiteral("%1: no such file").arg(QDir::toNativeSeparators(prepared));
    if (!QDir().mkpath(QFileInfo(path).absolutePath()) || !QFile::copy(prepared, path))
        return QStringLiteral("%1 cannot be copied to %2")
            .arg(QDir::toNativeSeparators(prepared), QDir::toNativeSeparators(path));
    copied = true;
    return {};
}

QString MachineSettings::store(const QString &path, const QString &key, const QVariant &value) {
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return QStringLiteral("%1: its folder cannot be made").arg(QDir::toNativeSeparators(path));
    QSettings ini(path, QSettings::IniFormat);
    ini.setValue(key, value);
    ini.sync();
    if (ini.status() != QSettings::NoError)
        return QStringLiteral("%1 cannot be written").arg(QDir::toNativeSeparators(path));
    return {};
}
