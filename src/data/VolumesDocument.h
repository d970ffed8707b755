// The volumes of the physical disks with their space, served at /volumes.json: read from the
// system at the moment of the request, each volume tied to its disk's record by identifier.
#pragma once

#include "platform/Volumes.h"

#include <QHash>
#include <QString>
#include <QVector>
#include <vector>

class VolumesDocument {
public:
    // {"volumes":[{"volume","disk","storage","answering","size","free"}]}: sizes in bytes, free
    // as an ordinary user may still write, both null for a volume not answering in time; "storage"
    // is the identifier of the disk's record in the status document, null when the disk has none
    // (no scan yet, or a scan is under way). Beside them "disks":[{"disk","storage","name"}], each
    // disk record's number and the system's name for it ("sda", "PhysicalDrive0"), which the status
    // document does not carry and the dashboard shows for a disk that reports no model.
    struct DiskName {
        quint32 intDrive = 0;
        QString strIdent;
        QString strName;
    };
    static QString render(const std::vector<platform::VolumeSpace> &volumes,
                          const QHash<quint32, QString> &storageIdents,
                          const QVector<DiskName> &disks = {});
    static QString build();
    // The identifier of each disk's record by the disk's number, as the storage table holds
    // them now; empty while a scan rebuilds the table (it is not waited for: the figures are
    // the answer, the link to the card a convenience).
    static QHash<quint32, QString> storageIdents();
};
