#include "MetricsDocument.h"

#include "DeviceTables.h"
#include "DiskHealthDocument.h"
#include "HeartbeatProtocol.h"
#include "HeartbeatThread.h"
#include "Network.h"
#include "Sample.h"
#include "Storage.h"
#include "VolumeReaders.h"

#include <QSet>

#include <algorithm>
#include <iterator>

const QString MetricsDocument::contentType =
    QStringLiteral("text/plain; version=0.0.4; charset=utf-8");

namespace {

// One family at a time: its HELP and TYPE lines, then its samples, all together as the format
// requires.
class Writer {
public:
    explicit Writer(QString &out) : out(out) {}

    void family(QLatin1String name, QLatin1String type, QLatin1String help) {
        current = name;
        out += QLatin1String("# HELP ") + name + QLatin1Char(' ') + help +
               QLatin1String("\n# TYPE ") + name + QLatin1Char(' ') + type + QLatin1Char('\n');
    }

    // labels: name="value" pairs, values already escaped; empty for none.
    void sample(const QString &labels, const QString &value) {
        out += current;
        if (!labels.isEmpty())
            out += QLatin1Char('{') + labels + QLatin1Char('}');
        out += QLatin1Char(' ') + value + QLatin1Char('\n');
    }

private:
    QString &out;
    QLatin1String current;
};

QString label(QLatin1String name, const QString &value) {
    return name + QLatin1String("=\"") + MetricsDocument::labelValue(value) + QLatin1Char('"');
}

QString count(quint64 value) {
    return QString::number(value);
}

// Exact decimal seconds; a double would round large totals.
QString seconds(quint64 microseconds) {
    return QString::number(microseconds / 1000000) + QLatin1Char('.') +
           QString::number(microseconds % 1000000).rightJustified(6, QLatin1Char('0'));
}

QString diskName(quint32 number) {
    return QString::number(number);
}

// White space at either end is not part of an adapter's name.
std::string trimmed(const std::string &text) {
    const char *space = " \t\n\r\f\v";
    const size_t first = text.find_first_not_of(space);
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(space) - first + 1);
}

// The adapter label of each row of the totals, in their order. A value that an earlier row
// already has (names that differ only in white space at their ends, or a name listed twice) is
// followed by "#2", "#3", ... until it is one no row has, so a series never appears twice.
QVector<QString> adapterLabels(const std::vector<platform::AdapterTotals> &rows) {
    QVector<QString> labels;
    QSet<QString> taken;
    for (const platform::AdapterTotals &row : rows) {
        const QString value = MetricsDocument::labelValue(trimmed(row.description));
        QString unique = value;
        for (int n = 2; taken.contains(unique); ++n)
            unique = value + QLatin1Char('#') + QString::number(n);
        taken.insert(unique);
        labels.append(QLatin1String("adapter=\"") + unique + QLatin1Char('"'));
    }
    return labels;
}

QVector<QString> diskLabels(const std::vector<platform::DiskTotals> &rows) {
    QVector<QString> labels;
    for (const platform::DiskTotals &row : rows)
        labels.append(label(QLatin1String("disk"), diskName(row.number)));
    return labels;
}

// One sample per row, each under the labels made for it.
template <typename Row>
void perDevice(Writer &writer, const std::vector<Row> &rows, const QVector<QString> &labels,
               QString (*value)(const Row &)) {
    for (size_t i = 0; i < rows.size(); ++i)
        writer.sample(labels.at(qsizetype(i)), value(rows[i]));
}

void writeMemory(Writer &w, const platform::MemoryStatus &memory) {
    const QString physical = label(QLatin1String("memory"), QStringLiteral("physical"));
    const QString pagefile = label(QLatin1String("memory"), QStringLiteral("pagefile"));
    w.family(QLatin1String("tarnivo_memory_size_bytes"), QLatin1String("gauge"),
             QLatin1String("Size of physical memory, and of the page file (physical memory plus "
                           "paging space), read in the last sampling pass."));
    w.sample(physical, count(memory.totalPhys));
    w.sample(pagefile, count(memory.totalPageFile));
    w.family(QLatin1String("tarnivo_memory_available_bytes"), QLatin1String("gauge"),
             QLatin1String("Memory available to programs without swapping out others, read in "
                           "the last sampling pass."));
    w.sample(physical, count(memory.availPhys));
    w.sample(pagefile, count(memory.availPageFile));
}

