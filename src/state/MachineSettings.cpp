#include "MachineSettings.h"

#include "StateFolder.h"

#include <QDir>
#include <QFileInfo>
#include <QMutexLocker>
#include <QRegularExpression>
#include <QSettings>
#include <algorithm>

QMutex MachineSettings::mutex;
QVariantMap MachineSettings::values;
QString MachineSettings::loadedPath;

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

const std::vector<MachineSettings::Key> allKeys = {
    {"web/port", port, "", "a port from 1 to 65535"},
    {"web/allowedHosts", names, "", "a list of host names"},
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
    }
    // The user's own settings, checked as the file's are; a bad one is silently the default.
    const QVariant own =
        QSettings(QStringLiteral("Tarnivo"), QStringLiteral("Tarnivo")).value(name);
    const QVariant checked = own.isValid() ? key->check(own) : QVariant();
    return checked.isValid() ? checked : key->check(QString::fromLatin1(key->fallback));
}

QString MachineSettings::path() {
    QMutexLocker lock(&mutex);
    return loadedPath;
}
