#include "PerfdataThread.h"

#include "DeviceTables.h"
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

// The length is read again after every record, as a reader of a table must.
template <typename Record> void visitTable(QVector<Record *> &table, QMutex &mutex) {
    QMutexLocker locker(&mutex);
    for (qsizetype i = 0; i < table.size(); ++i)
        table.at(i)->sample();
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
    visitTable(networkTable, networkMutex);
    visitTable(processorTable, processorMutex);
    visitTable(storageTable, storageMutex);
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
        const qint64 t1 = clock();
        QDeadlineTimer deadline(sleepAfterPass(t0, t1));
        QMutexLocker locker(&statusMutex);
        while (strStatus == statusEnabled && !deadline.hasExpired())
            stopCondition.wait(&statusMutex, deadline);
    }
    setStatus(statusDisabled);
}
