#include "DiskHealthDocument.h"

#include "KeptReading.h"
#include "VolumesDocument.h"
#include "platform/Platform.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

DiskHealthDocument::Rows DiskHealthDocument::reading() {
    // Never destroyed: a connection thread may still ask while the process exits.
    static auto *const kept = new KeptReading<Rows>(
        [] {
            Rows rows;
            for (const uint32_t n : platform::physicalDiskNumbers())
                rows.emplace_back(n, platform::diskHealth(n));
            return rows;
        },
        gapMs);
    return kept->value();
}

QString DiskHealthDocument::render(const Rows &rows, const QHash<quint32, QString> &storageIdents) {
    using Kind = platform::DiskHealth::Kind;
    QJsonArray list;
    for (const auto &[disk, health] : rows) {
        const auto ident = storageIdents.constFind(disk);
        QJsonObject entry{{QStringLiteral("disk"), qint64(disk)},
                          {QStringLiteral("storage"), ident == storageIdents.constEnd()
                                                          ? QJsonValue(QJsonValue::Null)
                                                          : QJsonValue(*ident)},
                          {QStringLiteral("reported"), health.kind != Kind::None}};
        const auto count = [&entry](const char *name, std::optional<uint64_t> value) {
            if (value)
                entry.insert(QLatin1String(name), double(*value));
        };
        if (health.kind == Kind::None) {
            entry.insert(QStringLiteral("why"), QString::fromStdString(health.why));
        } else if (health.kind == Kind::Nvme) {
            entry.insert(QStringLiteral("kind"), QStringLiteral("nvme"));
            entry.insert(QStringLiteral("temperature"), health.temperatureCelsius
                                                            ? QJsonValue(*health.temperatureCelsius)
                                                            : QJsonValue(QJsonValue::Null));
            count("criticalWarning", health.criticalWarning);
            count("percentageUsed", health.percentageUsed);
            count("mediaErrors", health.mediaErrors);
            count("powerOnHours", health.powerOnHours);
        } else {
            entry.insert(QStringLiteral("kind"), QStringLiteral("ata"));
            count("reallocated", health.reallocated);
            count("reportedUncorrectable", health.reportedUncorrectable);
            count("pending", health.pending);
            count("offlineUncorrectable", health.offlineUncorrectable);
        }
        if (health.kind != Kind::None)
            entry.insert(QStringLiteral("failing"), health.failing);
        list.append(entry);
    }
    return QString::fromUtf8(
        QJsonDocument(QJsonObject{{QStringLiteral("disks"), list}}).toJson(QJsonDocument::Compact));
}

QString DiskHealthDocument::build() {
    return render(reading(), VolumesDocument::storageIdents());
}
