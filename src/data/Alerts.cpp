#include "Alerts.h"

#include "MachineSettings.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutexLocker>
#include <algorithm>
#include <cmath>

struct Alerts::Rule {
    Kind kind;
    const char *name;
    const char *severity;
    bool above; // fires at or above the limit; else below it
    double limit;
    qint64 holdMs;
    double band;
    QString words;
};

namespace {
QString percent(double value) {
    return QString::number(value, 'g', 4) + QStringLiteral(" %");
}

QString during(int seconds) {
    if (seconds == 60)
        return QStringLiteral("a minute");
    if (seconds % 60 == 0)
        return QStringLiteral("%1 minutes").arg(seconds / 60);
    return seconds == 1 ? QStringLiteral("a second") : QStringLiteral("%1 seconds").arg(seconds);
}

QString identity(const QString &name, const QString &severity, const QString &device) {
    return name + QChar(0x1f) + severity + QChar(0x1f) + device;
}
} // namespace

Alerts &Alerts::instance() {
    // Never destroyed: connection threads may still read it at exit.
    static Alerts *const alerts = new Alerts;
    return *alerts;
}

Alerts::Limits Alerts::configured() {
    const auto number = [](const char *key) {
        return MachineSettings::value(QLatin1String(key)).toDouble();
    };
    Limits l;
    l.processorPercent = number("alerts/processorPercent");
    l.processorSeconds = int(number("alerts/processorSeconds"));
    l.memoryPercent = number("alerts/memoryPercent");
    l.linkPercent = number("alerts/linkPercent");
    l.volumeWarningPercent = number("alerts/volumeWarningPercent");
    l.volumeCriticalPercent = number("alerts/volumeCriticalPercent");
    l.silentMinutes = int(number("alerts/silentMinutes"));
    return l;
}

void Alerts::setLimits(const Limits &newLimits) {
    QMutexLocker lock(&mutex);
    limits = newLimits;
}

std::vector<Alerts::Rule> Alerts::rules(const Limits &l) {
    const qint64 processorMs = qint64(l.processorSeconds) * 1000;
    const qint64 heldMs = heldSeconds * 1000LL;
    const QString busy = QStringLiteral("Busy: %1 or more for %2")
                             .arg(percent(l.processorPercent), during(l.processorSeconds));
    return {
        {Kind::Processor, "ProcessorBusy", "warning", true, l.processorPercent, processorMs,
         bandPercent, busy},
        {Kind::Core, "CoreBusy", "warning", true, l.processorPercent, processorMs, bandPercent,
         busy},
        {Kind::Memory, "MemoryFull", "warning", true, l.memoryPercent, heldMs, bandPercent,
         QStringLiteral("Nearly full: %1 or more in use for a minute")
             .arg(percent(l.memoryPercent))},
        {Kind::Link, "LinkBusy", "warning", true, l.linkPercent, heldMs, bandPercent,
         QStringLiteral("Busy link: %1 or more of its speed for a minute")
             .arg(percent(l.linkPercent))},
        {Kind::Volume, "VolumeLowSpace", "warning", false, l.volumeWarningPercent, 0,
         bandFreePercent,
         QStringLiteral("Low on space: under %1 free").arg(percent(l.volumeWarningPercent))},
        {Kind::Volume, "VolumeLowSpace", "critical", false, l.volumeCriticalPercent, 0,
         bandFreePercent,
         QStringLiteral("Almost full: under %1 free").arg(percent(l.volumeCriticalPercent))},
        {Kind::DiskFailing, "DiskFailing", "critical", true, 1, 0, 0,
         QStringLiteral("Failing: the drive itself says so")},
        {Kind::DiskSectors, "DiskSectorsGrowing", "warning", true, 1, 0, 0,
         QStringLiteral("Sectors given up on: reallocated or pending sectors grew")},
        {Kind::Silent, "MachineSilent", "critical", true, double(l.silentMinutes), 0, 0,
         QStringLiteral("Silent: no answer for %1 minutes or more").arg(l.silentMinutes)},
    };
}

