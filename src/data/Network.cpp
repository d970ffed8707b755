#include "Network.h"

#include "DeviceTables.h"
#include "Perfdata.h"

#include <limits>

Network::Network(const QString &name, const QString &address, const QString &mask,
                 const QString &gateway, quint64 speed, quint64 octetsRead, quint64 octetsWrite,
                 const std::string &instance, quint32 index)
    : strIdent(makeIdent()), strName(name), strAddress(address), strSubnetmask(mask),
      strGateway(gateway), intSpeed(speed), intOctetsRead(octetsRead), intOctetsWrite(octetsWrite),
      counterInstance(instance), intIndex(index) {}

CounterTarget Network::counterTarget() const {
    return {QStringLiteral("Network Interface"),
            platform::adapterCounterInstance(intIndex, counterInstance)};
}

QVector<Counter *> Network::counters() {
    return {&counterPacketsRead, &counterPacketsWrite, &counterBytesRead, &counterBytesWrite};
}

void Network::sample() {
    perfdata()->sample([this] { return counterTarget(); }, counters());
    store(counterPacketsRead.value, counterPacketsWrite.value, counterBytesRead.value,
          counterBytesWrite.value);
}

bool Network::adopt(Network &old) {
    if (counterInstance.empty() || counterInstance != old.counterInstance)
        return false;
    for (auto [mine, theirs] : {std::pair(&counterPacketsRead, &old.counterPacketsRead),
                                {&counterPacketsWrite, &old.counterPacketsWrite},
                                {&counterBytesRead, &old.counterBytesRead},
                                {&counterBytesWrite, &old.counterBytesWrite}})
        mine->takeOver(*theirs);
    // The figures of the last pass stand until the next one, as they would have.
    store(counterPacketsRead.value, counterPacketsWrite.value, counterBytesRead.value,
          counterBytesWrite.value);
    return true;
}

void Network::store(qint64 packetsRead, qint64 packetsWrite, qint64 bytesRead, qint64 bytesWrite) {
    intPacketsRead = static_cast<quint64>(packetsRead);
    intPacketsWrite = static_cast<quint64>(packetsWrite);
    intBytesRead = static_cast<quint64>(bytesRead);
    intBytesWrite = static_cast<quint64>(bytesWrite);
    intUsage = usage(intBytesRead, intBytesWrite, intSpeed);
}

quint64 Network::usage(quint64 bytesRead, quint64 bytesWrite, quint64 speed) {
    const quint64 sum = bytesRead + bytesWrite;
    const double capacity = static_cast<double>(speed) * 0.125;
    return usageFromRatio(static_cast<double>(sum) / capacity);
}

quint32 Network::speedField(quint64 bitsPerSecond) {
    constexpr quint64 largest = std::numeric_limits<quint32>::max();
    return static_cast<quint32>(bitsPerSecond > largest ? largest : bitsPerSecond);
}

namespace {
QVector<Network *> scanAdapters() {
    QVector<Network *> records;
    for (const platform::Adapter &adapter : platform::adapters()) {
        records.append(new Network(deviceText(adapter.description), deviceText(adapter.address),
                                   deviceText(adapter.mask), deviceText(adapter.gateway),
                                   adapter.speed, adapter.inOctets, adapter.outOctets,
                                   adapter.counterInstance, adapter.index));
    }
    return records;
}
} // namespace

void networkTableFill() {
    networkTable.fill([] {
        for (Network *record : scanAdapters())
            networkTable.append(record);
    });
}

void networkTableClear() {
    networkTable.clear();
}

void networkTableRescan() {
    networkTable.replace(scanAdapters());
}
