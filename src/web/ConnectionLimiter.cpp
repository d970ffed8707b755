#include "ConnectionLimiter.h"

#include <algorithm>

ConnectionLimiter::ConnectionLimiter(int maxRunning, int maxPerAddress, int maxQueued)
    : intMaxRunning(std::max(1, maxRunning)), intMaxPerAddress(std::max(1, maxPerAddress)),
      intMaxQueued(std::max(0, maxQueued)) {}

int ConnectionLimiter::runningOf(const QString &strAddress) const {
    const auto count = runningPerAddress.find(strAddress);
    return count == runningPerAddress.end() ? 0 : count->second;
}

bool ConnectionLimiter::mayStart(const QString &strAddress) const {
    return intRunning < intMaxRunning && runningOf(strAddress) < intMaxPerAddress;
}

std::deque<ConnectionLimiter::Connection>::const_iterator ConnectionLimiter::nextToStart() const {
    auto best = queue.end();
    int fewest = intMaxPerAddress;
    for (auto waiting = queue.begin(); waiting != queue.end(); ++waiting) {
        const int count = runningOf(waiting->strAddress);
        if (count < fewest) {
            fewest = count;
            best = waiting;
        }
    }
    return best;
}

std::deque<ConnectionLimiter::Connection>::iterator
ConnectionLimiter::displaceableFor(const QString &strAddress) {
    std::map<QString, int> holds;
    for (const Connection &waiting : queue)
        ++holds[waiting.strAddress];
    const QString *busiest = nullptr;
    int most = 0;
    for (auto &[address, count] : holds) {
        count += runningOf(address);
        if (count > most) {
            most = count;
            busiest = &address;
        }
    }
    const auto own = holds.find(strAddress);
    const int newcomer = own == holds.end() ? runningOf(strAddress) : own->second;
    if (!busiest || most < newcomer + 2)
        return queue.end();
    for (auto waiting = queue.end(); waiting != queue.begin();) {
        if ((--waiting)->strAddress == *busiest)
            return waiting;
    }
    return queue.end();
}

ConnectionLimiter::Admission ConnectionLimiter::admit(qintptr intSocket, const QString &strAddress,
                                                      qint64 intDeadline,
                                                      std::optional<Connection> *displaced) {
    if (mayStart(strAddress)) {
        ++intRunning;
        ++runningPerAddress[strAddress];
        return Admission::Start;
    }
    if (int(queue.size()) >= intMaxQueued) {
        const auto place = displaced ? displaceableFor(strAddress) : queue.end();
        if (place == queue.end())
            return Admission::Refuse;
        *displaced = *place;
        queue.erase(place);
    }
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
    std::vector<Connection> startable;
    for (auto next = nextToStart(); next != queue.end() && intRunning < intMaxRunning;
         next = nextToStart()) {
        ++intRunning;
        ++runningPerAddress[next->strAddress];
        startable.push_back(*next);
        queue.erase(next);
    }
    return startable;
}

int ConnectionLimiter::heldBackByTheTotal() const {
    std::map<QString, int> waitingPerAddress;
    for (const Connection &waiting : queue)
        ++waitingPerAddress[waiting.strAddress];
    int held = 0;
    for (const auto &[address, count] : waitingPerAddress)
        held += std::min(count, std::max(0, intMaxPerAddress - runningOf(address)));
    return held;
}

bool ConnectionLimiter::chooseToGiveWay(const std::vector<Running> &candidates, qint64 now,
                                        qint64 minWait, quint64 &id) const {
    const auto next = nextToStart();
    if (intRunning < intMaxRunning || next == queue.end())
        return false;
    const int waitingAddressRuns = runningOf(next->strAddress);
    const Running *chosen = nullptr;
    int chosenRuns = 0;
    for (const Running &candidate : candidates) {
        if (candidate.intWaitingSince <= 0 || now - candidate.intWaitingSince < minWait)
            continue;
        const int runs = runningOf(candidate.strAddress);
        if (runs <= waitingAddressRuns)
            continue;
        if (!chosen || runs > chosenRuns ||
            (runs == chosenRuns && candidate.intWaitingSince < chosen->intWaitingSince)) {
            chosen = &candidate;
            chosenRuns = runs;
        }
    }
    if (!chosen)
        return false;
    id = chosen->intId;
    return true;
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