void writeProcessors(Writer &w, const std::vector<platform::ProcessorTotals> &processors) {
    w.family(QLatin1String("tarnivo_cpu_busy_seconds_total"), QLatin1String("counter"),
             QLatin1String("Time the logical processor spent neither idle nor waiting for I/O; "
                           "its rate is the busy ratio."));
    for (const platform::ProcessorTotals &row : processors)
        w.sample(label(QLatin1String("cpu"), QString::number(row.index)),
                 seconds(row.busyMicroseconds));
}

void writeAdapters(Writer &w, const std::vector<platform::AdapterTotals> &rows,
                   const QVector<QString> &adapterLabels) {
    using Row = platform::AdapterTotals;
    w.family(QLatin1String("tarnivo_network_receive_bytes_total"), QLatin1String("counter"),
             QLatin1String("Bytes the adapter received."));
    perDevice<Row>(w, rows, adapterLabels, [](const Row &r) { return count(r.receiveBytes); });
    w.family(QLatin1String("tarnivo_network_transmit_bytes_total"), QLatin1String("counter"),
             QLatin1String("Bytes the adapter sent."));
    perDevice<Row>(w, rows, adapterLabels, [](const Row &r) { return count(r.transmitBytes); });
    w.family(QLatin1String("tarnivo_network_receive_packets_total"), QLatin1String("counter"),
             QLatin1String("Packets the adapter received."));
    perDevice<Row>(w, rows, adapterLabels, [](const Row &r) { return count(r.receivePackets); });
    w.family(QLatin1String("tarnivo_network_transmit_packets_total"), QLatin1String("counter"),
             QLatin1String("Packets the adapter sent."));
    perDevice<Row>(w, rows, adapterLabels, [](const Row &r) { return count(r.transmitPackets); });
    w.family(QLatin1String("tarnivo_network_speed_bytes"), QLatin1String("gauge"),
             QLatin1String("Link speed in bytes per second; 0 when the link is down or its "
                           "speed unknown."));
    perDevice<Row>(w, rows, adapterLabels, [](const Row &r) { return count(r.speed / 8); });
}

void writeDisks(Writer &w, const std::vector<platform::DiskTotals> &rows) {
    using Row = platform::DiskTotals;
    const QVector<QString> labels = diskLabels(rows);
    w.family(QLatin1String("tarnivo_disk_read_bytes_total"), QLatin1String("counter"),
             QLatin1String("Bytes read from the physical disk."));
    perDevice<Row>(w, rows, labels, [](const Row &r) { return count(r.readBytes); });
    w.family(QLatin1String("tarnivo_disk_written_bytes_total"), QLatin1String("counter"),
             QLatin1String("Bytes written to the physical disk."));
    perDevice<Row>(w, rows, labels, [](const Row &r) { return count(r.writeBytes); });
    w.family(QLatin1String("tarnivo_disk_reads_completed_total"), QLatin1String("counter"),
             QLatin1String("Read operations the physical disk completed."));
    perDevice<Row>(w, rows, labels, [](const Row &r) { return count(r.reads); });
    w.family(QLatin1String("tarnivo_disk_writes_completed_total"), QLatin1String("counter"),
             QLatin1String("Write operations the physical disk completed."));
    perDevice<Row>(w, rows, labels, [](const Row &r) { return count(r.writes); });
    w.family(QLatin1String("tarnivo_disk_busy_seconds_total"), QLatin1String("counter"),
             QLatin1String("Time the physical disk had requests outstanding; its rate is the "
                           "busy ratio."));
    perDevice<Row>(w, rows, labels, [](const Row &r) { return seconds(r.busyMicroseconds); });
}

void writeVolumes(Writer &w, const std::vector<platform::VolumeSpace> &all) {
    using Row = platform::VolumeSpace;
    // A volume that did not answer in time has no figures to give: its series pause.
    std::vector<Row> rows;
    std::copy_if(all.begin(), all.end(), std::back_inserter(rows),
                 [](const Row &r) { return r.answering; });
    const auto labels = [](const Row &r) {
        // The mount point byte for byte, as an adapter's name: two paths that differ only in
        // bytes that are not UTF-8 stay two series.
        return QLatin1String("volume=\"") + MetricsDocument::labelValue(r.path) +
               QLatin1String("\",") + label(QLatin1String("disk"), diskName(r.disk));
    };
    w.family(QLatin1String("tarnivo_volume_size_bytes"), QLatin1String("gauge"),
             QLatin1String("Size of the volume, read at the moment of the request."));
    for (const Row &row : rows)
        w.sample(labels(row), count(row.size));
    w.family(QLatin1String("tarnivo_volume_free_bytes"), QLatin1String("gauge"),
             QLatin1String("Bytes on the volume that an ordinary user may still write, read at "
                           "the moment of the request."));
    for (const Row &row : rows)
        w.sample(labels(row), count(row.free));
}

