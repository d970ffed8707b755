// How often the heartbeat may answer. A UDP request's source address can be forged, so every
// answer may land on a victim that never asked; these limits bound what the heartbeat (and
// the monitors beside it, asked through a directed broadcast) can be made to send there.
#pragma once

#include <QHash>
#include <QtGlobal>
#include <deque>
#include <functional>

class ReplyLimiter {
public:
    // Milliseconds on a clock that never steps back.
    using Clock = std::function<qint64()>;
    // The process's steady clock.
    static qint64 steadyNow();

    // At most intPerAddress answers to one address and intTotal in all within any second.
    ReplyLimiter(int intPerAddress, int intTotal, Clock clock = &ReplyLimiter::steadyNow);

    // True, and counted as sent, when one more answer to this IPv4 address is allowed now.
    bool allow(quint32 intAddress);

private:
    // Drops the addresses answered last more than a second ago, which limit nothing any more.
    void forgetQuiet(qint64 intNow);

    const int intPerAddress;
    const int intTotal;
    const Clock clock;
    // The times of the latest answers, oldest first: at most intTotal in all, intPerAddress
    // per address. Only answers sent are kept, so at most intTotal addresses are ever recent.
    std::deque<qint64> sent;
    QHash<quint32, std::deque<qint64>> sentTo;
};
