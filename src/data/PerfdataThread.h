// The sampling thread: once a second it reads the system once and publishes what it read as one
// Sample (on Windows the records first read their rates from the shared counter query; on Linux
// the rates are the running totals' differences); then the history takes the figures it keeps,
// once a minute writes them to its file, and what start-up hung after the pass runs (the alert
// judge's round).
#pragma once

#include <QMutex>
#include <QString>
#include <QThread>
#include <QWaitCondition>
#include <functional>

class PerfdataThread : public QThread {
    Q_OBJECT
public:
    using Clock = std::function<qint64()>; // milliseconds

    PerfdataThread();
    ~PerfdataThread() override;

    // "statusNone" until run() starts, "statusEnabled" while it loops, "statusDisabled" after.
    QString status() const;

    // Ends the loop after the running pass and wakes its sleep; used at exit.
    void requestStop();

    // Wall clock by default; tests inject their own. Set it before start().
    void setClock(Clock clock);

    // One pass: where the counter query gives the rates, collect it once and visit the network,
    // processor and storage tables, each under its own mutex, re-reading the length after every
    // record; then read the totals and memory once and publish the Sample.
    static void samplePass();
    // Rates from the counter query (true) or from the totals' differences (false), in place of
    // the system layer's choice; for tests, set while no pass runs.
    static void setRatesFromCounters(bool counters);
    // The steady clock the passes' rates are taken over, in nanoseconds; for tests, set while no
    // pass runs.
    using SteadyClock = std::function<qint64()>;
    static void setSteadyClock(SteadyClock clock);

    // Runs on the sampling thread after every pass from the next one on, until replaced; any
    // thread may set it. It must not wait long: the next pass waits for it.
    static void setAfterPass(std::function<void()> work);

    // Milliseconds to sleep after a pass from t0 to t1: the rest of the second, or a full second
    // when the pass took longer or the clock was set back meanwhile.
    static qint64 sleepAfterPass(qint64 t0, qint64 t1);

public slots:
    void run() override;

private:
    void setStatus(const QString &word);

    Clock clock;
    // Guards strStatus: the thread writes it, and requestStop() writes it from another thread.
    // stopCondition is signalled with it held, so a stop cannot slip in between the test of the
    // word and the start of the sleep.
    mutable QMutex statusMutex;
    QWaitCondition stopCondition;
    QString strStatus;
};
