// The one performance-counter object: the English counter-name index, the shared query that
// holds every record's counters, and the sampling thread.
//
// Counter and object names are localised on non-English systems, so a record never passes an
// English name to the counter service: it looks the name's index up here and asks the service
// for the local name of that index.
#pragma once

#include "Counter.h"
#include "platform/Platform.h"

#include <QMap>
#include <QString>
#include <QVector>
#include <functional>
#include <string>

class PerfdataThread;

// Where a device's counters are: the English name of their object and the instance as the
// counter service names it.
struct CounterTarget {
    QString object;
    // Byte for byte: an interface name need not be valid UTF-8.
    std::string instance;
};

class Perfdata {
public:
    // Builds counterIndex, opens the query, publishes the object where perfdata() finds it and
    // only then starts the sampling thread.
    Perfdata();
    Perfdata(const Perfdata &) = delete;
    Perfdata &operator=(const Perfdata &) = delete;

    // English name -> index as decimal text, from the counter-name multi-string (index NUL name
    // NUL ... NUL NUL). The first index of a repeated name wins; an odd last part is ignored.
    static QMap<QString, QString> parseCounterNames(const QString &multiString);

    // The name of englishName in the system's language; empty when unknown.
    QString localName(const QString &computer, const QString &englishName) const;
    static QString localName(const QMap<QString, QString> &index, const QString &computer,
                             const QString &englishName);
    static QString counterPath(const QString &computer, const QString &object,
                               const QString &instance, const QString &counter);
    // The same path with the instance's bytes as they are, which a text round trip could
    // change (an interface name need not be valid UTF-8).
    static std::string counterPath(const QString &computer, const QString &object,
                                   const std::string &instance, const QString &counter);
    // Adds one of the target's counters to the query, named in the system's language through
    // the index; when the index lacks the object's or the counter's name (a system without the
    // English name list), by its English path through the counter service's English add. The
    // path added goes to `added`; null when the add fails.
    static platform::CounterHandle addCounter(platform::QueryHandle query,
                                              const QMap<QString, QString> &index,
                                              const QString &computer, const CounterTarget &target,
                                              const Counter &counter, std::string &added);
    // Adds path to the query; the field stays as it was when the add fails.
    void addCounter(const QString &path, platform::CounterHandle &handle);
    void addCounter(const std::string &path, platform::CounterHandle &handle);
    // 0 when the read fails or the counter has not yet been collected twice.
    static qint64 readCounter(platform::CounterHandle handle, quint32 flags);

    // What every counter-based record does at each visit: while any of its counters has no
    // handle, asks where its counters are now (target) and adds all of them afresh (handles a
    // partly failed set-up left behind are removed first, so the query never keeps counters
    // nobody reads); then reads every counter's value from the last collection.
    void sample(const std::function<CounterTarget()> &target, const QVector<Counter *> &counters);

    static QString computerName();

    // Written by the constructor only, then read by the sampling thread only.
    QMap<QString, QString> counterIndex;
    // Opened once and never closed; the counter service is safe to call from several threads.
    platform::QueryHandle query = nullptr;
    // Made and started by the constructor; never deleted.
    PerfdataThread *thread = nullptr;
};

// The one Perfdata object; made on first use. Safe to call from any thread: the object is
// published before its sampling thread starts, so exactly one object and one thread ever exist.
Perfdata *perfdata();