void writeInfo(Writer &w, const MetricsDocument::Snapshot &s,
               const QVector<QString> &adapterLabels) {
    w.family(QLatin1String("tarnivo_network_info"), QLatin1String("gauge"),
             QLatin1String("Always 1: the adapter's first IPv4 address, its mask and the first "
                           "gateway, as the last device scan found them."));
    const std::vector<platform::AdapterTotals> &adapters = s.totals.adapters;
    QSet<size_t> written;
    for (const MetricsDocument::AdapterInfo &info : s.adapters) {
        // Under the label of the adapter's counters; an adapter that has gone has no info.
        const auto row = std::find_if(adapters.begin(), adapters.end(),
                                      [&info](const auto &a) { return a.index == info.intIndex; });
        const size_t position = size_t(row - adapters.begin());
        // Two scans at once may list a device twice; a series may appear only once.
        if (row == adapters.end() || written.contains(position))
            continue;
        written.insert(position);
        w.sample(adapterLabels.at(qsizetype(position)) + QLatin1Char(',') +
                     label(QLatin1String("address"), info.strAddress) + QLatin1Char(',') +
                     label(QLatin1String("mask"), info.strSubnetmask) + QLatin1Char(',') +
                     label(QLatin1String("gateway"), info.strGateway),
                 QStringLiteral("1"));
    }
    w.family(QLatin1String("tarnivo_disk_info"), QLatin1String("gauge"),
             QLatin1String("Always 1: the physical disk's model, serial number and firmware "
                           "revision, as the last device scan found them."));
    // Only disks attached now: a disk that went away ends its series.
    QSet<quint32> attached, seen;
    for (const platform::DiskTotals &row : s.totals.disks)
        attached.insert(row.number);
    for (const MetricsDocument::DiskInfo &info : s.disks) {
        const QString disk = diskName(info.intDrive);
        if (!attached.contains(info.intDrive) || seen.contains(info.intDrive))
            continue;
        seen.insert(info.intDrive);
        w.sample(label(QLatin1String("disk"), disk) + QLatin1Char(',') +
                     label(QLatin1String("model"), info.strModel) + QLatin1Char(',') +
                     label(QLatin1String("serial"), info.strSerial) + QLatin1Char(',') +
                     label(QLatin1String("firmware"), info.strFirmware),
                 QStringLiteral("1"));
    }
    w.family(QLatin1String("tarnivo_build_info"), QLatin1String("gauge"),
             QLatin1String("Always 1: the version of Tarnivo that serves these figures."));
    w.sample(label(QLatin1String("version"), s.strVersion), QStringLiteral("1"));
}

