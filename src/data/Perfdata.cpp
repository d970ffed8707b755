#include "Perfdata.h"

#include "PerfdataThread.h"

#include <QMutex>
#include <QStringList>
#include <atomic>

namespace {
// Set once by the constructor, before the sampling thread starts; never cleared. Readers that
// find it empty take creationMutex, so two first callers cannot make two objects.
std::atomic<Perfdata *> publishedPerfdata{nullptr};
QMutex creationMutex;
} // namespace

Perfdata::Perfdata() {
    counterIndex = parseCounterNames(QString::fromUtf8(platform::counterNameList()));
    query = platform::openQuery();
    thread = new PerfdataThread();
    publishedPerfdata.store(this, std::memory_order_release);
    thread->start(QThread::InheritPriority);
}

Perfdata *perfdata() {
    Perfdata *object = publishedPerfdata.load(std::memory_order_acquire);
    if (object)
        return object;
    QMutexLocker locker(&creationMutex);
    object = publishedPerfdata.load(std::memory_order_acquire);
    if (!object)
        object = new Perfdata();
    return object;
}

QMap<QString, QString> Perfdata::parseCounterNames(const QString &multiString) {
    QMap<QString, QString> index;
    const QStringList parts = multiString.split(QChar(0), Qt::KeepEmptyParts);
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString &name = parts.at(i + 1);
        if (!index.contains(name))
            index.insert(name, parts.at(i));
    }
    return index;
}

QString Perfdata::localName(const QString &computer, const QString &englishName) const {
    return localName(counterIndex, computer, englishName);
}

QString Perfdata::localName(const QMap<QString, QString> &index, const QString &computer,
                            const QString &englishName) {
    bool ok = false;
    const uint number = index.value(englishName).toUInt(&ok, 10);
    return QString::fromStdString(
        platform::lookupPerfNameByIndex(computer.toStdString(), ok ? number : 0));
}

QString Perfdata::counterPath(const QString &computer, const QString &object,
                              const QString &instance, const QString &counter) {
    return QStringLiteral("\\\\") + computer + QLatin1Char('\\') + object + QLatin1Char('(') +
           instance + QStringLiteral(")\\") + counter;
}

std::string Perfdata::counterPath(const QString &computer, const QString &object,
                                  const std::string &instance, const QString &counter) {
    std::string path = counterPath(computer, object, QString(), counter).toStdString();
    path.insert(path.rfind(")\\"), instance);
    return path;
}

platform::CounterHandle Perfdata::addCounter(platform::QueryHandle query,
                                             const QMap<QString, QString> &index,
                                             const QString &computer, const CounterTarget &target,
                                             const Counter &counter, std::string &added) {
    const QString english = QLatin1String(counter.englishName);
    const QString object = localName(index, computer, target.object);
    const QString name = localName(index, computer, english);
    if (!object.isEmpty() && !name.isEmpty()) {
        added = counterPath(computer, object, target.instance, name);
        return platform::addCounter(query, added);
    }
    // This computer left out, as Wine's counter service knows its English paths.
    const std::string full = counterPath(computer, target.object, target.instance, english);
    added = full.substr(full.find('\\', 2));
    return platform::addEnglishCounter(query, added);
}

void Perfdata::addCounter(const QString &path, platform::CounterHandle &handle) {
    addCounter(path.toStdString(), handle);
}

void Perfdata::addCounter(const std::string &path, platform::CounterHandle &handle) {
    platform::CounterHandle added = platform::addCounter(query, path);
    if (added)
        handle = added;
}

qint64 Perfdata::readCounter(platform::CounterHandle handle, quint32 flags) {
    if (!handle)
        return 0;
    return platform::formattedCounterValue(handle, flags);
}

void Perfdata::sample(const std::function<CounterTarget()> &target,
                      const QVector<Counter *> &counters) {
    bool complete = true;
    for (const Counter *counter : counters)
        complete = complete && counter->handle;
    if (!complete) {
        // Asked afresh at every set-up: the computer's name and the device's instance may
        // change while the program runs.
        const CounterTarget where = target();
        const QString computer = computerName();
        std::string path;
        for (Counter *counter : counters) {
            counter->remove();
            counter->handle = addCounter(query, counterIndex, computer, where, *counter, path);
        }
    }
    for (Counter *counter : counters)
        counter->value = readCounter(counter->handle, counter->flags);
}

QString Perfdata::computerName() {
    return QString::fromStdString(platform::computerName());
}
