#include "MetricsDocument.h"

#include "CleanText.h"
#include "DeviceTables.h"
#include "HeartbeatProtocol.h"
#include "Network.h"
#include "Storage.h"

#include <QSet>

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

QString adapterName(const std::string &description) {
    return QString::fromStdString(description).trimmed();
}

QString diskName(quint32 number) {
    return QString::number(number);
}

template <typename Row>
void perDevice(Writer &writer, const std::vector<Row> &rows, QString (*labels)(const Row &),
               QString (*value)(const Row &)) {
    for (const Row &row : rows)
        writer.sample(labels(row), value(row));
}

QString adapterLabels(const platform::AdapterTotals &row) {
    return label(QLatin1String("adapter"), adapterName(row.description));
}

QString diskLabels(const platform::DiskTotals &row) {
    return label(QLatin1String("disk"), diskName(row.number));
}

void writeMemory(Writer &w, const platform::MemoryStatus &memory) {
    const QString physical = label(QLatin1String("memory"), QStringLiteral("physical"));
    const QString pagefile = label(QLatin1String("memory"), QStringLiteral("pagefile"));
    w.family(QLatin1String("tarnivo_memory_size_bytes"), QLatin1String("gauge"),
             QLatin1String("Size of physical memory, and of the page file (physical memory plus "
                           "paging space), read at the moment of the request."));
    w.sample(physical, count(memory.totalPhys));
    w.sample(pagefile, count(memory.totalPageFile));
    w.family(QLatin1String("tarnivo_memory_available_bytes"), QLatin1String("gauge"),
             QLatin1String("Memory available to programs without swapping out others, read at "
                           "the moment of the request."));
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

void writeAdapters(Writer &w, const std::vector<platform::AdapterTotals> &rows) {
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
    w.family(QLatin1String("tarnivo_disk_read_bytes_total"), QLatin1String("counter"),
             QLatin1String("Bytes read from the physical disk."));
    perDevice<Row>(w, rows, diskLabels, [](const Row &r) { return count(r.readBytes); });
    w.family(QLatin1String("tarnivo_disk_written_bytes_total"), QLatin1String("counter"),
             QLatin1String("Bytes written to the physical disk."));
    perDevice<Row>(w, rows, diskLabels, [](const Row &r) { return count(r.writeBytes); });
    w.family(QLatin1String("tarnivo_disk_reads_completed_total"), QLatin1String("counter"),
             QLatin1String("Read operations the physical disk completed."));
    perDevice<Row>(w, rows, diskLabels, [](const Row &r) { return count(r.reads); });
    w.family(QLatin1String("tarnivo_disk_writes_completed_total"), QLatin1String("counter"),
             QLatin1String("Write operations the physical disk completed."));
    perDevice<Row>(w, rows, diskLabels, [](const Row &r) { return count(r.writes); });
    w.family(QLatin1String("tarnivo_disk_busy_seconds_total"), QLatin1String("counter"),
             QLatin1String("Time the physical disk had requests outstanding; its rate is the "
                           "busy ratio."));
    perDevice<Row>(w, rows, diskLabels, [](const Row &r) { return seconds(r.busyMicroseconds); });
}

void writeVolumes(Writer &w, const std::vector<platform::VolumeSpace> &rows) {
    using Row = platform::VolumeSpace;
    const auto labels = [](const Row &r) {
        return label(QLatin1String("volume"), QString::fromStdString(r.path)) + QLatin1Char(',') +
               label(QLatin1String("disk"), diskName(r.disk));
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

void writeInfo(Writer &w, const MetricsDocument::Snapshot &s) {
    w.family(QLatin1String("tarnivo_network_info"), QLatin1String("gauge"),
             QLatin1String("Always 1: the adapter's first IPv4 address, its mask and the first "
                           "gateway, as the last device scan found them."));
    QSet<QString> seen;
    for (const MetricsDocument::AdapterInfo &info : s.adapters) {
        // Two scans at once may list a device twice; a series may appear only once.
        if (seen.contains(info.strName))
            continue;
        seen.insert(info.strName);
        w.sample(label(QLatin1String("adapter"), info.strName) + QLatin1Char(',') +
                     label(QLatin1String("address"), info.strAddress) + QLatin1Char(',') +
                     label(QLatin1String("mask"), info.strSubnetmask) + QLatin1Char(',') +
                     label(QLatin1String("gateway"), info.strGateway),
                 QStringLiteral("1"));
    }
    w.family(QLatin1String("tarnivo_disk_info"), QLatin1String("gauge"),
             QLatin1String("Always 1: the physical disk's model, serial number and firmware "
                           "revision, as the last device scan found them."));
    seen.clear();
    for (const MetricsDocument::DiskInfo &info : s.disks) {
        const QString disk = diskName(info.intDrive);
        if (seen.contains(disk))
            continue;
        seen.insert(disk);
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

} // namespace

bool MetricsDocument::serves(const QString &requestPath) {
    static const QString path = QStringLiteral("/metrics");
    return requestPath == path ||
           (requestPath.startsWith(path) && requestPath.at(path.size()) == QLatin1Char('?'));
}

QString MetricsDocument::labelValue(const QString &text) {
    const QString clean = CleanText::clean(text);
    QString escaped;
    escaped.reserve(clean.size());
    for (const QChar c : clean) {
        if (c == QLatin1Char('\\'))
            escaped += QLatin1String("\\\\");
        else if (c == QLatin1Char('"'))
            escaped += QLatin1String("\\\"");
        else if (c == QLatin1Char('\n'))
            escaped += QLatin1String("\\n");
        else
            escaped += c;
    }
    return escaped;
}

MetricsDocument::Snapshot MetricsDocument::take() {
    Snapshot s;
    s.strVersion = QString::fromLatin1(HeartbeatProtocol::strVersion);
    s.memory = platform::memoryStatus();
    s.totals = platform::totals();
    s.volumes = platform::volumeSpaces();
    networkTable.tryVisit(tableWaitMs, [&s](const Network &r) {
        s.adapters.append({r.strName, r.strAddress, r.strSubnetmask, r.strGateway});
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
    writeAdapters(writer, snapshot.totals.adapters);
    writeDisks(writer, snapshot.totals.disks);
    writeVolumes(writer, snapshot.volumes);
    writeInfo(writer, snapshot);
    return out;
}