std::vector<Alerts::Alert> Alerts::judge(const std::vector<Reading> &given, qint64 now) {
    QMutexLocker lock(&mutex);
    // Sector counts are judged by how much they grew since the count they are measured from.
    std::vector<Reading> readings = given;
    for (Reading &r : readings) {
        if (r.kind != Kind::DiskSectors || !std::isfinite(r.value))
            continue;
        auto known = sectors.find(r.device);
        if (known == sectors.end())
            known = sectors.insert(r.device, {r.value, r.value, -1});
        if (r.value < known->base)
            known->base = r.value; // the drive was replaced, or its count reset
        else if (r.value > known->last)
            known->grewAt = now; // each rise is remembered afresh
        known->last = r.value;
        if (known->grewAt >= 0 && now - known->grewAt >= sectorsMemoryMs) {
            known->base = r.value;
            known->grewAt = -1;
        }
        const double grown = r.value - known->base;
        r.value = grown;
    }

    std::vector<Alert> changes;
    QHash<QString, bool> seen;
    for (const Rule &rule : rules(limits)) {
        for (const Reading &r : readings) {
            if (r.kind != rule.kind)
                continue;
            const QString id =
                identity(QLatin1String(rule.name), QLatin1String(rule.severity), r.device);
            seen.insert(id, true);
            State &state = states[id];
            const bool known = std::isfinite(r.value);
            const bool meets = known && (rule.above ? r.value >= rule.limit : r.value < rule.limit);
            const bool clear = known && (rule.above ? r.value < rule.limit - rule.band
                                                    : r.value >= rule.limit + rule.band);
            if (state.alert.since > 0) {
                if (known)
                    state.alert.value = r.value;
                if (clear) {
                    state.alert.ended = now;
                    changes.push_back(state.alert);
                    states.remove(id);
                }
                continue;
            }
            if (!meets) {
                states.remove(id);
                continue;
            }
            if (state.pendingSince < 0)
                state.pendingSince = now;
            if (now - state.pendingSince < rule.holdMs)
                continue;
            state.alert = Alert{QLatin1String(rule.name),
                                QLatin1String(rule.severity),
                                r.device,
                                r.key,
                                rule.words,
                                r.value,
                                now,
                                0};
            changes.push_back(state.alert);
        }
    }
    for (auto s = states.begin(); s != states.end();) {
        if (seen.contains(s.key())) {
            ++s;
            continue;
        }
        // The device is gone (or no longer watched): what fired for it resolves.
        if (s->alert.since > 0) {
            s->alert.ended = now;
            changes.push_back(s->alert);
        }
        s = states.erase(s);
    }
    return changes;
}

std::vector<Alerts::Alert> Alerts::firing() const {
    std::vector<Alert> list;
    {
        QMutexLocker lock(&mutex);
        for (const State &s : states) {
            if (s.alert.since > 0)
                list.push_back(s.alert);
        }
    }
    std::sort(list.begin(), list.end(), [](const Alert &a, const Alert &b) {
        return a.since != b.since ? a.since < b.since : a.key < b.key;
    });
    return list;
}

QString Alerts::document(const std::vector<Alert> &alerts, qint64 now) {
    QJsonArray list;
    for (const Alert &a : alerts)
        list.append(QJsonObject{{QStringLiteral("name"), a.name},
                                {QStringLiteral("severity"), a.severity},
                                {QStringLiteral("device"), a.device},
                                {QStringLiteral("key"), a.key},
                                {QStringLiteral("since"), double(a.since)},
                                {QStringLiteral("value"), a.value},
                                {QStringLiteral("words"), a.words}});
    return QString::fromUtf8(QJsonDocument(QJsonObject{{QStringLiteral("now"), double(now)},
                                                       {QStringLiteral("alerts"), list}})
                                 .toJson(QJsonDocument::Compact));
}
