#include "SummaryDocument.h"

#include "Alerts.h"
#include "HostDocument.h"
#include "VolumeReaders.h"
#include "platform/Totals.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutexLocker>
#include <QThread>
#include <cmath>

namespace {
double oneDecimal(double value) {
    return std::round(value * 10) / 10;
}

// Milliseconds on the steady clock.
qint64 steadyMs() {
    return QDeadlineTimer::current().deadline();
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

SummaryDocument::Reading SummaryDocument::read() {
    Reading reading;
    reading.intAt = steadyMs();
    for (const platform::ProcessorTotals &row : platform::totals().processors) {
        reading.intBusy += row.busyMicroseconds;
        ++reading.intCount;
    }
    return reading;
}

QString SummaryDocument::document() {
    QMutexLocker lock(&mutex);
    if (last.intAt < 0 || steadyMs() - last.intAt > baseAgeMs) {
        last = read();
        QThread::msleep(firstWindowMs);
    }
    const Reading now = read();
    // Two machines asking at nearly the same moment share one window rather than split it.
    const qint64 elapsedMs = now.intAt - last.intAt;
    if (elapsedMs >= firstWindowMs) {
        share.reset();
        if (now.intCount > 0 && now.intCount == last.intCount && now.intBusy >= last.intBusy)
            share =
                std::min(100.0, double(now.intBusy - last.intBusy) /
                                    (double(elapsedMs) * 1000.0 * double(now.intCount)) * 100.0);
        last = now;
    }
    const std::optional<double> processor = share;
    lock.unlock();
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
    return render(processor, platform::memoryStatus(), VolumeReaders::instance().read(),
                  HostDocument::json(HostDocument::read(), QDateTime::currentSecsSinceEpoch()),
                  alerts);
}
