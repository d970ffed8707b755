// The one judge of what needs attention: a processor busy for a while, memory nearly full, a link
// nearly saturated, a volume running out of space, a drive that says it is failing or gives up
// sectors, a machine of the fleet gone silent. It is fed once a second with the newest figures
// (AlertThread) and keeps, for every alert and device, whether it is pending, firing or clear,
// so that every viewer of the dashboard, /alerts.json, /metrics and the notifications all see
// the same judgement, a page opened late included.
//
// Limits have hysteresis: a figure that fired must fall a band below its limit (or rise a band
// above it, for free space) before the alert resolves, so a figure near its limit does not flap.
#pragma once

#include <QHash>
#include <QMutex>
#include <QString>
#include <functional>
#include <vector>

class Alerts {
public:
    // What a reading is of; each kind has its own rules.
    enum class Kind { Processor, Core, Memory, Link, Volume, DiskFailing, DiskSectors, Silent };

    struct Reading {
        Kind kind;
        QString device; // "all", "3", "Physical", "eth0", "/home", "0", "198.18.0.2"
        QString key;    // the dashboard's key of the device's card
        double value;   // percent, a count, minutes; NaN when unknown this time
    };

    struct Alert {
        QString name;     // "ProcessorBusy"
        QString severity; // "warning", "critical"
        QString device;
        QString key;
        QString words; // what it means, for people
        double value = 0;
        qint64 since = 0; // ms since the epoch it began firing
        qint64 ended = 0; // ms since the epoch it resolved; 0 while it fires
    };

    struct Limits {
        double processorPercent = 90;
        int processorSeconds = 60;
        double memoryPercent = 90;
        double linkPercent = 80;
        double volumeWarningPercent = 10;
        double volumeCriticalPercent = 5;
        int silentMinutes = 5;
    };

    // Memory and links must stay at their limits this long too.
    static constexpr int heldSeconds = 60;
    // How far below (or above, for free space) its limit a firing figure must go to resolve.
    static constexpr double bandPercent = 5;
    static constexpr double bandFreePercent = 1;
    // Sectors that grew keep their alert this long after the last growth, then the count they
    // reached becomes the one to grow from.
    static constexpr qint64 sectorsMemoryMs = 24 * 3600 * 1000LL;

    // The one judge of the process.
    static Alerts &instance();

    // The limits of the machine-wide file.
    static Limits configured();

    Alerts();
    Alerts(const Alerts &) = delete;
    Alerts &operator=(const Alerts &) = delete;

    void setLimits(const Limits &limits);

    // Judges one round of readings taken at `now` (ms since the epoch). Returns what changed:
    // alerts that began firing (ended 0) and alerts that resolved (ended set). An alert whose
    // device gave no reading this round resolves; one whose reading is NaN keeps its state.
    std::vector<Alert> judge(const std::vector<Reading> &readings, qint64 now);

    // What fires now, in the order the alerts began.
    std::vector<Alert> firing() const;

    // {"now": ms, "alerts": [{"name","severity","device","key","since","value","words"}]}.
    static QString document(const std::vector<Alert> &alerts, qint64 now);

private:
    struct Rule {
        Kind kind;
        QString name;
        QString severity;
        bool above; // fires at or above the limit; else below it
        double limit;
        qint64 holdMs;
        double band;
        QString words;
        QString prefix; // of the identity of its alert for a device: name and severity
    };
    struct State {
        qint64 pendingSince = -1;
        quint64 round = 0; // the last round that gave its device a reading
        Alert alert;       // since > 0 while firing
    };
    static std::vector<Rule> rules(const Limits &limits);

    // Guards everything below: the judge's round (on the sampling thread) judges,
    // connection threads read what fires.
    mutable QMutex mutex;
    // Built when the limits are set, not every round.
    std::vector<Rule> ruleSet;
    quint64 rounds = 0;
    QHash<QString, State> states;
    // Sectors: the count grown from, the last count, and when it last grew, by device.
    struct Sectors {
        double base = 0;
        double last = 0;
        qint64 grewAt = -1;
    };
    QHash<QString, Sectors> sectors;
};