// Which machine, since when, who is on it and whether it must restart.
void writeHost(Writer &w, const HostDocument::Facts &host) {
    w.family(QLatin1String("tarnivo_host_info"), QLatin1String("gauge"),
             QLatin1String("Always 1: the machine's host name and its operating system's name "
                           "and version."));
    w.sample(QLatin1String("hostname=\"") + MetricsDocument::labelValue(host.strHostName) +
                 QLatin1String("\",os=\"") + MetricsDocument::labelValue(host.system.name) +
                 QLatin1String("\",version=\"") + MetricsDocument::labelValue(host.system.version) +
                 QLatin1Char('"'),
             QStringLiteral("1"));
    // Left out when unknown: a start at 1970 would read as fifty years of uptime.
    if (host.intBootTime > 0) {
        w.family(QLatin1String("tarnivo_boot_time_seconds"), QLatin1String("gauge"),
                 QLatin1String("When the system started, in seconds since 1970 (UTC)."));
        w.sample(QString(), QString::number(host.intBootTime));
    }
    w.family(QLatin1String("tarnivo_users"), QLatin1String("gauge"),
             QLatin1String("People signed in: distinct user names over the sessions, read at the "
                           "moment of the request."));
    w.sample(QString(), QString::number(HostDocument::users(host.sessions)));
    w.family(QLatin1String("tarnivo_reboot_required"), QLatin1String("gauge"),
             QLatin1String("1 when the system says it must restart to finish an update, else 0."));
    w.sample(QString(), QLatin1String(host.reboot.required ? "1" : "0"));
    // Not read (Linux for now): no figure, rather than a 0 that would say all is well.
    if (!host.services.read)
        return;
    w.family(QLatin1String("tarnivo_services_failed"), QLatin1String("gauge"),
             QLatin1String("Services set to start automatically that are not running, read at "
                           "most every 30 seconds."));
    w.sample(QString(), QString::number(host.services.stopped.size()));
    w.family(QLatin1String("tarnivo_service_failed"), QLatin1String("gauge"),
             QLatin1String("Always 1: a service set to start automatically that is not running, "
                           "by its key name."));
    for (const platform::StoppedService &service : host.services.stopped)
        w.sample(QLatin1String("service=\"") + MetricsDocument::labelValue(service.name) +
                     QLatin1Char('"'),
                 QStringLiteral("1"));
}

// The disks' own health: whether each answered, and what, only for those that did.
void writeDiskHealth(Writer &w, const std::vector<std::pair<quint32, platform::DiskHealth>> &rows) {
    using Kind = platform::DiskHealth::Kind;
    using Value = std::optional<uint64_t> (*)(const platform::DiskHealth &);
    w.family(QLatin1String("tarnivo_disk_health_reported"), QLatin1String("gauge"),
             QLatin1String("1 when the physical disk answered a health query (NVMe health log or "
                           "ATA SMART), else 0."));
    for (const auto &[disk, health] : rows)
        w.sample(label(QLatin1String("disk"), diskName(disk)),
                 QLatin1String(health.kind == Kind::None ? "0" : "1"));
    const auto family = [&w, &rows](const char *name, const char *help, Value value) {
        bool announced = false;
        for (const auto &[disk, health] : rows) {
            const std::optional<uint64_t> v =
                health.kind == Kind::None ? std::nullopt : value(health);
            if (!v)
                continue;
            if (!announced)
                w.family(QLatin1String(name), QLatin1String("gauge"), QLatin1String(help));
            announced = true;
            w.sample(label(QLatin1String("disk"), diskName(disk)), count(*v));
        }
    };
    family("tarnivo_disk_health_failing",
           "1 when the drive itself says it is failing (NVMe: a critical warning; ATA: a "
           "pre-failure attribute at or below its threshold), else 0.",
           [](const platform::DiskHealth &h) { return std::optional<uint64_t>(h.failing); });
    family("tarnivo_disk_health_critical_warning", "NVMe: the critical-warning bits.",
           [](const platform::DiskHealth &h) {
               return h.kind == Kind::Nvme ? std::optional<uint64_t>(h.criticalWarning)
                                           : std::nullopt;
           });
    family("tarnivo_disk_health_temperature_celsius", "NVMe: the composite temperature.",
           [](const platform::DiskHealth &h) {
               return h.temperatureCelsius && *h.temperatureCelsius >= 0
                          ? std::optional<uint64_t>(uint64_t(*h.temperatureCelsius))
                          : std::nullopt;
           });
    family("tarnivo_disk_health_percentage_used",
           "NVMe: the drive's estimate of its life used, in percent (may pass 100).",
           [](const platform::DiskHealth &h) {
               return h.kind == Kind::Nvme ? std::optional<uint64_t>(h.percentageUsed)
                                           : std::nullopt;
           });
    family("tarnivo_disk_health_media_errors", "NVMe: media and data integrity errors.",
           [](const platform::DiskHealth &h) {
               return h.kind == Kind::Nvme ? std::optional<uint64_t>(h.mediaErrors) : std::nullopt;
           });
    family("tarnivo_disk_health_power_on_hours", "NVMe: hours the drive has been powered on.",
           [](const platform::DiskHealth &h) {
               return h.kind == Kind::Nvme ? std::optional<uint64_t>(h.powerOnHours) : std::nullopt;
           });
    family("tarnivo_disk_health_reallocated_sectors", "ATA: attribute 5, reallocated sectors.",
           [](const platform::DiskHealth &h) { return h.reallocated; });
    family("tarnivo_disk_health_reported_uncorrectable",
           "ATA: attribute 187, errors the drive could not correct.",
           [](const platform::DiskHealth &h) { return h.reportedUncorrectable; });
    family("tarnivo_disk_health_pending_sectors",
           "ATA: attribute 197, sectors waiting to be reallocated.",
           [](const platform::DiskHealth &h) { return h.pending; });
    family("tarnivo_disk_health_offline_uncorrectable",
           "ATA: attribute 198, sectors found uncorrectable by the offline scan.",
           [](const platform::DiskHealth &h) { return h.offlineUncorrectable; });
}

} // namespace

