#include "ConnectionControl.h"

#include "platform/Platform.h"

#include <QMutexLocker>

ConnectionControl::ConnectionControl(qintptr socket, qint64 started)
    : intSocket(socket), intWaitingSince(qMax<qint64>(1, started)) {}

void ConnectionControl::waiting(qint64 since) {
    // Only this connection's thread writes the time, so reading it first is no race.
    if (intWaitingSince.load(std::memory_order_relaxed) == 0)
        intWaitingSince.store(qMax<qint64>(1, since), std::memory_order_release);
}

void ConnectionControl::working() {
    intWaitingSince.store(0, std::memory_order_release);
}

void ConnectionControl::close() {
    QMutexLocker lock(&mutex);
    if (boolClosed)
        return;
    boolClosed = true;
    platform::closeSocket(intSocket);
}

void ConnectionControl::giveWay() {
    boolGiveWay.store(true, std::memory_order_release);
    QMutexLocker lock(&mutex);
    if (!boolClosed)
        platform::shutdownBoth(intSocket);
}
