#include "DeviceTable.h"

namespace {
// The table mutex this thread holds, if any.
thread_local const QMutex *heldMutex = nullptr;
} // namespace

DeviceTableLock::DeviceTableLock(QMutex &tableMutex, int waitMs) : mutex(tableMutex) {
    Q_ASSERT_X(heldMutex == nullptr, "DeviceTableLock", "a second table mutex in one thread");
    if (waitMs < 0) {
        mutex.lock();
        locked = true;
    } else {
        locked = mutex.tryLock(waitMs);
    }
    if (locked)
        heldMutex = &mutex;
}

DeviceTableLock::~DeviceTableLock() {
    if (!locked)
        return;
    heldMutex = nullptr;
    mutex.unlock();
}

bool DeviceTableLock::holds(const QMutex &tableMutex) {
    return heldMutex == &tableMutex;
}
