#include "History.h"

#include "DeviceTables.h"
#include "Memory.h"
#include "Network.h"
#include "Processor.h"
#include "Storage.h"
#include "platform/Platform.h"

#include <QDateTime>
#include <QMutexLocker>
#include <algorithm>
#include <cmath>
#include <limits>

namespace {
constexpr float nothing = std::numeric_limits<float>::quiet_NaN();

float percent(quint64 thousandths) {
    return float(std::min(thousandths, usageFull)) / 1000.0f;
}

// A total's key: its kind and the identifiers of its devices, in table order.
QString totalKey(const char *kind, const QStringList &idents) {
    return QLatin1String(kind) + QLatin1Char(':') + idents.join(QLatin1Char(','));
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
    // Kept from pass to pass, so that a pass allocates nothing once the devices are known, and
    // nothing at all before any are.
    std::vector<Entry> &sample = recording;
    sample.clear();
    // Each table under its own mutex, one after the other; this history's mutex is taken only
    // in record(), after the last table's is released.
    QStringList idents;
    quint64 sum = 0;
    processorTable.visit([&](const Processor &p) {
        sample.push_back(Entry(p.strIdent, percent(p.intUsage), 0, 1, 1, true));
        idents.append(p.strIdent);
        sum += std::min(p.intUsage, usageFull);
    });
    if (!idents.isEmpty())
        sample.push_back(Entry(totalKey("Processor", idents),
                               float(double(sum) / double(idents.size()) / 1000.0), 0, 1, 1, true));

    idents.clear();
    QString physical, pagefile;
    memoryTable.visit([&](const Memory &m) {
        idents.append(m.strIdent);
        if (m.strName == QLatin1String("Physical"))
            physical = m.strIdent;
        else if (m.strName == QLatin1String("Pagefile"))
            pagefile = m.strIdent;
    });
    if (!idents.isEmpty()) {
        // The records keep the figures of their scan; the history wants this moment's.
        const platform::MemoryStatus status = platform::memoryStatus();
        const float physicalUse = physical.isEmpty()
                                      ? nothing
                                      : percent(Memory::usage(status.totalPhys, status.availPhys));
        const float pagefileUse =
            pagefile.isEmpty() ? nothing
                               : percent(Memory::usage(status.totalPageFile, status.availPageFile));
        sample.push_back(Entry(totalKey("Memory", idents), physicalUse, pagefileUse, 2, 1, false));
    }

    const auto rates = [&idents, &sample](auto &table, const char *kind) {
        idents.clear();
        double read = 0, written = 0;
        table.visit([&](const auto &r) {
            sample.push_back(
                Entry(r.strIdent, float(r.intBytesRead), float(r.intBytesWrite), 2, 0, true));
            idents.append(r.strIdent);
            read += double(r.intBytesRead);
            written += double(r.intBytesWrite);
        });
        if (!idents.isEmpty())
            sample.push_back(
                Entry(totalKey(kind, idents), float(read), float(written), 2, 0, true));
    };
    rates(networkTable, "Network");
    rates(storageTable, "Storage");
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
    QMutexLocker lock(&mutex);
    if (sample.empty()) {
        forget();
        return;
    }
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
        // Keys are identifiers and kind names: nothing in them needs escaping.
        out += '"';
        out += s.key;
        out += "\":[";
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
            series.push_back({t.key.toLatin1(), t.width, t.decimals});
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
    return QString::fromLatin1(out);
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
        const bool digits =
            !value.isEmpty() && std::all_of(value.begin(), value.end(), [](QChar c) {
                return c >= QLatin1Char('0') && c <= QLatin1Char('9');
            });
        return digits ? std::numeric_limits<qint64>::max() : 0;
    }
    return 0;
}

QString History::build(const QString &requestPath) {
    return instance().document(sinceOf(requestPath));
}
