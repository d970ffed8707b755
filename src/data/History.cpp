#include "History.h"

#include "DeviceTables.h"
#include "Memory.h"
#include "Network.h"
#include "Processor.h"
#include "Sample.h"
#include "Storage.h"
#include "platform/Platform.h"

#include <QDataStream>
#include <QDateTime>
#include <QHash>
#include <QIODevice>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMutexLocker>
#include <algorithm>
#include <cmath>
#include <limits>

namespace {
constexpr float nothing = std::numeric_limits<float>::quiet_NaN();

float percent(quint64 thousandths) {
    return float(std::min(thousandths, usageFull)) / 1000.0f;
}

// A total's key: its kind and the keys of its devices, in table order.
QString totalKey(const char *kind, const QStringList &keys) {
    return QLatin1String(kind) + QLatin1Char(':') + keys.join(QLatin1Char(','));
}

// Device keys as the system knows the devices, unique within a kind: a second device with the
// same texts (two disks that report no model and no serial) is told apart by "#2" in table order.
class DeviceKeys {
public:
    explicit DeviceKeys(QStringList &keys) : keys(keys) {}
    QString operator()(const QString &key) {
        const int n = ++seen[key];
        keys.append(n == 1 ? key : key + QLatin1Char('#') + QString::number(n));
        return keys.constLast();
    }

private:
    QStringList &keys;
    QHash<QString, int> seen;
};

// A key as a JSON string, quotes included: adapter names may hold any character.
QByteArray jsonString(const QString &text) {
    const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return array.mid(1, array.size() - 2);
}

// Appends a figure as the dashboard draws it; a gap is null.
void appendNumber(QByteArray &out, float value, int decimals) {
    if (!std::isfinite(value)) {
        out += "null";
        return;
    }
    if (decimals == 0) {
        out += QByteArray::number(qint64(std::llround(double(value))));
        return;
    }
    QByteArray text = QByteArray::number(double(value), 'f', decimals);
    while (text.endsWith('0'))
        text.chop(1);
    if (text.endsWith('.'))
        text.chop(1);
    out += text;
}
} // namespace

int History::Ring::slot(int i) const {
    const int size = int(times.size());
    return (next - count + i + size) % size;
}

qint64 History::Ring::newest() const {
    return times[size_t(slot(count - 1))];
}

History &History::instance() {
    // Never destroyed: the sampling thread and connection threads may still use it at exit.
    static History *const history = new History;
    return *history;
}

History::History() : clock([] { return QDateTime::currentMSecsSinceEpoch(); }) {
    seconds.times.assign(secondRows, 0);
    minutes.times.assign(minuteRows, 0);
}

void History::setClock(Clock newClock) {
    QMutexLocker lock(&mutex);
    clock = std::move(newClock);
}

void History::recordTables() {
    const std::shared_ptr<const Sample> published = Sample::current();
    if (published)
        recordTables(*published);
}

const History::KindKeys &History::keysOf(KindKeys &kind, const std::vector<DeviceId> &ids,
                                         const char *total, MakeKey key) {
    if (kind.built && kind.ids == ids)
        return kind;
    kind.built = true;
    kind.ids = ids;
    kind.keys.clear();
    QStringList keys;
    DeviceKeys unique(keys);
    for (const DeviceId &id : ids)
        kind.keys.push_back(unique(key(id)));
    kind.total = keys.isEmpty() ? QString() : totalKey(total, keys);
    return kind;
}

void History::nameEntries(std::vector<Entry> &sample, size_t first, const KindKeys &kind,
                          Entry total) {
    for (size_t i = first; i < sample.size(); ++i)
        sample[i].key = kind.keys[i - first];
    if (kind.keys.empty())
        return;
    total.key = kind.total;
    sample.push_back(std::move(total));
}

