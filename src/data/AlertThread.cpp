#include "AlertThread.h"

#include "DeviceTables.h"
#include "DiskHealthDocument.h"
#include "History.h"
#include "Network.h"
#include "Sample.h"
#include "VolumeReaders.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <cmath>
#include <limits>

namespace {
constexpr double unknown = std::numeric_limits<double>::quiet_NaN();
// The history's newest row is used while it is this fresh; older, the figures are unknown.
constexpr qint64 freshMs = 3000;
// A rebuilding table is not waited for: its links are unknown this round.
constexpr int tableWaitMs = 100;
} // namespace

AlertThread::AlertThread(Alerts &judge)
    : QThread(nullptr), alerts(judge), clock([] { return QDateTime::currentMSecsSinceEpoch(); }) {}

void AlertThread::setClock(Clock newClock) {
    clock = std::move(newClock);
}

void AlertThread::setListener(Listener newListener) {
    listener = std::move(newListener);
}

void AlertThread::addSource(Source source) {
    sources.push_back(std::move(source));
}

std::vector<Alerts::Reading> AlertThread::gather(qint64 now) {
    using Kind = Alerts::Kind;
    std::vector<Alerts::Reading> readings;
    std::vector<History::Entry> row;
    const qint64 at = History::instance().newest(row);
    const bool fresh = at >= 0 && now - at <= freshMs;
    readings.reserve(row.size()); // the rows hold a series for every processor and link too
    for (const History::Entry &e : row) {
        const double value = fresh ? double(e.values[0]) : unknown;
        if (e.key.startsWith(QLatin1String("Processor:")))
            readings.push_back(
                {Kind::Processor, QStringLiteral("all"), QStringLiteral("Processor"), value});
        else if (e.key.startsWith(QLatin1String("cpu:")))
            readings.push_back({Kind::Core, e.key.mid(4), e.key, value});
        else if (e.key.startsWith(QLatin1String("Memory:")))
            readings.push_back(
                {Kind::Memory, QStringLiteral("Physical"), QStringLiteral("mem:Physical"), value});
    }
    // Link use over the last pass, from its sample and the link's speed; a link of unknown
    // speed is not judged.
    const std::shared_ptr<const Sample> sample = Sample::current();
    networkTable.tryVisit(tableWaitMs, [&readings, &sample](const Network &n) {
        const Sample::Rates *rates = sample ? sample->adapter(n.intIndex) : nullptr;
        if (n.intSpeed != 0)
            readings.push_back({Kind::Link, n.strName, QLatin1String("net:") + n.strName,
                                rates ? double(Network::usage(rates->intBytesRead,
                                                              rates->intBytesWrite, n.intSpeed)) /
                                            1000.0
                                      : unknown});
    });
    QMutexLocker lock(&slowMutex);
    readings.insert(readings.end(), slow.begin(), slow.end());
    return readings;
}

void AlertThread::refreshSlow() {
    using Kind = Alerts::Kind;
    std::vector<Alerts::Reading> readings;
    for (const platform::VolumeSpace &v : VolumeReaders::instance().read()) {
        const QString path = QString::fromStdString(v.path);
        readings.push_back(
            {Kind::Volume, path, QLatin1String("volume:") + path,
             v.answering && v.size > 0 ? 100.0 * double(v.free) / double(v.size) : unknown});
    }
    for (const auto &[disk, health] : DiskHealthDocument::reading()) {
        if (health.kind == platform::DiskHealth::Kind::None)
            continue;
        const QString device = QString::number(disk);
        const QString key = QLatin1String("drive:") + device;
        readings.push_back({Kind::DiskFailing, device, key, health.failing ? 1.0 : 0.0});
        if (health.reallocated || health.pending)
            readings.push_back(
                {Kind::DiskSectors, device, key,
                 double(health.reallocated.value_or(0) + health.pending.value_or(0))});
    }
    QMutexLocker lock(&slowMutex);
    slow = std::move(readings);
}

void AlertThread::round() {
    const qint64 now = clock();
    std::vector<Alerts::Reading> readings = gather(now);
    for (const Source &source : sources) {
        const std::vector<Alerts::Reading> more = source(now);
        readings.insert(readings.end(), more.begin(), more.end());
    }
    const std::vector<Alerts::Alert> changes = alerts.judge(readings, now);
    if (listener)
        listener(changes, alerts.firing(), now);
}

void AlertThread::requestStop() {
    QMutexLocker lock(&stopMutex);
    stopping = true;
    stopCondition.wakeAll();
}

void AlertThread::run() {
    for (;;) {
        QDeadlineTimer next(slowGapMs);
        refreshSlow();
        QMutexLocker lock(&stopMutex);
        while (!stopping && !next.hasExpired())
            stopCondition.wait(&stopMutex, next);
        if (stopping)
            break;
    }
}
