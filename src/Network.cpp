#include "Network.h"

#include "DeviceTables.h"
#include "Perfdata.h"

#include <limits>

Network::Network(const QString &name, const QString &address, const QString &mask,
                 const QString &gateway, quint64 speed, quint32 octetsRead, quint32 octetsWrite)
    : strIdent(makeIdent()), strName(name), strAddress(address), strSubnetmask(mask),
      strGateway(gateway), intSpeed(speed), intOctetsRead(octetsRead), intOctetsWrite(octetsWrite) {
}

Network::~Network() {
    Perfdata::removeCounter(counterPacketsRead);
    Perfdata::removeCounter(counterPacketsWrite);
    Perfdata::removeCounter(counterBytesRead);
    Perfdata::removeCounter(counterBytesWrite);
}

void Network::sample() {
    const QVector<platform::CounterHandle *> handles = {&counterPacketsRead, &counterPacketsWrite,
                                                        &counterBytesRead, &counterBytesWrite};
    Perfdata *counters = perfdata();
    if (Perfdata::anyNull(handles)) {
        static const QStringList names = {
            QStringLiteral("Packets Received/sec"), QStringLiteral("Packets Sent/sec"),
            QStringLiteral("Bytes Received/sec"), QStringLiteral("Bytes Sent/sec")};
        counters->setUpCounters(strName, QStringLiteral("Network Interface"), names, handles);
    }
    store(Perfdata::readCounter(counterPacketsRead, rateFlags),
          Perfdata::readCounter(counterPacketsWrite, rateFlags),
          Perfdata::readCounter(counterBytesRead, rateFlags),
          Perfdata::readCounter(counterBytesWrite, rateFlags));
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
    QMutexLocker locker(&networkMutex);
    for (const platform::Adapter &adapter : platform::adapters()) {
        networkTable.append(new Network(
            deviceText(adapter.description), deviceText(adapter.address), deviceText(adapter.mask),
            deviceText(adapter.gateway), adapter.speed, adapter.inOctets, adapter.outOctets));
    }
}

void networkTableClear() {
    QMutexLocker locker(&networkMutex);
    for (qsizetype i = 0; i < networkTable.size(); ++i)
        delete networkTable.at(i);
    networkTable = QVector<Network *>();
}
