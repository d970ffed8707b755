// The series the dashboard's overview and cards draw, kept by the monitor itself, so that a page
// opened (or reloaded) now shows the past hour at once: one row a second for the last hour and
// the mean of each minute for the last 24 hours, in rings of fixed size.
//
// Series are keyed as the dashboard keys them: a device by its strIdent, a total by its kind and
// the identifiers of its devices ("Processor:<ident>,<ident>"), so that a rescan, which makes
// new identifiers, starts new series and ends the vanished ones.
#pragma once

#include <QMutex>
#include <QString>
#include <functional>
#include <vector>

class History {
public:
    using Clock = std::function<qint64()>; // milliseconds since the epoch

    static constexpr int secondRows = 3600;
    static constexpr int minuteRows = 1440;
    static constexpr qint64 minuteMs = 60000;
    // A new processor, adapter or disk reads 0 until its counters have been sampled twice: those
    // rows are left empty rather than drawn as a drop to zero.
    static constexpr int settlingRows = 2;
    // At most two figures per series: a usage, or bytes read and written per second.
    static constexpr int maxWidth = 2;

    // One series' figures of one sample.
    struct Entry {
        Entry() = default;
        Entry(const QString &name, float first, float second, int columns, int places,
              bool settling)
            : key(name), width(columns), values{first, second}, decimals(places),
              settles(settling) {}

        QString key;
        int width = 1;
        float values[maxWidth] = {0, 0};
        int decimals = 0; // printed with this many decimals
        bool settles = false;
    };

    // The one history of the process, fed by the sampling thread.
    static History &instance();

    History();
    History(const History &) = delete;
    History &operator=(const History &) = delete;

    // Wall clock by default; tests and the bench inject their own.
    void setClock(Clock clock);

    // Reads the device tables, each under its own mutex (never this history's), and records them.
    void recordTables();
    // One row of every series at the clock's time. A series missing from `sample` is dropped, a
    // new one starts empty; an empty sample (no devices) forgets everything.
    void record(const std::vector<Entry> &sample);

    // {"now": ms, "blocks": [minute block, second block]}, each block {"step": ms, "start": ms of
    // its first row, "deltas": ms from the previous row (0 first), "series": {key: [[column]...]}},
    // holding the rows newer than `since`: minute rows only before the oldest second row.
    QString document(qint64 since);
    // The document for "/history.json?since=<ms>".
    static QString build(const QString &requestPath);
    // The since of a request path: absent, not a number or negative reads 0 (everything); a
    // number too large for 64 bits reads as the far future (nothing).
    static qint64 sinceOf(const QString &requestPath);

private:
    struct Track {
        QString key;
        int width = 1;
        int decimals = 0;
        int settling = 0;          // rows still to leave empty
        std::vector<float> second; // secondRows * width, aligned with secondTimes
        std::vector<float> minute; // minuteRows * width, aligned with minuteTimes
        double sum[maxWidth] = {0, 0};
        int count[maxWidth] = {0, 0};
    };
    struct Ring {
        std::vector<qint64> times;
        int next = 0;
        int count = 0;
        int slot(int i) const; // the i-th oldest row's slot
        qint64 newest() const;
    };

    void adoptSet(const std::vector<Entry> &sample);
    void closeMinute();
    void forget();
    // The rows a document shows, copied out under the mutex and formatted after it is released,
    // so that a long document never holds the sampling thread up.
    struct Series {
        QByteArray key;
        int width = 1;
        int decimals = 0;
    };
    struct Block {
        qint64 step = 0;
        std::vector<qint64> times;
        std::vector<float> values; // series by series, column by column, oldest row first
    };
    Block copyBlock(const Ring &ring, bool minuteBlock, int first, int end, qint64 step) const;
    static void appendBlock(QByteArray &out, const Block &block, const std::vector<Series> &series);

    // The sample being gathered by recordTables(): only the sampling thread, the one caller,
    // touches it, before it takes the mutex.
    std::vector<Entry> recording;

    // Guards everything below: the sampling thread records, connection threads read.
    QMutex mutex;
    Clock clock;
    std::vector<Track> tracks;
    Ring seconds;
    Ring minutes;
    qint64 openMinute = -1; // the minute the sums belong to
};
