// The machine's figures for a monitoring server, served at /metrics in the Prometheus text
// format (0.0.4): the system's own running totals per device, so that the monitoring server
// computes rates over whatever window it likes, and memory, both as the last sampling pass read
// them (the Sample the status document shows), and the devices' texts as labels of info
// metrics, never as values.
#pragma once

#include "HostDocument.h"
#include "platform/DiskHealth.h"
#include "platform/Platform.h"
#include "platform/Totals.h"
#include "platform/Volumes.h"

#include <QString>
#include <QVector>

class MetricsDocument {
public:
    static const QString contentType;

    // Texts of the last device scan. An adapter is known by its interface index, so that its
    // info carries exactly the label of its counters; a device no longer present has no info.
    struct AdapterInfo {
        quint32 intIndex = 0;
        QString strAddress;
        QString strSubnetmask;
        QString strGateway;
    };
    struct DiskInfo {
        quint32 intDrive = 0;
        QString strModel;
        QString strSerial;
        QString strFirmware;
    };
    // Everything one document shows.
    struct Snapshot {
        QString strVersion;
        platform::MemoryStatus memory;
        platform::Totals totals;
        QVector<AdapterInfo> adapters;
        QVector<DiskInfo> disks;
        quint64 intHeartbeatDropped = 0;
        std::vector<platform::VolumeSpace> volumes;
        HostDocument::Facts host;
        // Each attached disk's own health, by its number (DiskHealthDocument::reading).
        std::vector<std::pair<quint32, platform::DiskHealth>> health;
    };

    // Takes memory and the device totals from the last sampling pass, the volumes' space through
    // their readers (VolumeReaders: a volume that does not answer within its deadline is marked so,
    // and render() leaves it out), and the devices' texts from the network and storage tables. A
    // table whose mutex is not free within tableWaitMs (it is being rebuilt) adds no texts to this
    // document; the tables themselves are never rebuilt.
    static Snapshot take();
    static constexpr int tableWaitMs = 100;

    // The document; pure. No two samples of a family carry the same labels: a device listed
    // twice in a table gives one info sample, and adapters whose names would give the same label
    // value are told apart by "#2", "#3", ... in the system's order.
    static QString render(const Snapshot &snapshot);
    static QString build() { return render(take()); }

    // A text from the system, byte for byte, as a label value written in the document. Distinct
    // texts give distinct values: valid UTF-8 stands as it is, a backslash as two, and every
    // control character and every byte that is not part of valid UTF-8 as \xHH (so an adapter
    // named "c" and byte 01 reads c\x01); then backslash and double quote are escaped as the
    // format requires.
    static QString labelValue(const std::string &bytes);
    static QString labelValue(const QString &text) { return labelValue(text.toStdString()); }
};
