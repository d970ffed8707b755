// The alert thread: once a second it gathers the newest figures (processors and memory from
// the history, links from the network table, volumes through their readers every ten seconds,
// the drives' own health as DiskHealthDocument keeps it, and whatever a source added beside
// them, such as the fleet's silent machines), lets Alerts judge them and hands what changed to
// the listener. It runs beside the sampling thread, so a volume or a drive that is slow to
// answer never holds a sample up.
#pragma once

#include "Alerts.h"

#include <QMutex>
#include <QThread>
#include <QWaitCondition>
#include <functional>
#include <vector>

class AlertThread : public QThread {
    Q_OBJECT
public:
    using Clock = std::function<qint64()>; // ms since the epoch
    // changes: what began or resolved this round; firing: everything that fires now.
    using Listener = std::function<void(const std::vector<Alerts::Alert> &changes,
                                        const std::vector<Alerts::Alert> &firing, qint64 now)>;
    using Source = std::function<std::vector<Alerts::Reading>(qint64 now)>;

    static constexpr qint64 volumeGapMs = 10000;

    explicit AlertThread(Alerts &alerts);

    // Set before start().
    void setClock(Clock clock);
    void setListener(Listener listener);
    void addSource(Source source);

    // The readings of the monitor's own figures now.
    std::vector<Alerts::Reading> gather(qint64 now);

    // One round: gather, judge, tell the listener.
    void round();

    // Ends the loop and wakes its sleep; used at exit.
    void requestStop();

protected:
    void run() override;

private:
    Alerts &alerts;
    Clock clock;
    Listener listener;
    std::vector<Source> sources;
    // Only the alert thread touches these.
    std::vector<Alerts::Reading> volumes;
    qint64 volumesAt = -1;
    // Guards stopping; stopCondition is signalled with it held.
    QMutex stopMutex;
    QWaitCondition stopCondition;
    bool stopping = false;
};
