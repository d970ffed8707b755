#include "AddressList.h"

AddressList::AddressList(const QStringList &entries) {
    for (const QString &entry : entries) {
        QPair<QHostAddress, int> range = entry.contains(QLatin1Char('/'))
                                             ? QHostAddress::parseSubnet(entry)
                                             : QPair<QHostAddress, int>(QHostAddress(entry), -1);
        if (range.first.isNull())
            continue; // the setting's check has refused such a list already
        if (range.second < 0)
            range.second = range.first.protocol() == QAbstractSocket::IPv4Protocol ? 32 : 128;
        ranges.append(range);
    }
}

bool AddressList::allows(const QString &strAddress) const {
    if (ranges.isEmpty())
        return true;
    QHostAddress address(strAddress);
    bool mapped = false;
    const quint32 ipv4 = address.toIPv4Address(&mapped);
    if (mapped && address.protocol() == QAbstractSocket::IPv6Protocol)
        address = QHostAddress(ipv4);
    if (address.isNull())
        return false;
    if (address.isLoopback())
        return true;
    for (const auto &range : ranges) {
        if (address.isInSubnet(range.first, range.second))
            return true;
    }
    return false;
}
