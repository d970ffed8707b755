// One record per physical disk: identification texts and the volumes on it taken at fill time;
// operation and byte rates and the busy share kept current by the sampling thread.
#pragma once

#include "Counter.h"
#include "Perfdata.h"

#include <QString>
#include <QStringList>
#include <vector>

class Storage {
public:
    // Also finds the volumes that lie on disk `drive`.
    Storage(quint32 drive, const QString &model, const QString &serial, const QString &firmware);
    Storage(const Storage &) = delete;
    Storage &operator=(const Storage &) = delete;

    // Adds the five counters while any is missing, then reads them. Caller holds storageMutex.
    void sample();
    // Takes over old's counters and last figures when both are the same disk under the same
    // counter instance. Caller holds storageMutex.
    bool adopt(Storage &old);
    // Stores one sample's values: the four rates as read, the busy share clamped.
    void store(qint64 reads, qint64 writes, qint64 bytesRead, qint64 bytesWrite, qint64 busy);

    // Volume roots as the system lists them, trimmed and in ascending order.
    static QStringList volumeList(const std::vector<std::string> &roots);
    // The counter instance of disk `drive` with these volumes, as the system names it.
    static QString instanceText(quint32 drive, const QStringList &volumes);
    // Where the counters are: the disk's instance of "PhysicalDisk", as the counter service
    // lists it now (a card reader's changes when a card goes in).
    CounterTarget counterTarget() const;
    QVector<Counter *> counters();

    QString strIdent;
    quint32 intDrive = 0;
    QString strModel;
    QString strSerial;
    QString strFirmware;
    QStringList listVolumes;
    Counter counterPacketsRead{"Disk Reads/sec", rateFlags};
    Counter counterPacketsWrite{"Disk Writes/sec", rateFlags};
    Counter counterBytesRead{"Disk Read Bytes/sec", rateFlags};
    Counter counterBytesWrite{"Disk Write Bytes/sec", rateFlags};
    Counter counterUsage{"% Disk Time", percentFlags};
    quint64 intPacketsRead = 0;
    quint64 intPacketsWrite = 0;
    quint64 intBytesRead = 0;
    quint64 intBytesWrite = 0;
    quint64 intUsage = 0;
};

// Appends one record per attached physical disk, in number order, under storageMutex.
void storageTableFill();
// Deletes every record (removing its counters) and empties the table, under storageMutex.
void storageTableClear();
// Puts new records in place of the old ones in one step; a disk still attached keeps its
// counters.
void storageTableRescan();
