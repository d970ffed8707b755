// A reading that is costly to take (walking every service, asking every disk), taken on the
// connection thread that asks first once the last one is older than the gap (never on the
// sampling thread), and shared with everyone who asks before the next one.
#pragma once

#include <QDeadlineTimer>
#include <QMutex>
#include <QMutexLocker>
#include <functional>

template <typename T> class KeptReading {
public:
    using Read = std::function<T()>;

    KeptReading(Read read, qint64 intGapMs) : read(std::move(read)), gapMs(intGapMs) {}

    T value() {
        QMutexLocker lock(&mutex);
        if (intReadAt < 0 || QDeadlineTimer::current().deadline() - intReadAt >= gapMs) {
            last = read();
            intReadAt = QDeadlineTimer::current().deadline();
        }
        return last;
    }

private:
    const Read read;
    const qint64 gapMs;
    // Guards last and intReadAt: connection threads ask at any time, and one reading at a time
    // is taken while the others wait for it.
    QMutex mutex;
    T last{};
    qint64 intReadAt = -1; // milliseconds, steady
};
