#include "QuietEventDispatcher.h"

#include <QCoreApplication>
#include <QMutexLocker>

bool QuietEventDispatcher::processEvents(QEventLoop::ProcessEventsFlags flags) {
    emit awake();
    QCoreApplication::sendPostedEvents();
    if (flags.testFlag(QEventLoop::WaitForMoreEvents)) {
        QMutexLocker lock(&wakeMutex);
        while (!boolWoken)
            woken.wait(&wakeMutex);
    }
    bool hadWakeUp;
    {
        QMutexLocker lock(&wakeMutex);
        hadWakeUp = boolWoken;
        boolWoken = false;
    }
    // Outside the lock: a handler may post again, which wakes this dispatcher.
    if (hadWakeUp)
        QCoreApplication::sendPostedEvents();
    return hadWakeUp;
}

void QuietEventDispatcher::registerSocketNotifier(QSocketNotifier *) {}
void QuietEventDispatcher::unregisterSocketNotifier(QSocketNotifier *) {}
void QuietEventDispatcher::registerTimer(int, qint64, Qt::TimerType, QObject *) {}
bool QuietEventDispatcher::unregisterTimer(int) {
    return false;
}
bool QuietEventDispatcher::unregisterTimers(QObject *) {
    return false;
}
QList<QAbstractEventDispatcher::TimerInfo> QuietEventDispatcher::registeredTimers(QObject *) const {
    return {};
}
int QuietEventDispatcher::remainingTime(int) {
    return -1;
}

void QuietEventDispatcher::wakeUp() {
    QMutexLocker lock(&wakeMutex);
    boolWoken = true;
    woken.wakeAll();
}

void QuietEventDispatcher::interrupt() {
    wakeUp();
}
