#include "PerfdataThread.h"

#include "DeviceTables.h"
#include "History.h"
#include "HistoryFile.h"
#include "Network.h"
#include "Perfdata.h"
#include "Processor.h"
#include "Storage.h"

#include <QDateTime>
#include <QDeadlineTimer>

namespace {
const QString statusNone = QStringLiteral("statusNone");
const QString statusEnabled = QStringLiteral("statusEnabled");
const QString statusDisabled = QStringLiteral("statusDisabled");

// Each table under its own mutex, for the whole walk.
template <typename Record> void sampleTable(DeviceTable<Record> &table) {
    table.visit([](Record &record) { record.sample(); });
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

void PerfdataThread::samplePass() {
    platform::collectQuery(perfdata()->query);
    sampleTable(networkTable);
    sampleTable(processorTable);
    sampleTable(storageTable);
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
        // After the tables took their figures: the history keeps them for pages opened later.
        History::instance().recordTables();
        // Once a minute the history goes to its file, so a crash loses a minute at most.
        HistoryFile::instance().saveIfDue();
        const qint64 t1 = clock();
        QDeadlineTimer deadline(sleepAfterPass(t0, t1));
        QMutexLocker locker(&statusMutex);
        while (strStatus == statusEnabled && !deadline.hasExpired())
            stopCondition.wait(&statusMutex, deadline);
    }
    setStatus(statusDisabled);
}
