#include "Storage.h"

#include "DeviceTables.h"
#include "Perfdata.h"

Storage::Storage(quint32 drive, const QString &model, const QString &serial,
                 const QString &firmware)
    : strIdent(makeIdent()), intDrive(drive), strModel(model), strSerial(serial),
      strFirmware(firmware), listVolumes(volumeList(platform::volumesOfDisk(drive))) {}

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

CounterTarget Storage::counterTarget() const {
    return {QStringLiteral("PhysicalDisk"), instanceText(intDrive, listVolumes).toStdString()};
}

QVector<Counter *> Storage::counters() {
    return {&counterPacketsRead, &counterPacketsWrite, &counterBytesRead, &counterBytesWrite,
            &counterUsage};
}

void Storage::sample() {
    perfdata()->sample([this] { return counterTarget(); }, counters());
    store(counterPacketsRead.value, counterPacketsWrite.value, counterBytesRead.value,
          counterBytesWrite.value, counterUsage.value);
}

bool Storage::adopt(Storage &old) {
    if (intDrive != old.intDrive || listVolumes != old.listVolumes)
        return false;
    for (auto [mine, theirs] : {std::pair(&counterPacketsRead, &old.counterPacketsRead),
                                {&counterPacketsWrite, &old.counterPacketsWrite},
                                {&counterBytesRead, &old.counterBytesRead},
                                {&counterBytesWrite, &old.counterBytesWrite},
                                {&counterUsage, &old.counterUsage}})
        mine->takeOver(*theirs);
    store(counterPacketsRead.value, counterPacketsWrite.value, counterBytesRead.value,
          counterBytesWrite.value, counterUsage.value);
    return true;
}

void Storage::store(qint64 reads, qint64 writes, qint64 bytesRead, qint64 bytesWrite, qint64 busy) {
    intPacketsRead = static_cast<quint64>(reads);
    intPacketsWrite = static_cast<quint64>(writes);
    intBytesRead = static_cast<quint64>(bytesRead);
    intBytesWrite = static_cast<quint64>(bytesWrite);
    // Clamped: the counter service does not cap percentages at 100.
    intUsage = clampUsage(busy);
}

namespace {
QVector<Storage *> scanDisks() {
    QVector<Storage *> records;
    for (const quint32 n : platform::physicalDiskNumbers()) {
        platform::DiskIdentity identity;
        // A disk that went away since it was listed is left out.
        if (!platform::physicalDisk(n, identity))
            continue;
        records.append(new Storage(n, deviceText(identity.model), deviceText(identity.serial),
                                   deviceText(identity.firmware)));
    }
    return records;
}
} // namespace

void storageTableFill() {
    storageTable.fill([] {
        for (Storage *record : scanDisks())
            storageTable.append(record);
    });
}

void storageTableClear() {
    storageTable.clear();
}

void storageTableRescan() {
    storageTable.replace(scanDisks());
}
