#include "VolumesDocument.h"

#include "DeviceTables.h"
#include "Storage.h"
#include "VolumeReaders.h"
#include "platform/Platform.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>

namespace {
// A rebuilding table is not waited for: the volumes are the answer, the link to the card a
// convenience.
constexpr int tableWaitMs = 100;
} // namespace

QString VolumesDocument::render(const std::vector<platform::VolumeSpace> &volumes,
                                const QHash<quint32, QString> &storageIdents,
                                const QVector<DiskName> &disks) {
    QJsonArray list;
    for (const platform::VolumeSpace &volume : volumes) {
        QJsonObject entry;
        entry.insert(QStringLiteral("volume"), QString::fromStdString(volume.path));
        entry.insert(QStringLiteral("disk"), qint64(volume.disk));
        const auto ident = storageIdents.constFind(volume.disk);
        entry.insert(QStringLiteral("storage"), ident == storageIdents.constEnd()
                                                    ? QJsonValue(QJsonValue::Null)
                                                    : QJsonValue(*ident));
        const QJsonValue unknown(QJsonValue::Null);
        entry.insert(QStringLiteral("answering"), volume.answering);
        entry.insert(QStringLiteral("size"),
                     volume.answering ? QJsonValue(double(volume.size)) : unknown);
        entry.insert(QStringLiteral("free"),
                     volume.answering ? QJsonValue(double(volume.free)) : unknown);
        list.append(entry);
    }
    QJsonArray names;
    for (const DiskName &disk : disks)
        names.append(QJsonObject{{QStringLiteral("disk"), qint64(disk.intDrive)},
                                 {QStringLiteral("storage"), disk.strIdent},
                                 {QStringLiteral("name"), disk.strName}});
    return QString::fromUtf8(QJsonDocument(QJsonObject{{QStringLiteral("volumes"), list},
                                                       {QStringLiteral("disks"), names}})
                                 .toJson(QJsonDocument::Compact));
}

QHash<quint32, QString> VolumesDocument::storageIdents() {
    QHash<quint32, QString> idents;
    storageTable.tryVisit(tableWaitMs, [&idents](const Storage &disk) {
        idents.insert(disk.intDrive, disk.strIdent);
    });
    return idents;
}

QString VolumesDocument::build() {
    const QHash<quint32, QString> idents = storageIdents();
    // Asked of the system after the table's mutex is released.
    QVector<DiskName> disks;
    for (auto disk = idents.constBegin(); disk != idents.constEnd(); ++disk)
        disks.append({disk.key(), disk.value(),
                      QString::fromStdString(platform::diskSystemName(disk.key()))});
    std::sort(disks.begin(), disks.end(),
              [](const DiskName &a, const DiskName &b) { return a.intDrive < b.intDrive; });
    return render(VolumeReaders::instance().read(), idents, disks);
}
