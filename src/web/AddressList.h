// Which peer addresses may use the web server: the ranges of web/allowedAddresses, and this
// machine's loopback always. Built from the setting's canonical entries, then read-only.
#pragma once

#include <QHostAddress>
#include <QPair>
#include <QStringList>
#include <QVector>

class AddressList {
public:
    // Entries as MachineSettings gives them: addresses and CIDR ranges, IPv4 or IPv6. An empty
    // list allows every address.
    explicit AddressList(const QStringList &entries = {});

    // For a peer address as the system layer gives it (IPv4 dotted, IPv4-mapped IPv6 read as
    // IPv4): allowed when the list is empty, the address is a loopback address or it lies in
    // one of the ranges. An address that cannot be read is not allowed by a list.
    bool allows(const QString &strAddress) const;

private:
    QVector<QPair<QHostAddress, int>> ranges;
};
