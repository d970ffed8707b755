// The event dispatcher of a connection thread. Such a thread makes only blocking socket calls,
// which poll the descriptor themselves, so the framework's default dispatcher (a main context,
// a wake-up descriptor and their locks, made and torn down for every connection) is pure cost.
// This one delivers posted events and waits for a wake-up, and nothing more: socket notifiers
// and timers are accepted but never fire, so code run by a connection thread must not rely on
// signals from its sockets or on QTimer.
#pragma once

#include <QAbstractEventDispatcher>
#include <QMutex>
#include <QWaitCondition>

class QuietEventDispatcher : public QAbstractEventDispatcher {
    Q_OBJECT
public:
    QuietEventDispatcher() = default;

    bool processEvents(QEventLoop::ProcessEventsFlags flags) override;
    void registerSocketNotifier(QSocketNotifier *notifier) override;
    void unregisterSocketNotifier(QSocketNotifier *notifier) override;
    void registerTimer(int timerId, qint64 interval, Qt::TimerType timerType,
                       QObject *object) override;
    bool unregisterTimer(int timerId) override;
    bool unregisterTimers(QObject *object) override;
    QList<TimerInfo> registeredTimers(QObject *object) const override;
    int remainingTime(int timerId) override;
    void wakeUp() override;
    void interrupt() override;

private:
    // wakeUp() and interrupt() may come from any thread; boolWoken is guarded by wakeMutex.
    QMutex wakeMutex;
    QWaitCondition woken;
    bool boolWoken = false;
};
