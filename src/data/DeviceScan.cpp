#include "DeviceScan.h"

#include "Memory.h"
#include "Network.h"
#include "Processor.h"
#include "Storage.h"

#include <QElapsedTimer>

DeviceScan::DeviceScan() {
    QElapsedTimer started;
    started.start();
    clock = [started] { return started.elapsed(); };
}

DeviceScan &DeviceScan::instance() {
    // Never destroyed: a connection thread may still ask for a rescan while the process exits.
    static DeviceScan *const scan = new DeviceScan;
    return *scan;
}

void DeviceScan::setClock(Clock newClock) {
    QMutexLocker locker(&mutex);
    clock = std::move(newClock);
}

bool DeviceScan::request() {
    QMutexLocker locker(&mutex);
    if (running) {
        while (running)
            finished.wait(&mutex);
        return false;
    }
    if (scanned && clock() - lastEnd < minimumGapMs)
        return false;
    scan(locker);
    scanned = true;
    lastEnd = clock();
    return true;
}

void DeviceScan::takeStock() {
    QMutexLocker locker(&mutex);
    while (running)
        finished.wait(&mutex);
    scan(locker);
}

void DeviceScan::scan(QMutexLocker<QMutex> &locker) {
    running = true;
    locker.unlock();
    // One table at a time, each under its own mutex only.
    memoryTableRescan();
    networkTableRescan();
    processorTableRescan();
    storageTableRescan();
    locker.relock();
    running = false;
    finished.wakeAll();
}
