#include "ConnectionLimiter.h"

#include <algorithm>

ConnectionLimiter::ConnectionLimiter(int maxRunning, int maxPerAddress, int maxQueued)
    : intMaxRunning(std::max(1, maxRunning)), intMaxPerAddress(std::max(1, maxPerAddress)),
      intMaxQueued(std::max(0, maxQueued)) {}

bool ConnectionLimiter::mayStart(const QString &strAddress) const {
    if (intRunning >= intMaxRunning)
        return false;
    const auto count = runningPerAddress.find(strAddress);
    return count == runningPerAddress.end() || count->second < intMaxPerAddress;
}

ConnectionLimiter::Admission ConnectionLimiter::admit(qintptr intSocket, const QString &strAddress,
                                                      qint64 intDeadline) {
    if (mayStart(strAddress)) {
        ++intRunning;
        ++runningPerAddress[strAddress];
        return Admission::Start;
    }
    if (int(queue.size()) >= intMaxQueued)
        return Admission::Refuse;
    queue.push_back({intSocket, strAddress, intDeadline});
    return Admission::Queue;
}

std::vector<ConnectionLimiter::Connection> ConnectionLimiter::release(const QString &strAddress) {
    const auto count = runningPerAddress.find(strAddress);
    if (count != runningPerAddress.end()) {
        --intRunning;
        if (--count->second <= 0)
            runningPerAddress.erase(count);
    }
    // The first waiting connection whose address is under its cap goes first, so a busy address
    // at the head of the queue does not hold back the others.
    std::vector<Connection> startable;
    for (auto waiting = queue.begin(); waiting != queue.end() && intRunning < intMaxRunning;) {
        if (mayStart(waiting->strAddress)) {
            ++intRunning;
            ++runningPerAddress[waiting->strAddress];
            startable.push_back(*waiting);
            waiting = queue.erase(waiting);
        } else {
            ++waiting;
        }
    }
    return startable;
}

std::vector<ConnectionLimiter::Connection> ConnectionLimiter::expire(qint64 now) {
    std::vector<Connection> due;
    for (auto waiting = queue.begin(); waiting != queue.end();) {
        if (waiting->intDeadline <= now) {
            due.push_back(*waiting);
            waiting = queue.erase(waiting);
        } else {
            ++waiting;
        }
    }
    return due;
}

bool ConnectionLimiter::nextDeadline(qint64 &deadline) const {
    if (queue.empty())
        return false;
    deadline = queue.front().intDeadline;
    for (const Connection &waiting : queue)
        deadline = std::min(deadline, waiting.intDeadline);
    return true;
}

std::vector<ConnectionLimiter::Connection> ConnectionLimiter::takeQueued() {
    std::vector<Connection> all(queue.begin(), queue.end());
    queue.clear();
    return all;
}