namespace {
// The length of the valid UTF-8 sequence that begins at text[i], or 0 when none does (a stray
// continuation byte, a sequence cut short, an overlong form, a surrogate, or beyond U+10FFFF).
size_t utf8Length(const std::string &text, size_t i) {
    const auto byte = [&text](size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    if (lead < 0x80)
        return 1;
    size_t length = 0;
    char32_t point = 0, least = 0;
    if ((lead & 0xE0) == 0xC0) {
        length = 2, point = lead & 0x1F, least = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, point = lead & 0x0F, least = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, point = lead & 0x07, least = 0x10000;
    } else {
        return 0;
    }
    if (i + length > text.size())
        return 0;
    for (size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80)
            return 0;
        point = (point << 6) | (byte(i + k) & 0x3F);
    }
    if (point < least || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF))
        return 0;
    return length;
}
} // namespace

QString MetricsDocument::labelValue(const std::string &bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size());
    for (size_t i = 0; i < bytes.size();) {
        const unsigned char c = static_cast<unsigned char>(bytes[i]);
        const size_t length = utf8Length(bytes, i);
        if (length == 0 || c < 0x20 || c == 0x7F) {
            // \xHH in the value; its backslash doubled for the format.
            out += "\\\\x";
            out += digits[c >> 4];
            out += digits[c & 0xF];
            ++i;
        } else if (c == '\\') {
            out += "\\\\\\\\"; // two in the value, each doubled for the format
            ++i;
        } else if (c == '"') {
            out += "\\\"";
            ++i;
        } else {
            out.append(bytes, i, length);
            i += length;
        }
    }
    return QString::fromStdString(out);
}

MetricsDocument::Snapshot MetricsDocument::take() {
    Snapshot s;
    s.strVersion = QString::fromLatin1(HeartbeatProtocol::strVersion);
    // The last pass's totals and memory, as the status document and the history have them.
    if (const std::shared_ptr<const Sample> sample = Sample::current()) {
        s.memory = sample->memory;
        s.totals = sample->totals;
    } else {
        // Before the first pass, which the program runs as it starts.
        platform::readTotals(s.totals, s.memory);
    }
    s.intHeartbeatDropped = HeartbeatThread::droppedRequests();
    s.volumes = VolumeReaders::instance().read();
    s.host = HostDocument::read();
    s.health = DiskHealthDocument::reading();
    networkTable.tryVisit(tableWaitMs, [&s](const Network &r) {
        s.adapters.append({r.intIndex, r.strAddress, r.strSubnetmask, r.strGateway});
    });
    storageTable.tryVisit(tableWaitMs, [&s](const Storage &r) {
        s.disks.append({r.intDrive, r.strModel, r.strSerial, r.strFirmware});
    });
    return s;
}

QString MetricsDocument::render(const Snapshot &snapshot) {
    QString out;
    out.reserve(8192);
    Writer writer(out);
    writeMemory(writer, snapshot.memory);
    writeProcessors(writer, snapshot.totals.processors);
    const QVector<QString> adapters = adapterLabels(snapshot.totals.adapters);
    writeAdapters(writer, snapshot.totals.adapters, adapters);
    writeDisks(writer, snapshot.totals.disks);
    writeVolumes(writer, snapshot.volumes);
    writeDiskHealth(writer, snapshot.health);
    writeInfo(writer, snapshot, adapters);
    writeHost(writer, snapshot.host);
    writer.family(QLatin1String("tarnivo_heartbeat_dropped_total"), QLatin1String("counter"),
                  QLatin1String("Heartbeat requests left unanswered because their sender, or all "
                                "senders together, asked more often than allowed."));
    writer.sample(QString(), count(snapshot.intHeartbeatDropped));
    return out;
}
