#include "VolumesDocument.h"

#include "DeviceTables.h"
#include "Storage.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {
// A rebuilding table is not waited for: the volumes are the answer, the link to the card a
// convenience.
constexpr int tableWaitMs = 100;
} // namespace

QString VolumesDocument::render(const std::vector<platform::VolumeSpace> &volumes,
                                const QHash<quint32, QString> &storageIdents) {
    QJsonArray list;
    for (const platform::VolumeSpace &volume : volumes) {
        QJsonObject entry;
        entry.insert(QStringLiteral("volume"), QString::fromStdString(volume.path));
        entry.insert(QStringLiteral("disk"), qint64(volume.disk));
        const auto ident = storageIdents.constFind(volume.disk);
        entry.insert(QStringLiteral("storage"), ident == storageIdents.constEnd()
                                                    ? QJsonValue(QJsonValue::Null)
                                                    : QJsonValue(*ident));
        entry.insert(QStringLiteral("size"), double(volume.size));
        entry.insert(QStringLiteral("free"), double(volume.free));
        list.append(entry);
    }
    return QString::fromUtf8(QJsonDocument(QJsonObject{{QStringLiteral("volumes"), list}})
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
    return render(platform::volumeSpaces(), storageIdents());
}
