#include "Network.h"

#include "DeviceTables.h"
#include "Perfdata.h"

#include <limits>

Network::Network(const QString &name, const QString &address, const QString &mask,
                 const QString &gateway, quint64 speed, quint64 octetsRead, quint64 octetsWrite)
    : strIdent(makeIdent()), strName(name), strAddress(address), strSubnetmask(mask),
      strGateway(gateway), intSpeed(speed), intOctetsRead(octetsRead), intOctetsWrite(octetsWrite) {
}

CounterTarget Network::counterTarget() const {
    return {
        QStringLiteral("Network Interface"),
        QString::fromStdString(platform::adapterCounterInstance(intIndex, strName.toStdString()))};
}

QVector<Counter *> Network::counters() {
    return {&counterPacketsRead, &counterPacketsWrite, &counterBytesRead, &counterBytesWrite};
}

void Network::sample() {
    perfdata()->sample([this] { return counterTarget(); }, counters());
    store(counterPacketsRead.value, counterPacketsWrite.value, counterBytesRead.value,
          counterBytesWrite.value);
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

void networkTableFill() {
    networkTable.fill([] {
        for (const platform::Adapter &adapter : platform::adapters()) {
            auto *record = new Network(deviceText(adapter.description), deviceText(adapter.address),
                                       deviceText(adapter.mask), deviceText(adapter.gateway),
                                       adapter.speed, adapter.inOctets, adapter.outOctets);
            record->intIndex = adapter.index;
            networkTable.append(record);
        }
    });
}

void networkTableClear() {
    networkTable.clear();
}
