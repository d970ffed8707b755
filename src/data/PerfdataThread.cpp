#include "PerfdataThread.h"

#include "DeviceTables.h"
#include "History.h"
#include "HistoryFile.h"
#include "Network.h"
#include "Perfdata.h"
#include "Processor.h"
#include "Sample.h"
#include "Storage.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <atomic>
#include <chrono>

namespace {
const QString statusNone = QStringLiteral("statusNone");
const QString statusEnabled = QStringLiteral("statusEnabled");
const QString statusDisabled = QStringLiteral("statusDisabled");

// What a pass keeps for the next: the sample it published last (the previous totals of the
// next rates) and one to fill again when no reader holds it any more. Touched only by the pass
// running; passes never overlap (the sampling thread, or a test that stopped it).
struct Passes {
    std::shared_ptr<Sample> previous;
    std::shared_ptr<Sample> spare;
    PerfdataThread::SteadyClock steadyClock;
};

Passes &passes() {
    // Never destroyed: the sampling thread may still run a pass while the process exits.
    static Passes *const kept =
        new Passes{nullptr, nullptr, [] {
                       return qint64(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                         std::chrono::steady_clock::now().time_since_epoch())
                                         .count());
                   }};
    return *kept;
}

// -1: as the system layer says; 0 or 1: set by a test.
std::atomic<int> countersChosen{-1};

// What runs after each pass: set by start-up, copied by the thread, both under the mutex.
// Never destroyed: the sampling thread may still run at exit.
struct AfterPass {
    QMutex mutex;
    std::function<void()> work;
};
AfterPass *const afterPass = new AfterPass;

bool ratesFromCounters() {
    const int chosen = countersChosen.load();
    return chosen < 0 ? platform::countersGiveRates() : chosen == 1;
}

Sample::Rates rates(const Network &r) {
    return {r.intPacketsRead, r.intPacketsWrite, r.intBytesRead, r.intBytesWrite, r.intUsage};
}
Sample::Rates rates(const Storage &r) {
    return {r.intPacketsRead, r.intPacketsWrite, r.intBytesRead, r.intBytesWrite, r.intUsage};
}
Sample::Rates rates(const Processor &r) {
    return {0, 0, 0, 0, r.intUsage};
}

// Each table under its own mutex, for the whole walk: every record reads its counters from the
// collection just taken, and its figures go into the sample under its device's key.
template <typename Record, typename Key>
void sampleTable(DeviceTable<Record> &table, std::vector<Sample::DeviceRates> &rows, Key key) {
    rows.clear();
    table.visit([&rows, &key](Record &record) {
        record.sample();
        rows.push_back({key(record), rates(record)});
    });
}
} // namespace

PerfdataThread::PerfdataThread()
    : QThread(nullptr), clock([] { return QDateTime::currentMSecsSinceEpoch(); }),
      strStatus(statusNone) {}

PerfdataThread::~PerfdataThread() = default;

QString PerfdataThread::status() const {
    QMutexLocker locker(&statusMutex);
    return strStatus;
}

void PerfdataThread::setStatus(const QString &word) {
    QMutexLocker locker(&statusMutex);
    strStatus = word;
}

void PerfdataThread::requestStop() {
    QMutexLocker locker(&statusMutex);
    strStatus = statusDisabled;
    stopCondition.wakeAll();
}

void PerfdataThread::setClock(Clock newClock) {
    clock = std::move(newClock);
}

void PerfdataThread::setRatesFromCounters(bool counters) {
    countersChosen.store(counters ? 1 : 0);
}

void PerfdataThread::setSteadyClock(SteadyClock clock) {
    passes().steadyClock = std::move(clock);
}

void PerfdataThread::samplePass() {
    Passes &kept = passes();
    std::shared_ptr<Sample> next = std::move(kept.spare);
    // A reader may still hold the older sample; then it stays theirs and this pass takes a new
    // one. Nobody else can take a new hold on it: it is no longer published.
    if (!next || next.use_count() != 1)
        next = std::make_shared<Sample>();
    const bool counters = ratesFromCounters();
    if (counters) {
        platform::collectQuery(perfdata()->query);
        sampleTable(networkTable, next->adapters, [](const Network &r) { return r.intIndex; });
        sampleTable(processorTable, next->processors, [](const Processor &r) { return r.intCore; });
        sampleTable(storageTable, next->disks, [](const Storage &r) { return r.intDrive; });
    }
    next->intTime = QDateTime::currentMSecsSinceEpoch();
    next->intSteadyNs = kept.steadyClock();
    platform::readTotals(next->totals, next->memory);
    static const Sample none;
    if (!counters)
        next->ratesSince(kept.previous ? *kept.previous : none);
    next->sumUp();
    Sample::publish(next);
    kept.spare = std::move(kept.previous);
    kept.previous = std::move(next);
}

void PerfdataThread::setAfterPass(std::function<void()> work) {
    QMutexLocker lock(&afterPass->mutex);
    afterPass->work = std::move(work);
}

qint64 PerfdataThread::sleepAfterPass(qint64 t0, qint64 t1) {
    const qint64 elapsed = t1 - t0;
    if (elapsed >= 0 && elapsed <= 1000)
        return 1000 - elapsed;
    return 1000;
}

void PerfdataThread::run() {
    {
        QMutexLocker locker(&statusMutex);
        // A stop asked for before the thread got going is kept, not overwritten.
        if (strStatus == statusNone)
            strStatus = statusEnabled;
    }
    for (;;) {
        if (status() != statusEnabled)
            break;
        const qint64 t0 = clock();
        samplePass();
        // After the pass published its figures: the history keeps them for pages opened later.
        History::instance().recordTables();
        // Once a minute the history goes to its file, so a crash loses a minute at most.
        HistoryFile::instance().saveIfDue();
        std::function<void()> work;
        {
            QMutexLocker lock(&afterPass->mutex);
            work = afterPass->work;
        }
        if (work)
            work();
        const qint64 t1 = clock();
        QDeadlineTimer deadline(sleepAfterPass(t0, t1));
        QMutexLocker locker(&statusMutex);
        while (strStatus == statusEnabled && !deadline.hasExpired())
            stopCondition.wait(&statusMutex, deadline);
    }
    setStatus(statusDisabled);
}
