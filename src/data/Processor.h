// One record per logical processor: its name and identification text taken at fill time, its
// usage kept current by the sampling thread from "% Processor Time".
#pragma once

#include "Counter.h"
#include "Perfdata.h"

#include <QString>

class Processor {
public:
    Processor(quint32 core, const QString &name, const QString &family);
    Processor(const Processor &) = delete;
    Processor &operator=(const Processor &) = delete;

    // Adds the counter while it is missing, then reads it. Caller holds processorMutex.
    void sample();
    // Takes over old's counter and last figure when both are the same processor. Caller holds
    // processorMutex.
    bool adopt(Processor &old);
    // Stores one "% Processor Time" value in thousandths of a percent.
    void store(qint64 usageValue);
    // Where the counter is: the object that holds every processor group, and this processor's
    // instance there, as the counter service lists it now.
    CounterTarget counterTarget() const;
    QVector<Counter *> counters() { return {&counterUsage}; }

    QString strIdent;
    quint32 intCore = 0;
    QString strName;
    QString strFamily;
    Counter counterUsage{"% Processor Time", percentFlags};
    quint64 intUsage = 0;
};

// Appends one record per logical processor, in index order, under processorMutex.
void processorTableFill();
// Deletes every record (removing its counter) and empties the table, under processorMutex.
void processorTableClear();
// Puts new records in place of the old ones in one step; a processor keeps its counter.
void processorTableRescan();
