// The alert judge's rounds: once a second, after each sampling pass and on its thread, a round
// gathers the newest figures (processors and memory from the history, links from the network
// table and the pass's sample, and whatever a source added beside them, such as the fleet's
// silent machines) with the slow ones, lets Alerts judge them and hands what changed to the
// listener. The slow figures (the volumes' space through their readers, the drives' own health
// as DiskHealthDocument keeps it) are read every 30 seconds on this thread of their own, so a
// volume or a drive that is slow to answer never holds a sample up, and the monitor wakes once
// a second, not twice.
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

    // A volume fills and a drive fails over minutes; reading them more often cost an idle
    // monitor a tenth of what it spends.
    static constexpr qint64 slowGapMs = 30000;

    explicit AlertThread(Alerts &alerts);

    // Set before start().
    void setClock(Clock clock);
    void setListener(Listener listener);
    void addSource(Source source);

    // The readings of the monitor's own figures now: the fast ones as they are, the slow ones as
    // their last reading left them.
    std::vector<Alerts::Reading> gather(qint64 now);
    // Reads the slow figures again; the thread does so every slowGapMs.
    void refreshSlow();

    // One round: gather, judge, tell the listener. Called after each sampling pass; safe beside
    // the thread, not beside another round.
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
    // Guards slow: written by the thread, read by the rounds.
    QMutex slowMutex;
    std::vector<Alerts::Reading> slow;
    // Guards stopping; stopCondition is signalled with it held.
    QMutex stopMutex;
    QWaitCondition stopCondition;
    bool stopping = false;
};
