// One device table: the records of one kind of device, in the order their fill appended them,
// and the mutex that guards them. The table owns its records: a fill or a replace adds them,
// clear or a replace deletes them, nothing else does.
//
// Every operation holds the table's mutex for its whole run. A thread holds at most one table
// mutex at a time, so there is no lock order; debug builds stop at once when a thread takes a
// second table mutex, or appends outside a fill.
#pragma once

#include <QMutex>
#include <QVector>

class DeviceTableLock {
public:
    // Waits for the mutex; with waitMs >= 0, gives up after that many milliseconds.
    explicit DeviceTableLock(QMutex &mutex, int waitMs = -1);
    ~DeviceTableLock();
    DeviceTableLock(const DeviceTableLock &) = delete;
    DeviceTableLock &operator=(const DeviceTableLock &) = delete;

    bool held() const { return locked; }
    // True when the calling thread holds this mutex through a DeviceTableLock.
    static bool holds(const QMutex &mutex);

private:
    QMutex &mutex;
    bool locked = false;
};

template <typename Record> class DeviceTable {
public:
    DeviceTable() = default;
    DeviceTable(const DeviceTable &) = delete;
    DeviceTable &operator=(const DeviceTable &) = delete;

    // The table's mutex; take it through the operations below, which keep the one-mutex rule.
    QMutex &mutex() { return tableMutex; }

    // Runs make() with the mutex held; make() appends the records it constructs.
    template <typename Make> void fill(Make make) {
        DeviceTableLock lock(tableMutex);
        make();
    }
    // Only inside fill().
    void append(Record *record) {
        Q_ASSERT(DeviceTableLock::holds(tableMutex));
        records.append(record);
    }

    // Deletes every record in table order (a record releases its counters as it goes), then
    // leaves the table empty.
    void clear() {
        DeviceTableLock lock(tableMutex);
        for (qsizetype i = 0; i < records.size(); ++i)
            delete records.at(i);
        records = QVector<Record *>();
    }

    // Puts fresh records (made by the caller without the mutex) in place of the present ones in
    // one step: a reader sees the old records or the new, never an empty or a doubled table.
    // Each fresh record may adopt() one old record of the same device, taking over its counters
    // and its place: devices still present keep their order, and devices that came follow them
    // in the order given. Then the old records are deleted.
    void replace(const QVector<Record *> &fresh) {
        QVector<Record *> old;
        {
            DeviceTableLock lock(tableMutex);
            old = records;
            QVector<Record *> placed(old.size(), nullptr);
            QVector<Record *> came;
            for (Record *record : fresh) {
                qsizetype i = 0;
                while (i < old.size() && (placed.at(i) || !record->adopt(*old.at(i))))
                    ++i;
                if (i < old.size())
                    placed[i] = record;
                else
                    came.append(record);
            }
            placed.removeAll(nullptr);
            records = placed + came;
        }
        // No other thread can reach the old records any more.
        for (Record *record : old)
            delete record;
    }

    // Calls visit(record) for each record in table order with the mutex held. The length is read
    // again after every record; no record may be kept after the visit.
    template <typename Visit> void visit(Visit visit) {
        DeviceTableLock lock(tableMutex);
        walk(visit);
    }
    // The same, unless the mutex is not free within waitMs; then false and nothing is visited.
    template <typename Visit> bool tryVisit(int waitMs, Visit visit) {
        DeviceTableLock lock(tableMutex, waitMs);
        if (lock.held())
            walk(visit);
        return lock.held();
    }

private:
    template <typename Visit> void walk(Visit &visit) {
        for (qsizetype i = 0; i < records.size(); ++i)
            visit(*records.at(i));
    }

    QMutex tableMutex;
    QVector<Record *> records; // guarded by tableMutex
};
