#include "Storage.h"

#include "DeviceTables.h"
#include "Perfdata.h"

Storage::Storage(quint32 drive, const QString &model, const QString &serial,
                 const QString &firmware)
    : strIdent(makeIdent()), intDrive(drive), strModel(model), strSerial(serial),
      strFirmware(firmware), listVolumes(volumeList(platform::volumesOfDisk(drive))),
      strInstance(instanceText(drive, listVolumes)) {}

QStringList Storage::volumeList(const std::vector<std::string> &roots) {
    QStringList volumes;
    for (const std::string &root : roots)
        volumes.append(QString::fromStdString(root).trimmed());
    // The counter service names a disk's instance with its letters in ascending order.
    volumes.sort();
    return volumes;
}

QString Storage::instanceText(quint32 drive, const QStringList &volumes) {
    std::vector<std::string> roots;
    for (const QString &volume : volumes)
        roots.push_back(volume.toStdString());
    return QString::fromStdString(platform::diskCounterInstance(drive, roots));
}

void Storage::sample() {
    perfdata()->sample(strInstance, QStringLiteral("PhysicalDisk"),
                       {&counterPacketsRead, &counterPacketsWrite, &counterBytesRead,
                        &counterBytesWrite, &counterUsage});
    store(counterPacketsRead.value, counterPacketsWrite.value, counterBytesRead.value,
          counterBytesWrite.value, counterUsage.value);
}

void Storage::store(qint64 reads, qint64 writes, qint64 bytesRead, qint64 bytesWrite, qint64 busy) {
    intPacketsRead = static_cast<quint64>(reads);
    intPacketsWrite = static_cast<quint64>(writes);
    intBytesRead = static_cast<quint64>(bytesRead);
    intBytesWrite = static_cast<quint64>(bytesWrite);
    // Clamped: the counter service does not cap percentages at 100.
    intUsage = clampUsage(busy);
}

void storageTableFill() {
    // Far more disks than any machine holds; stops a scan that never meets a closed number.
    constexpr quint32 diskLimit = 4096;
    storageTable.fill([] {
        for (quint32 n = 0; n < diskLimit; ++n) {
            platform::DiskIdentity identity;
            if (!platform::physicalDisk(n, identity))
                break;
            storageTable.append(new Storage(n, deviceText(identity.model),
                                            deviceText(identity.serial),
                                            deviceText(identity.firmware)));
        }
    });
}

void storageTableClear() {
    storageTable.clear();
}
