// Physical memory and page file: two records taken from one memory-status snapshot at fill
// time. The sampling thread does not visit this table.
#pragma once

#include <QString>

class Memory {
public:
    Memory(const QString &name, quint64 total, quint64 free);

    // A memory record carries nothing over from an earlier scan: its figures are the scan's.
    bool adopt(Memory &) { return false; }

    // Used share of total in thousandths of a percent; a zero total reads as full.
    static quint64 usage(quint64 total, quint64 free);

    QString strIdent;
    QString strName;
    quint64 intTotal = 0;
    quint64 intFree = 0;
    quint64 intUsage = 0;
};

// Appends "Physical" and "Pagefile" to memoryTable under memoryMutex.
void memoryTableFill();
// Deletes every record of memoryTable and empties it, under memoryMutex.
void memoryTableClear();
// Puts the two new records in place of the old ones in one step.
void memoryTableRescan();
