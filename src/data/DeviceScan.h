// The rescan of the four device tables that "requestInit" asks for. A rescan is costly (every
// disk and volume is opened) and a browser sends the word from any page that names it, so:
// one rescan runs at a time, and a request that arrives meanwhile waits for it and takes its
// result; after a rescan, none starts for minimumGapMs, and a request inside that gap takes the
// tables of the last one. Each table is replaced in one step, and devices still present keep
// their counters, so that their rates go on through a rescan.
#pragma once

#include <QMutex>
#include <QWaitCondition>
#include <functional>

class DeviceScan {
public:
    using Clock = std::function<qint64()>; // milliseconds of a steady clock
    static constexpr qint64 minimumGapMs = 2000;

    // The one rescan of the process.
    static DeviceScan &instance();

    // Rescans unless a rescan ended less than minimumGapMs ago; waits for a rescan that is
    // running instead of starting another. True when this call rescanned.
    bool request();
    // The scan at start, before anyone asks: waits for a rescan that is running, and leaves no
    // gap after it, so that the first page's "requestInit" still scans afresh.
    void takeStock();

    // A steady clock by default; tests set their own.
    void setClock(Clock clock);

private:
    DeviceScan();
    // Runs the rescan with `locker` held on entry and on return; released meanwhile.
    void scan(QMutexLocker<QMutex> &locker);

    // Guards running, scanned, lastEnd and clock. Never held while a table's mutex is taken.
    QMutex mutex;
    QWaitCondition finished; // signalled with mutex held when a rescan ends
    bool running = false;
    bool scanned = false;
    qint64 lastEnd = 0;
    Clock clock;
};