void History::recordTables(const Sample &s) {
    // Kept from pass to pass, so that a pass allocates nothing once the devices are known, and
    // nothing at all before any are.
    std::vector<Entry> &sample = recording;
    sample.clear();
    // The devices from the tables, each under its own mutex, one after the other; the figures
    // from the pass's sample. This history's mutex is taken only in record(), after the last
    // table's is released.
    visited.clear();
    processorTable.visit([&](const Processor &p) {
        visited.push_back({p.intCore, {}, {}});
        const Sample::Rates *rates = s.processor(p.intCore);
        sample.push_back(Entry(QString(), percent(rates ? rates->intUsage : 0), 0, 1, 1, true));
    });
    nameEntries(sample, 0,
                keysOf(processorKeys, visited, "Processor",
                       [](const DeviceId &d) { return QStringLiteral("cpu:%1").arg(d.number); }),
                Entry(QString(), percent(s.intProcessorUsage), 0, 1, 1, true));

    visited.clear();
    bool physical = false, pagefile = false;
    memoryTable.visit([&](const Memory &m) {
        visited.push_back({0, m.strName, {}});
        physical = physical || m.strName == QLatin1String("Physical");
        pagefile = pagefile || m.strName == QLatin1String("Pagefile");
    });
    // The records keep the figures of their scan; the history wants the pass's.
    const platform::MemoryStatus &status = s.memory;
    nameEntries(
        sample, sample.size(),
        keysOf(memoryKeys, visited, "Memory",
               [](const DeviceId &d) { return QLatin1String("mem:") + d.text; }),
        Entry(QString(),
              physical ? percent(Memory::usage(status.totalPhys, status.availPhys)) : nothing,
              pagefile ? percent(Memory::usage(status.totalPageFile, status.availPageFile))
                       : nothing,
              2, 1, false));

    const auto rates = [this, &sample](auto &table, KindKeys &kind, const char *total, auto id,
                                       MakeKey key, auto figures, const Sample::Rates &sum) {
        visited.clear();
        const size_t first = sample.size();
        table.visit([&](const auto &r) {
            visited.push_back(id(r));
            const Sample::Rates *own = figures(r);
            sample.push_back(Entry(QString(), own ? float(own->intBytesRead) : 0.0f,
                                   own ? float(own->intBytesWrite) : 0.0f, 2, 0, true));
        });
        nameEntries(
            sample, first, keysOf(kind, visited, total, key),
            Entry(QString(), float(sum.intBytesRead), float(sum.intBytesWrite), 2, 0, true));
    };
    rates(
        networkTable, networkKeys, "Network",
        [](const Network &n) {
            return DeviceId{0, n.strName, {}};
        },
        [](const DeviceId &d) { return QLatin1String("net:") + d.text; },
        [&s](const Network &n) { return s.adapter(n.intIndex); }, s.network);
    rates(
        storageTable, storageKeys, "Storage",
        [](const Storage &d) {
            return DeviceId{0, d.strModel, d.strSerial};
        },
        [](const DeviceId &d) {
            return QLatin1String("disk:") + d.text + QLatin1Char(':') + d.more;
        },
        [&s](const Storage &d) { return s.disk(d.intDrive); }, s.storage);
    record(sample);
}

void History::forget() {
    tracks.clear();
    seconds.next = seconds.count = 0;
    minutes.next = minutes.count = 0;
    openMinute = -1;
}

void History::adoptSet(const std::vector<Entry> &sample) {
    std::vector<Track> fresh;
    fresh.reserve(sample.size());
    for (const Entry &e : sample) {
        auto old = std::find_if(tracks.begin(), tracks.end(), [&e](const Track &t) {
            return t.key == e.key && t.width == e.width;
        });
        if (old != tracks.end()) {
            fresh.push_back(std::move(*old));
            continue;
        }
        // Taken once here, never per sample: the rows before the series began read as gaps.
        Track track;
        track.key = e.key;
        track.width = e.width;
        track.decimals = e.decimals;
        track.settles = e.settles;
        track.settling = e.settles ? settlingRows : 0;
        track.second.assign(size_t(secondRows) * size_t(e.width), nothing);
        track.minute.assign(size_t(minuteRows) * size_t(e.width), nothing);
        fresh.push_back(std::move(track));
    }
    tracks = std::move(fresh);
}

