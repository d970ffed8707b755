// The machine's figures for a monitoring server, served at /metrics in the Prometheus text
// format (0.0.4): the system's own running totals per device, so that the monitoring server
// computes rates over whatever window it likes, memory as it is at the moment of the request,
// and the devices' texts as labels of info metrics, never as values.
#pragma once

#include "platform/Platform.h"
#include "platform/Totals.h"
#include "platform/Volumes.h"

#include <QString>
#include <QVector>

class MetricsDocument {
public:
    static const QString contentType;

    // True for the path "/metrics", with or without a query.
    static bool serves(const QString &requestPath);

    struct AdapterInfo {
        QString strName;
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
        std::vector<platform::VolumeSpace> volumes;
    };

    // Reads memory and the device totals from the system now, and the devices' texts from the
    // network and storage tables. A table whose mutex is not free within tableWaitMs (it is
    // being rebuilt) adds no texts to this document; the tables themselves are never rebuilt.
    static Snapshot take();
    static constexpr int tableWaitMs = 100;

    // The document; pure. A device listed twice in a table gives one info sample.
    static QString render(const Snapshot &snapshot);
    static QString build() { return render(take()); }

    // A text from the system as a label value: cleaned, then with backslash, double quote and
    // line feed escaped as the format requires.
    static QString labelValue(const QString &text);
};
