// One record per network adapter: addresses, link speed and octet counts taken at fill time;
// packet and byte rates and the link usage kept current by the sampling thread.
#pragma once

#include "Counter.h"
#include "Perfdata.h"

#include <QString>
#include <string>

class Network {
public:
    // instance: the adapter's counter instance as the system layer names it; index: its
    // interface index.
    Network(const QString &name, const QString &address, const QString &mask,
            const QString &gateway, quint64 speed, quint64 octetsRead, quint64 octetsWrite,
            const std::string &instance = {}, quint32 index = 0);
    Network(const Network &) = delete;
    Network &operator=(const Network &) = delete;

    // Adds the four counters while any is missing, then reads them. Caller holds networkMutex.
    void sample();

    // Same adapter, same counters: takes over old's counters and last figures when both name
    // the same counter instance. Both tables' records; caller holds networkMutex.
    bool adopt(Network &old);
    // Where the counters are: the adapter's instance of "Network Interface", as the counter
    // service lists it now.
    CounterTarget counterTarget() const;
    QVector<Counter *> counters();

    // Stores one sample's counter values (as read, 0 for a failed read) and the usage they give.
    void store(qint64 packetsRead, qint64 packetsWrite, qint64 bytesRead, qint64 bytesWrite);

    // Share of the link's capacity (speed bits per second) that the byte rates use.
    static quint64 usage(quint64 bytesRead, quint64 bytesWrite, quint64 speed);
    // The speed as the 32-bit document field prints it: links faster than 32 bits can count are
    // reported at the 32-bit maximum, not wrapped. The record keeps the whole speed.
    static quint32 speedField(quint64 bitsPerSecond);

    QString strIdent;
    QString strName;
    QString strAddress;
    QString strSubnetmask;
    QString strGateway;
    quint64 intSpeed = 0;        // bits per second
    quint64 intOctetsRead = 0;   // printed as the 32-bit count the interface row keeps
    quint64 intOctetsWrite = 0;  // likewise
    std::string counterInstance; // the counters' instance, byte for byte as the system names it
    quint32 intIndex = 0;        // the interface index: which adapter of the running totals
    Counter counterPacketsRead{"Packets Received/sec", rateFlags};
    Counter counterPacketsWrite{"Packets Sent/sec", rateFlags};
    Counter counterBytesRead{"Bytes Received/sec", rateFlags};
    Counter counterBytesWrite{"Bytes Sent/sec", rateFlags};
    quint64 intPacketsRead = 0;
    quint64 intPacketsWrite = 0;
    quint64 intBytesRead = 0;
    quint64 intBytesWrite = 0;
    quint64 intUsage = 0;
};

// Appends one record per adapter, in the system's order, under networkMutex. An adapter list
// that cannot be read gives no records.
void networkTableFill();
// Deletes every record (removing its counters) and empties the table, under networkMutex.
void networkTableClear();
// Puts a new record for each adapter in place of the old ones in one step; an adapter still
// present keeps its counters, so its rates go on.
void networkTableRescan();
