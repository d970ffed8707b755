#include "Alerts.h"

#include "MachineSettings.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutexLocker>
#include <algorithm>
#include <cmath>

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

Alerts::Alerts() : ruleSet(rules(Limits())) {}

void Alerts::setLimits(const Limits &newLimits) {
    std::vector<Rule> built = rules(newLimits);
    QMutexLocker lock(&mutex);
    ruleSet = std::move(built);
}

std::vector<Alerts::Rule> Alerts::rules(const Limits &l) {
    const qint64 processorMs = qint64(l.processorSeconds) * 1000;
    const qint64 heldMs = heldSeconds * 1000LL;
    const QString busy = QStringLiteral("Busy: %1 or more for %2")
                             .arg(percent(l.processorPercent), during(l.processorSeconds));
    std::vector<Rule> list;
    const auto add = [&list](Kind kind, const char *name, const char *severity, bool above,
                             double limit, qint64 holdMs, double band, const QString &words) {
        const QString n = QLatin1String(name), s = QLatin1String(severity);
        list.push_back(
            {kind, n, s, above, limit, holdMs, band, words, n + QChar(0x1f) + s + QChar(0x1f)});
    };
    add(Kind::Processor, "ProcessorBusy", "warning", true, l.processorPercent, processorMs,
        bandPercent, busy);
    add(Kind::Core, "CoreBusy", "warning", true, l.processorPercent, processorMs, bandPercent,
        busy);
    add(Kind::Memory, "MemoryFull", "warning", true, l.memoryPercent, heldMs, bandPercent,
        QStringLiteral("Nearly full: %1 or more in use for a minute")
            .arg(percent(l.memoryPercent)));
    add(Kind::Link, "LinkBusy", "warning", true, l.linkPercent, heldMs, bandPercent,
        QStringLiteral("Busy link: %1 or more of its speed for a minute")
            .arg(percent(l.linkPercent)));
    add(Kind::Volume, "VolumeLowSpace", "warning", false, l.volumeWarningPercent, 0,
        bandFreePercent,
        QStringLiteral("Low on space: under %1 free").arg(percent(l.volumeWarningPercent)));
    add(Kind::Volume, "VolumeLowSpace", "critical", false, l.volumeCriticalPercent, 0,
        bandFreePercent,
        QStringLiteral("Almost full: under %1 free").arg(percent(l.volumeCriticalPercent)));
    add(Kind::DiskFailing, "DiskFailing", "critical", true, 1, 0, 0,
        QStringLiteral("Failing: the drive itself says so"));
    add(Kind::DiskSectors, "DiskSectorsGrowing", "warning", true, 1, 0, 0,
        QStringLiteral("Sectors given up on: reallocated or pending sectors grew"));
    add(Kind::Silent, "MachineSilent", "critical", true, double(l.silentMinutes), 0, 0,
        QStringLiteral("Silent: no answer for %1 minutes or more").arg(l.silentMinutes));
    return list;
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
    // A state not given a reading this round is for a device that went away.
    const quint64 round = ++rounds;
    QString id;
    for (const Rule &rule : ruleSet) {
        for (const Reading &r : readings) {
            if (r.kind != rule.kind)
                continue;
            const bool known = std::isfinite(r.value);
            const bool meets = known && (rule.above ? r.value >= rule.limit : r.value < rule.limit);
            const bool clear = known && (rule.above ? r.value < rule.limit - rule.band
                                                    : r.value >= rule.limit + rule.band);
            // Nothing is kept for a figure within its limit; with nothing pending or firing,
            // the usual round, there is no state to look up either.
            if (!meets && states.isEmpty())
                continue;
            id = rule.prefix;
            id += r.device;
            auto state = states.find(id);
            if (state == states.end()) {
                // Nothing is kept for a figure within its limit.
                if (!meets)
                    continue;
                state = states.insert(id, State());
            }
            state->round = round;
            if (state->alert.since > 0) {
                if (known)
                    state->alert.value = r.value;
                if (clear) {
                    state->alert.ended = now;
                    changes.push_back(state->alert);
                    states.erase(state);
                }
                continue;
            }
            if (!meets) {
                states.erase(state);
                continue;
            }
            if (state->pendingSince < 0)
                state->pendingSince = now;
            if (now - state->pendingSince < rule.holdMs)
                continue;
            state->alert =
                Alert{rule.name, rule.severity, r.device, r.key, rule.words, r.value, now, 0};
            changes.push_back(state->alert);
        }
    }
    for (auto s = states.begin(); s != states.end();) {
        if (s->round == round) {
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
