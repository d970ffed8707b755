#include "SummaryDocument.h"

#include "Alerts.h"
#include "HostDocument.h"
#include "Sample.h"
#include "VolumeReaders.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <cmath>

namespace {
double oneDecimal(double value) {
    return std::round(value * 10) / 10;
}

} // namespace

SummaryDocument &SummaryDocument::instance() {
    // Never destroyed: a connection thread may still ask while the process exits.
    static SummaryDocument *const document = new SummaryDocument;
    return *document;
}

QString SummaryDocument::render(std::optional<double> processor,
                                const platform::MemoryStatus &memory,
                                const std::vector<platform::VolumeSpace> &volumes,
                                const QJsonObject &host, const QJsonArray &alerts) {
    QJsonObject summary;
    summary.insert(QStringLiteral("processor"),
                   processor ? QJsonValue(oneDecimal(*processor)) : QJsonValue(QJsonValue::Null));
    summary.insert(QStringLiteral("memory"),
                   memory.totalPhys > 0 && memory.availPhys <= memory.totalPhys
                       ? QJsonValue(oneDecimal(100.0 * double(memory.totalPhys - memory.availPhys) /
                                               double(memory.totalPhys)))
                       : QJsonValue(QJsonValue::Null));
    const platform::VolumeSpace *fullest = nullptr;
    double fullestUsed = -1;
    for (const platform::VolumeSpace &volume : volumes) {
        if (!volume.answering || volume.size == 0 || volume.free > volume.size)
            continue;
        const double used = 100.0 * double(volume.size - volume.free) / double(volume.size);
        if (used > fullestUsed) {
            fullest = &volume;
            fullestUsed = used;
        }
    }
    summary.insert(QStringLiteral("volume"),
                   fullest ? QJsonValue(QJsonObject{
                                 {QStringLiteral("volume"), QString::fromStdString(fullest->path)},
                                 {QStringLiteral("used"), oneDecimal(fullestUsed)},
                                 {QStringLiteral("free"), oneDecimal(100.0 - fullestUsed)}})
                           : QJsonValue(QJsonValue::Null));
    summary.insert(QStringLiteral("host"), host);
    summary.insert(QStringLiteral("alerts"), alerts);
    return QString::fromUtf8(QJsonDocument(summary).toJson(QJsonDocument::Compact));
}

QString SummaryDocument::document() {
    // Processor and memory from the last sampling pass, as the dashboard shows them.
    const std::shared_ptr<const Sample> sample = Sample::current();
    std::optional<double> processor;
    platform::MemoryStatus memory;
    if (sample) {
        if (!sample->processors.empty())
            processor = double(sample->intProcessorUsage) / 1000.0;
        memory = sample->memory;
    }
    std::vector<Alerts::Alert> firing = Alerts::instance().firing();
    std::stable_sort(firing.begin(), firing.end(), [](const auto &a, const auto &b) {
        return a.severity == QLatin1String("critical") && b.severity != QLatin1String("critical");
    });
    QJsonArray alerts;
    for (const Alerts::Alert &a : firing) {
        if (alerts.size() < alertLimit)
            alerts.append(QJsonObject{{QStringLiteral("name"), a.name},
                                      {QStringLiteral("severity"), a.severity},
                                      {QStringLiteral("words"), a.words}});
    }
    return render(processor, memory, VolumeReaders::instance().read(),
                  HostDocument::json(HostDocument::read(), QDateTime::currentSecsSinceEpoch()),
                  alerts);
}
