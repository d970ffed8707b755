#include "ReplyLimiter.h"

#include <QDeadlineTimer>

namespace {
constexpr qint64 intWindowMs = 1000;

// Room for one more within the window, given the latest times, oldest first.
bool roomIn(const std::deque<qint64> &times, int intLimit, qint64 intNow) {
    return int(times.size()) < intLimit || intNow - times.front() >= intWindowMs;
}

void record(std::deque<qint64> &times, int intLimit, qint64 intNow) {
    times.push_back(intNow);
    while (int(times.size()) > intLimit)
        times.pop_front();
}
} // namespace

qint64 ReplyLimiter::steadyNow() {
    return QDeadlineTimer::current().deadline();
}

ReplyLimiter::ReplyLimiter(int intPerAddress, int intTotal, Clock clock)
    : intPerAddress(qMax(1, intPerAddress)), intTotal(qMax(1, intTotal)), clock(std::move(clock)) {}

bool ReplyLimiter::allow(quint32 intAddress) {
    const qint64 now = clock();
    if (!roomIn(sent, intTotal, now))
        return false;
    auto found = sentTo.find(intAddress);
    if (found != sentTo.end() && !roomIn(found.value(), intPerAddress, now))
        return false;
    if (found == sentTo.end()) {
        if (sentTo.size() >= 2 * intTotal)
            forgetQuiet(now);
        found = sentTo.insert(intAddress, {});
    }
    record(found.value(), intPerAddress, now);
    record(sent, intTotal, now);
    return true;
}

void ReplyLimiter::forgetQuiet(qint64 intNow) {
    for (auto it = sentTo.begin(); it != sentTo.end();) {
        if (intNow - it.value().back() >= intWindowMs)
            it = sentTo.erase(it);
        else
            ++it;
    }
}
