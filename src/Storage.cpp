#include "Storage.h"

#include "DeviceTables.h"
#include "Perfdata.h"

Storage::Storage(quint32 drive, const QString &model, const QString &serial,
                 const QString &firmware)
    : strIdent(makeIdent()), intDrive(drive), strModel(model), strSerial(serial),
      strFirmware(firmware), listVolumes(volumeList(platform::volumesOfDisk(drive))) {}

Storage::~Storage() {
    Perfdata::removeCounter(counterPacketsRead);
    Perfdata::removeCounter(counterPacketsWrite);
    Perfdata::removeCounter(counterBytesRead);
    Perfdata::removeCounter(counterBytesWrite);
    Perfdata::removeCounter(counterUsage);
}

QStringList Storage::volumeList(const std::vector<std::string> &roots) {
    QStringList volumes;
    for (const std::string &root : roots)
        volumes.append(QString::fromStdString(root).trimmed());
    // The counter service names a disk's instance with its letters in ascending order.
    volumes.sort();
    return volumes;
}

QString Storage::instanceText(quint32 drive, const QStringList &volumes) {
    QString text = QString::number(drive);
    for (const QString &volume : volumes)
        text += QLatin1Char(' ') + volume.left(1) + QLatin1Char(':');
    return text;
}

void Storage::sample() {
    const QVector<platform::CounterHandle *> handles = {&counterPacketsRead, &counterPacketsWrite,
                                                        &counterBytesRead, &counterBytesWrite,
                                                        &counterUsage};
    if (Perfdata::anyNull(handles)) {
        static const QStringList names = {
            QStringLiteral("Disk Reads/sec"), QStringLiteral("Disk Writes/sec"),
            QStringLiteral("Disk Read Bytes/sec"), QStringLiteral("Disk Write Bytes/sec"),
            QStringLiteral("% Disk Time")};
        perfdata()->setUpCounters(instanceText(intDrive, listVolumes),
                                  QStringLiteral("PhysicalDisk"), names, handles);
    }
    store(Perfdata::readCounter(counterPacketsRead, rateFlags),
          Perfdata::readCounter(counterPacketsWrite, rateFlags),
          Perfdata::readCounter(counterBytesRead, rateFlags),
          Perfdata::readCounter(counterBytesWrite, rateFlags),
          Perfdata::readCounter(counterUsage, percentFlags));
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
    QMutexLocker locker(&storageMutex);
    for (quint32 n = 0; n < diskLimit; ++n) {
        platform::DiskIdentity identity;
        if (!platform::physicalDisk(n, identity))
            break;
        storageTable.append(new Storage(n, deviceText(identity.model), deviceText(identity.serial),
                                        deviceText(identity.firmware)));
    }
}

void storageTableClear() {
    QMutexLocker locker(&storageMutex);
    for (qsizetype i = 0; i < storageTable.size(); ++i)
        delete storageTable.at(i);
    storageTable = QVector<Storage *>();
}
