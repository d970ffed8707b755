#include "Sample.h"

#include "DeviceTables.h"

#include <algorithm>
#include <mutex>

namespace {
// The published sample. Never destroyed: connection threads may still read it at exit.
struct Published {
    std::mutex mutex; // guards sample: held only to copy or swap the pointer
    std::shared_ptr<const Sample> sample;
};

Published &published() {
    static Published *const shared = new Published;
    return *shared;
}

constexpr quint64 millisecondWrap = quint64(1) << 32;

// The count's change over the pass; false when it went down. A count printed as 32 bits of
// milliseconds (microseconds here) wraps at 2^32 ms and is taken across the wrap.
bool change(quint64 before, quint64 after, quint64 &delta, bool millisecondWord = false) {
    if (after >= before) {
        delta = after - before;
        return true;
    }
    const quint64 wrap = millisecondWrap * 1000;
    if (!millisecondWord || before >= wrap)
        return false;
    delta = wrap - before + after;
    return true;
}

// Per second over nanoseconds; truncated, as the counter service formats a large integer.
quint64 perSecond(quint64 delta, qint64 nanoseconds) {
    return quint64(double(delta) * 1e9 / double(nanoseconds));
}

// Busy microseconds over the pass as thousandths of a percent, capped at 100 %.
quint64 busyShare(quint64 busyMicroseconds, qint64 nanoseconds) {
    return usageFromRatio(double(busyMicroseconds) * 1000.0 / double(nanoseconds));
}

template <typename Row, typename Key>
const Row *previousRow(const std::vector<Row> &rows, Key key) {
    const auto found = std::find_if(rows.begin(), rows.end(), key);
    return found == rows.end() ? nullptr : &*found;
}
} // namespace

const Sample::Rates *Sample::find(const std::vector<DeviceRates> &rows, quint32 key) {
    for (const DeviceRates &row : rows)
        if (row.key == key)
            return &row.rates;
    return nullptr;
}

void Sample::ratesSince(const Sample &previous) {
    adapters.clear();
    disks.clear();
    processors.clear();
    const qint64 span = intSteadyNs - previous.intSteadyNs;
    for (const platform::AdapterTotals &now : totals.adapters) {
        DeviceRates row{now.index, {}};
        const platform::AdapterTotals *before =
            previousRow(previous.totals.adapters, [&now](const platform::AdapterTotals &a) {
                return a.index == now.index && a.description == now.description;
            });
        quint64 packetsIn, packetsOut, bytesIn, bytesOut;
        if (before && span > 0 && change(before->receivePackets, now.receivePackets, packetsIn) &&
            change(before->transmitPackets, now.transmitPackets, packetsOut) &&
            change(before->receiveBytes, now.receiveBytes, bytesIn) &&
            change(before->transmitBytes, now.transmitBytes, bytesOut))
            row.rates = {perSecond(packetsIn, span), perSecond(packetsOut, span),
                         perSecond(bytesIn, span), perSecond(bytesOut, span), 0};
        adapters.push_back(row);
    }
    for (const platform::DiskTotals &now : totals.disks) {
        DeviceRates row{now.number, {}};
        const platform::DiskTotals *before =
            previousRow(previous.totals.disks,
                        [&now](const platform::DiskTotals &d) { return d.number == now.number; });
        quint64 reads, writes, bytesIn, bytesOut, busy;
        if (before && span > 0 && change(before->reads, now.reads, reads) &&
            change(before->writes, now.writes, writes) &&
            change(before->readBytes, now.readBytes, bytesIn) &&
            change(before->writeBytes, now.writeBytes, bytesOut) &&
            change(before->busyMicroseconds, now.busyMicroseconds, busy, true))
            row.rates = {perSecond(reads, span), perSecond(writes, span), perSecond(bytesIn, span),
                         perSecond(bytesOut, span), busyShare(busy, span)};
        disks.push_back(row);
    }
    for (const platform::ProcessorTotals &now : totals.processors) {
        DeviceRates row{now.index, {}};
        const platform::ProcessorTotals *before =
            previousRow(previous.totals.processors, [&now](const platform::ProcessorTotals &p) {
                return p.index == now.index;
            });
        quint64 busy;
        if (before && span > 0 && change(before->busyMicroseconds, now.busyMicroseconds, busy))
            row.rates.intUsage = busyShare(busy, span);
        processors.push_back(row);
    }
}

void Sample::sumUp() {
    const auto add = [](const std::vector<DeviceRates> &rows, Rates &sum) {
        sum = {};
        for (const DeviceRates &row : rows) {
            sum.intPacketsRead += row.rates.intPacketsRead;
            sum.intPacketsWrite += row.rates.intPacketsWrite;
            sum.intBytesRead += row.rates.intBytesRead;
            sum.intBytesWrite += row.rates.intBytesWrite;
        }
    };
    add(adapters, network);
    add(disks, storage);
    quint64 busy = 0;
    for (const DeviceRates &row : processors)
        busy += std::min(row.rates.intUsage, usageFull);
    intProcessorUsage = processors.empty() ? 0 : busy / processors.size();
}

std::shared_ptr<const Sample> Sample::current() {
    Published &p = published();
    std::lock_guard<std::mutex> lock(p.mutex);
    return p.sample;
}

void Sample::publish(std::shared_ptr<const Sample> sample) {
    Published &p = published();
    std::lock_guard<std::mutex> lock(p.mutex);
    // The older sample is freed by its last reader, outside this lock when a reader holds it.
    p.sample.swap(sample);
}