void History::closeMinute() {
    const int slot = minutes.next;
    minutes.times[size_t(slot)] = openMinute * minuteMs;
    for (Track &t : tracks) {
        for (int c = 0; c < t.width; ++c) {
            t.minute[size_t(slot * t.width + c)] =
                t.count[c] > 0 ? float(t.sum[c] / t.count[c]) : nothing;
            t.sum[c] = 0;
            t.count[c] = 0;
        }
    }
    minutes.next = (minutes.next + 1) % minuteRows;
    minutes.count = std::min(minutes.count + 1, minuteRows);
}

void History::record(const std::vector<Entry> &sample) {
    if (sample.empty())
        return;
    QMutexLocker lock(&mutex);
    const qint64 now = clock();
    // A wall clock set back would put new rows before old ones: the old ones are dropped.
    if (seconds.count > 0 && now <= seconds.newest())
        forget();

    bool same = sample.size() == tracks.size();
    for (size_t i = 0; same && i < sample.size(); ++i)
        same = sample[i].key == tracks[i].key && sample[i].width == tracks[i].width;
    if (!same)
        adoptSet(sample);

    const qint64 minute = now >= 0 ? now / minuteMs : (now - minuteMs + 1) / minuteMs;
    if (openMinute >= 0 && minute != openMinute)
        closeMinute();
    openMinute = minute;

    const int slot = seconds.next;
    seconds.times[size_t(slot)] = now;
    for (size_t i = 0; i < tracks.size(); ++i) {
        Track &t = tracks[i];
        const bool settling = t.settling > 0;
        if (settling)
            --t.settling;
        for (int c = 0; c < t.width; ++c) {
            const float value = settling ? nothing : sample[i].values[c];
            t.second[size_t(slot * t.width + c)] = value;
            if (std::isfinite(value)) {
                t.sum[c] += double(value);
                ++t.count[c];
            }
        }
    }
    seconds.next = (seconds.next + 1) % secondRows;
    seconds.count = std::min(seconds.count + 1, secondRows);
}

qint64 History::newest(std::vector<Entry> &row) const {
    row.clear();
    QMutexLocker lock(&mutex);
    if (seconds.count == 0)
        return -1;
    const int slot = seconds.slot(seconds.count - 1);
    row.reserve(tracks.size());
    for (const Track &t : tracks) {
        const size_t at = size_t(slot * t.width);
        row.push_back(Entry(t.key, t.second[at], t.width > 1 ? t.second[at + 1] : 0, t.width,
                            t.decimals, t.settles));
    }
    return seconds.times[size_t(slot)];
}

History::Block History::copyBlock(const Ring &ring, bool minuteBlock, int first, int end,
                                  qint64 step) const {
    Block block;
    block.step = step;
    if (first >= end)
        return block;
    block.times.reserve(size_t(end - first));
    for (int i = first; i < end; ++i)
        block.times.push_back(ring.times[size_t(ring.slot(i))]);
    size_t columns = 0;
    for (const Track &t : tracks)
        columns += size_t(t.width);
    block.values.reserve(columns * size_t(end - first));
    for (const Track &t : tracks) {
        const std::vector<float> &values = minuteBlock ? t.minute : t.second;
        for (int c = 0; c < t.width; ++c)
            for (int i = first; i < end; ++i)
                block.values.push_back(values[size_t(ring.slot(i) * t.width + c)]);
    }
    return block;
}

void History::appendBlock(QByteArray &out, const Block &block, const std::vector<Series> &series) {
    const size_t rows = block.times.size();
    out += "{\"step\":";
    out += QByteArray::number(block.step);
    out += ",\"start\":";
    out += rows > 0 ? QByteArray::number(block.times.front()) : "null";
    out += ",\"deltas\":[";
    for (size_t i = 0; i < rows; ++i) {
        if (i > 0)
            out += ',';
        out += QByteArray::number(i > 0 ? block.times[i] - block.times[i - 1] : 0);
    }
    out += "],\"series\":{";
    const float *value = block.values.data();
    for (size_t k = 0; k < series.size() && rows > 0; ++k) {
        const Series &s = series[k];
        if (k > 0)
            out += ',';
        out += s.key;
        out += ":[";
        for (int c = 0; c < s.width; ++c) {
            if (c > 0)
                out += ',';
            out += '[';
            for (size_t i = 0; i < rows; ++i) {
                if (i > 0)
                    out += ',';
                appendNumber(out, *value++, s.decimals);
            }
            out += ']';
        }
        out += ']';
    }
    out += "}}";
}

