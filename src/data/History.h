// The series the dashboard's overview and cards draw, kept by the monitor itself, so that a page
// opened (or reloaded) now shows the past hour at once: one row a second for the last hour and
// the mean of each minute for the last 24 hours, in rings of fixed size.
//
// Series are keyed as the dashboard keys them, by what identifies a device to the system rather
// than by the identifiers of a scan: a processor by its number ("cpu:3"), an adapter by its name
// ("net:eth0"), a disk by its model and serial ("disk:<model>:<serial>"), memory by its name
// ("mem:Physical"), "#2" telling apart a second device of the same texts; a total by its kind
// and the keys of its devices ("Processor:cpu:0,cpu:1"). So a rescan keeps the series of the
// devices still present, and only devices that come or go start or end one. The state() of the
// rings can be kept in a file and restored after a restart (HistoryFile).
#pragma once

#include <QMutex>
#include <QString>
#include <functional>
#include <vector>

class QDataStream;
class Sample;

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

    // Records the published sample under the keys of the devices in the tables (each read under
    // its own mutex, never this history's); nothing before the first pass.
    void recordTables();
    void recordTables(const Sample &sample);
    // One row of every series at the clock's time. A series missing from `sample` is dropped, a
    // new one starts empty; an empty sample (no devices taken stock of yet) records nothing.
    void record(const std::vector<Entry> &sample);

    // {"now": ms, "blocks": [minute block, second block]}, each block {"step": ms, "start": ms of
    // its first row, "deltas": ms from the previous row (0 first), "series": {key: [[column]...]}},
    // holding the rows newer than `since`: minute rows only before the oldest second row.
    QString document(qint64 since);
    // The newest second row of every series, with its time (-1 and nothing before the first
    // row); a series still settling, or missing a figure, reads NaN there.
    qint64 newest(std::vector<Entry> &row) const;

    // The document for "/history.json?since=<ms>".
    static QString build(const QString &requestPath);
    // The since of a request path: absent, not a number or negative reads 0 (everything); a
    // number too large for 64 bits reads as the far future (nothing).
    static qint64 sinceOf(const QString &requestPath);

    // Every row and series as bytes, written under the mutex to `out` as a QByteArray of them
    // would be, its length first, without making one: a save streams them straight to its file.
    // Their size is bounded by the rings' and maxTracks.
    void writeState(QDataStream &out) const;
    // The same bytes, in memory.
    QByteArray state() const;
    // Takes the rows and series of a state() in place of what it holds. False, and nothing
    // changed, when the bytes are not one whole state, or hold rows out of order or newer than
    // the clock. The series it restores leave their first rows empty, as new ones do: the
    // counters behind them start again.
    bool restore(const QByteArray &state);
    // Tracks beyond this many are not kept in a state (far more than any machine's devices).
    static constexpr int maxTracks = 1024;

private:
    struct Track {
        QString key;
        int width = 1;
        int decimals = 0;
        bool settles = false;
        int settling = 0;          // rows still to leave empty
        std::vector<float> second; // secondRows * width, aligned with secondTimes
        std::vector<float> minute; // minuteRows * width, aligned with minuteTimes
        double sum[maxWidth] = {0, 0};
        qint32 count[maxWidth] = {0, 0};
    };
    struct Ring {
        std::vector<qint64> times;
        int next = 0;
        int count = 0;
        int slot(int i) const; // the i-th oldest row's slot
        qint64 newest() const;
    };

    void adoptSet(const std::vector<Entry> &sample);
    void writeRings(QDataStream &out) const; // the mutex held
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

    // What identifies a device of the tables: its number, or its texts.
    struct DeviceId {
        qint64 number = 0;
        QString text;
        QString more;
        bool operator==(const DeviceId &other) const {
            return number == other.number && text == other.text && more == other.more;
        }
    };
    // The keys of one kind of device, built from the devices a pass found and kept while the
    // next passes find the same ones, so that a pass builds no key.
    struct KindKeys {
        bool built = false;
        std::vector<DeviceId> ids;
        std::vector<QString> keys; // one per device, in table order
        QString total;             // empty when there is no device
    };
    using MakeKey = QString (*)(const DeviceId &);
    static const KindKeys &keysOf(KindKeys &kind, const std::vector<DeviceId> &ids,
                                  const char *total, MakeKey key);
    // Sets the keys of the entries from `first` on (one per device, where the kind has them), and
    // adds the total's entry under its key.
    static void nameEntries(std::vector<Entry> &sample, size_t first, const KindKeys &kind,
                            Entry total);

    // What recordTables() gathers: only the sampling thread, the one caller, touches these,
    // before it takes the mutex.
    std::vector<Entry> recording;
    std::vector<DeviceId> visited;
    KindKeys processorKeys, memoryKeys, networkKeys, storageKeys;

    // Guards everything below: the sampling thread records, connection threads read, the
    // sampling thread (or the end) copies the state for the file.
    mutable QMutex mutex;
    Clock clock;
    std::vector<Track> tracks;
    Ring seconds;
    Ring minutes;
    qint64 openMinute = -1; // the minute the sums belong to
};
