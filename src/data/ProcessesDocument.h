// The busiest processes, served at /processes.json: the ten using the most processor time and
// the ten holding the most memory. The processes are read only when the document is asked for
// (at most once in readGapMs, however many viewers ask), so nobody looking costs nothing; the
// processor shares are the times used between this reading and the one before.
#pragma once

#include "platform/Processes.h"

#include <QMutex>
#include <QString>
#include <QVector>
#include <functional>
#include <vector>

class ProcessesDocument {
public:
    using Clock = std::function<qint64()>; // milliseconds, steady
    using Reader = std::function<std::vector<platform::ProcessUse>()>;

    // The process-wide instance: the steady clock, the system's processes and processor count.
    static ProcessesDocument &instance();
    ProcessesDocument(Clock clock, Reader reader, quint32 intCores);

    // A reading newer than this is served again instead of taking another; the dashboard asks
    // every 2 s, a little early or late.
    static constexpr qint64 readGapMs = 1500;
    // A reading older than this is no base for shares: the next one starts afresh.
    static constexpr qint64 baseAgeMs = 10000;
    static constexpr int listLength = 10;

    struct Row {
        quint32 intPid = 0;
        QString strName;
        double core = 0;    // percent of one processor; a process with threads may pass 100
        double machine = 0; // percent of all processors together
        quint64 intResident = 0;
    };
    // The processes in `now`, with the processor time each used since `before` over
    // `elapsedMs`. A process is its id and its start time, whatever its name.
    static QVector<Row> shares(const std::vector<platform::ProcessUse> &before,
                               const std::vector<platform::ProcessUse> &now, qint64 elapsedMs,
                               quint32 intCores);

    // {"interval": seconds the shares cover (null on a first reading), "cores": n,
    //  "byProcessor": [...], "byMemory": [...]}, each entry {"pid","name","core","machine",
    //  "resident"}; byProcessor is empty on a first reading.
    QString document();

private:
    const Clock clock;
    const Reader reader;
    const quint32 intCores;

    // Guards every field below: connection threads ask at any time.
    QMutex mutex;
    std::vector<platform::ProcessUse> last;
    qint64 intLastAt = -1;
    QString strCached;
};