QString History::document(qint64 since) {
    qint64 now = 0;
    std::vector<Series> series;
    Block minuteBlock, secondBlock;
    {
        QMutexLocker lock(&mutex);
        now = clock();
        int firstSecond = 0;
        while (firstSecond < seconds.count &&
               seconds.times[size_t(seconds.slot(firstSecond))] <= since)
            ++firstSecond;
        // Minute rows cover what the second rows no longer hold: whole minutes before the oldest.
        const qint64 oldestSecond = seconds.count > 0 ? seconds.times[size_t(seconds.slot(0))]
                                                      : std::numeric_limits<qint64>::max();
        int firstMinute = 0;
        while (firstMinute < minutes.count &&
               minutes.times[size_t(minutes.slot(firstMinute))] <= since)
            ++firstMinute;
        int endMinute = minutes.count;
        while (endMinute > firstMinute &&
               minutes.times[size_t(minutes.slot(endMinute - 1))] + minuteMs > oldestSecond)
            --endMinute;
        series.reserve(tracks.size());
        for (const Track &t : tracks)
            series.push_back({jsonString(t.key), t.width, t.decimals});
        minuteBlock = copyBlock(minutes, true, firstMinute, endMinute, minuteMs);
        secondBlock = copyBlock(seconds, false, firstSecond, seconds.count, 1000);
    }

    QByteArray out;
    out.reserve(64 + int(minuteBlock.times.size() + secondBlock.times.size()) *
                         (8 + 6 * int(series.size())));
    out += "{\"now\":";
    out += QByteArray::number(now);
    out += ",\"blocks\":[";
    appendBlock(out, minuteBlock, series);
    out += ',';
    appendBlock(out, secondBlock, series);
    out += "]}";
    return QString::fromUtf8(out);
}

qint64 History::sinceOf(const QString &requestPath) {
    const qsizetype query = requestPath.indexOf(QLatin1Char('?'));
    if (query < 0)
        return 0;
    const QStringView parameters = QStringView(requestPath).mid(query + 1);
    for (const QStringView pair : parameters.split(QLatin1Char('&'))) {
        if (!pair.startsWith(QLatin1String("since=")))
            continue;
        const QStringView value = pair.mid(6);
        bool ok = false;
        const qint64 since = value.toLongLong(&ok);
        if (ok)
            return std::max<qint64>(since, 0);
        // Clocks in scripts give fractions (1700000000000.5) or exponents (9.9e12); a number too
        // large for 64 bits is the far future.
        const double number = value.toDouble(&ok);
        if (!ok || std::isnan(number) || number < 0)
            return 0;
        return number >= 9.2e18 ? std::numeric_limits<qint64>::max() : qint64(number);
    }
    return 0;
}

QString History::build(const QString &requestPath) {
    return instance().document(sinceOf(requestPath));
}

namespace {
// A state holds the rings as they lie in memory, slot for slot, so that writing one costs a copy
// rather than a walk over every figure. The file is read on the machine that wrote it, so the
// processor's own byte order serves.
template <typename T> void writeArray(QDataStream &out, const std::vector<T> &values) {
    out.writeRawData(reinterpret_cast<const char *>(values.data()), int(values.size() * sizeof(T)));
}

template <typename T> bool readArray(QDataStream &in, std::vector<T> &values) {
    const int bytes = int(values.size() * sizeof(T));
    return in.readRawData(reinterpret_cast<char *>(values.data()), bytes) == bytes;
}

// Counts the bytes written to it and keeps none: the state's length goes before the state.
class ByteCount : public QIODevice {
public:
    ByteCount() { open(QIODevice::WriteOnly | QIODevice::Unbuffered); }
    qint64 bytes = 0;

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *, qint64 size) override { return bytes += size, size; }
};
} // namespace

