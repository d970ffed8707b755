// What one sampling pass read, published whole: the pass's time, memory, the system's running
// totals per device, and the rates and busy shares per device and in total. Every document reads
// the one published sample (the status document, /metrics, /history.json, /summary.json), so no
// document mixes two passes and none reads the system a second time for the same figures.
//
// On Windows the rates are the counter service's, read by the records from the shared query; on
// Linux they are the totals' differences between two passes, over the time between them.
#pragma once

#include "platform/Platform.h"
#include "platform/Totals.h"

#include <QtGlobal>
#include <memory>
#include <vector>

class Sample {
public:
    // One device's figures over the pass: per second, and the busy share in thousandths of a
    // percent (processors and disks).
    struct Rates {
        quint64 intPacketsRead = 0; // a disk's read operations
        quint64 intPacketsWrite = 0;
        quint64 intBytesRead = 0;
        quint64 intBytesWrite = 0;
        quint64 intUsage = 0;
    };
    // key: an adapter's interface index, a disk's number, a processor's index.
    struct DeviceRates {
        quint32 key = 0;
        Rates rates;
    };

    qint64 intTime = 0;     // wall clock at the reading, milliseconds since the epoch
    qint64 intSteadyNs = 0; // steady clock at the reading
    platform::MemoryStatus memory;
    platform::Totals totals;
    std::vector<DeviceRates> adapters;
    std::vector<DeviceRates> disks;
    std::vector<DeviceRates> processors;
    // In total: the adapters' and the disks' rates added up, the processors' mean share.
    Rates network;
    Rates storage;
    quint64 intProcessorUsage = 0;

    // The figures of one device; null when the pass has none for it.
    const Rates *adapter(quint32 index) const { return find(adapters, index); }
    const Rates *disk(quint32 number) const { return find(disks, number); }
    const Rates *processor(quint32 index) const { return find(processors, index); }

    // The rates of `totals` since `previous`'s. A device that is new, or whose counts went down
    // (made anew, or a reboot), reads 0 for this pass; a disk's busy time, which the kernel
    // prints as 32 bits of milliseconds, is taken across its wrap.
    void ratesSince(const Sample &previous);
    // Adds up the devices' rates into the totals.
    void sumUp();

    // The last published sample; null before the first pass. Safe from any thread.
    static std::shared_ptr<const Sample> current();
    static void publish(std::shared_ptr<const Sample> sample);

private:
    static const Rates *find(const std::vector<DeviceRates> &rows, quint32 key);
};
