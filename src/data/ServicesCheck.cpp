#include "ServicesCheck.h"

#include <QDeadlineTimer>
#include <QMutexLocker>

ServicesCheck &ServicesCheck::instance() {
    // Never destroyed: a connection thread may still ask while the process exits.
    static ServicesCheck *const check = new ServicesCheck(platform::stoppedServices);
    return *check;
}

ServicesCheck::ServicesCheck(Read read) : read(std::move(read)) {}

platform::ServicesReading ServicesCheck::reading() {
    QMutexLocker lock(&mutex);
    const qint64 now = QDeadlineTimer::current().deadline();
    if (intReadAt < 0 || now - intReadAt >= gapMs) {
        last = read();
        intReadAt = QDeadlineTimer::current().deadline();
    }
    return last;
}