void History::writeRings(QDataStream &out) const {
    const int kept = std::min(int(tracks.size()), maxTracks);
    out << qint32(secondRows) << qint32(seconds.next) << qint32(seconds.count) << qint32(minuteRows)
        << qint32(minutes.next) << qint32(minutes.count) << openMinute << qint32(kept);
    writeArray(out, seconds.times);
    writeArray(out, minutes.times);
    for (int k = 0; k < kept; ++k) {
        const Track &t = tracks[size_t(k)];
        out << t.key << qint32(t.width) << qint32(t.decimals) << quint8(t.settles);
        for (int c = 0; c < maxWidth; ++c)
            out << t.sum[c] << t.count[c];
        writeArray(out, t.second);
        writeArray(out, t.minute);
    }
}

void History::writeState(QDataStream &out) const {
    QMutexLocker lock(&mutex);
    ByteCount counted;
    QDataStream count(&counted);
    count.setVersion(out.version());
    writeRings(count);
    // A QByteArray's length, as the stream writes one (the largest state is far below 4 GiB).
    out << quint32(counted.bytes);
    writeRings(out);
}

QByteArray History::state() const {
    QByteArray framed;
    {
        QDataStream out(&framed, QIODevice::WriteOnly);
        out.setVersion(QDataStream::Qt_6_0);
        writeState(out);
    }
    QDataStream in(framed);
    in.setVersion(QDataStream::Qt_6_0);
    QByteArray bytes;
    in >> bytes;
    return bytes;
}

namespace {
// Reads a ring's place and count; false unless they fit its size.
bool readRing(QDataStream &in, int size, int &next, int &count) {
    qint32 rows = 0, at = 0, used = 0;
    in >> rows >> at >> used;
    next = at;
    count = used;
    return in.status() == QDataStream::Ok && rows == size && at >= 0 && at < size && used >= 0 &&
           used <= size && (used == size || at == used);
}
} // namespace

bool History::restore(const QByteArray &state) {
    QDataStream in(state);
    in.setVersion(QDataStream::Qt_6_0);
    Ring s, m;
    s.times.assign(secondRows, 0);
    m.times.assign(minuteRows, 0);
    qint64 minute = -1;
    qint32 count = -1;
    if (!readRing(in, secondRows, s.next, s.count) || !readRing(in, minuteRows, m.next, m.count))
        return false;
    in >> minute >> count;
    if (in.status() != QDataStream::Ok || count < 0 || count > maxTracks ||
        !readArray(in, s.times) || !readArray(in, m.times))
        return false;
    for (const Ring *ring : {&s, &m})
        for (int i = 1; i < ring->count; ++i)
            if (ring->times[size_t(ring->slot(i))] <= ring->times[size_t(ring->slot(i - 1))])
                return false;
    std::vector<Track> read;
    read.resize(size_t(count));
    for (Track &t : read) {
        qint32 width = 0, decimals = 0;
        quint8 settles = 0;
        in >> t.key >> width >> decimals >> settles;
        if (in.status() != QDataStream::Ok || width < 1 || width > maxWidth || decimals < 0 ||
            decimals > 6 || settles > 1)
            return false;
        t.width = width;
        t.decimals = decimals;
        t.settles = settles;
        // The counters behind a restored series start again, as a new series' do.
        t.settling = t.settles ? settlingRows : 0;
        for (int c = 0; c < maxWidth; ++c) {
            in >> t.sum[c] >> t.count[c];
            if (t.count[c] < 0)
                return false;
        }
        t.second.resize(size_t(secondRows) * size_t(width));
        t.minute.resize(size_t(minuteRows) * size_t(width));
        if (!readArray(in, t.second) || !readArray(in, t.minute))
            return false;
    }
    if (in.status() != QDataStream::Ok || !in.atEnd())
        return false;
    QMutexLocker lock(&mutex);
    const qint64 now = clock();
    if ((s.count > 0 && s.newest() > now) || (m.count > 0 && m.newest() > now))
        return false;
    // The open minute follows the last closed one and is not later than now.
    if (minute != -1 &&
        (minute < 0 || minute > now / minuteMs || (m.count > 0 && minute * minuteMs <= m.newest())))
        return false;
    seconds = std::move(s);
    minutes = std::move(m);
    tracks = std::move(read);
    openMinute = minute;
    return true;
}
