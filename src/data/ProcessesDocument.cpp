#include "ProcessesDocument.h"

#include "platform/Platform.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutexLocker>
#include <algorithm>
#include <cmath>
#include <map>
#include <utility>

namespace {
QJsonArray list(QVector<ProcessesDocument::Row> rows,
                bool (*before)(const ProcessesDocument::Row &, const ProcessesDocument::Row &)) {
    const int length = int(std::min<qsizetype>(rows.size(), ProcessesDocument::listLength));
    std::partial_sort(rows.begin(), rows.begin() + length, rows.end(), before);
    QJsonArray out;
    for (int i = 0; i < length; ++i) {
        const ProcessesDocument::Row &row = rows.at(i);
        // Two decimals: finer shares are noise between two readings of ticks.
        out.append(QJsonObject{{QStringLiteral("pid"), qint64(row.intPid)},
                               {QStringLiteral("name"), row.strName},
                               {QStringLiteral("core"), std::round(row.core * 100) / 100},
                               {QStringLiteral("machine"), std::round(row.machine * 100) / 100},
                               {QStringLiteral("resident"), double(row.intResident)}});
    }
    return out;
}
} // namespace

ProcessesDocument &ProcessesDocument::instance() {
    // Never destroyed: a connection thread may still ask while the process exits.
    static ProcessesDocument *const document = [] {
        static QElapsedTimer steady;
        steady.start();
        return new ProcessesDocument([] { return steady.elapsed(); }, platform::processes,
                                     platform::processorCount());
    }();
    return *document;
}

ProcessesDocument::ProcessesDocument(Clock clock, Reader reader, quint32 intCores)
    : clock(std::move(clock)), reader(std::move(reader)), intCores(std::max<quint32>(1, intCores)) {
}

QVector<ProcessesDocument::Row>
ProcessesDocument::shares(const std::vector<platform::ProcessUse> &before,
                          const std::vector<platform::ProcessUse> &now, qint64 elapsedMs,
                          quint32 intCores) {
    // A process is its id and its start time: ids are reused, and a process may rename itself
    // at any time (the kernel's workers do all the time).
    std::map<std::pair<quint32, quint64>, const platform::ProcessUse *> earlier;
    for (const platform::ProcessUse &use : before)
        earlier.emplace(std::make_pair(use.pid, quint64(use.started)), &use);
    QVector<Row> rows;
    rows.reserve(qsizetype(now.size()));
    for (const platform::ProcessUse &use : now) {
        Row row;
        row.intPid = use.pid;
        row.strName = QString::fromStdString(use.name);
        row.intResident = use.residentBytes;
        const auto seen = earlier.find(std::make_pair(use.pid, quint64(use.started)));
        // A process that started since counts from its own start, which lies inside the
        // interval.
        const uint64_t base = seen != earlier.end() ? seen->second->cpuMicroseconds : 0;
        if (elapsedMs > 0 && use.cpuMicroseconds >= base) {
            row.core = double(use.cpuMicroseconds - base) / (double(elapsedMs) * 1000.0) * 100.0;
            row.machine = row.core / intCores;
        }
        rows.append(row);
    }
    return rows;
}

QString ProcessesDocument::document() {
    QMutexLocker lock(&mutex);
    const qint64 now = clock();
    if (intLastAt >= 0 && now - intLastAt < readGapMs && !strCached.isEmpty())
        return strCached;
    std::vector<platform::ProcessUse> current = reader();
    const bool based = intLastAt >= 0 && now - intLastAt <= baseAgeMs;
    const qint64 elapsed = based ? now - intLastAt : 0;
    const QVector<Row> rows =
        shares(based ? last : std::vector<platform::ProcessUse>(), current, elapsed, intCores);
    QJsonObject document;
    document.insert(QStringLiteral("interval"),
                    based ? QJsonValue(elapsed / 1000.0) : QJsonValue(QJsonValue::Null));
    document.insert(QStringLiteral("cores"), qint64(intCores));
    document.insert(QStringLiteral("byProcessor"),
                    based ? list(rows, [](const Row &a, const Row &b) { return a.core > b.core; })
                          : QJsonArray());
    document.insert(QStringLiteral("byMemory"), list(rows, [](const Row &a, const Row &b) {
                        return a.intResident > b.intResident;
                    }));
    last = std::move(current);
    intLastAt = now;
    strCached = QString::fromUtf8(QJsonDocument(document).toJson(QJsonDocument::Compact));
    return strCached;
}
