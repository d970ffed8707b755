#include "SystemReport.h"

#include "DeviceTables.h"
#include "DiskHealthDocument.h"
#include "HostDocument.h"
#include "Network.h"
#include "Perfdata.h"
#include "Processor.h"
#include "Storage.h"
#include "TarnivoVersion.h"
#include "platform/Platform.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QStringList>
#include <QSysInfo>
#include <QTextStream>
#include <QThread>
#include <memory>
#include <vector>

namespace {

QString quoted(const QString &text) {
    return QLatin1Char('"') + text + QLatin1Char('"');
}

QString listOf(const std::vector<std::string> &items) {
    if (items.empty())
        return QStringLiteral("(none listed)");
    QStringList texts;
    for (const std::string &item : items)
        texts.append(quoted(QString::fromStdString(item)));
    return texts.join(QStringLiteral(", "));
}

// Which machine, since when, who is on it, whether it must restart, which services are
// stopped and what each disk answered for its health, with why a query gave nothing.
void writeHost(QTextStream &out) {
    const HostDocument::Facts host = HostDocument::read();
    out << "\n[Host]\n";
    out << "Host name: " << quoted(QString::fromStdString(host.strHostName)) << "\n";
    out << "Operating system: " << quoted(QString::fromStdString(host.system.name)) << ", version "
        << quoted(QString::fromStdString(host.system.version)) << "\n";
    out << "Started: "
        << (host.intBootTime > 0
                ? QDateTime::fromSecsSinceEpoch(host.intBootTime, Qt::UTC).toString(Qt::ISODate)
                : QStringLiteral("unknown"))
        << "\n";
    out << "Sessions: " << host.sessions.size() << " (" << HostDocument::users(host.sessions)
        << " people)\n";
    for (const platform::Session &session : host.sessions)
        out << "  " << quoted(QString::fromStdString(session.user)) << " "
            << QString::fromStdString(session.state) << " "
            << quoted(QString::fromStdString(session.where)) << "\n";
    out << "Restart required: " << (host.reboot.required ? "yes, asked for by " : "no")
        << (host.reboot.required ? listOf(host.reboot.reasons) : QString()) << "\n";
    if (!host.services.read) {
        out << "Services: not read: " << QString::fromStdString(host.services.why) << "\n";
    } else {
        out << "Services set to start automatically and not running: "
            << host.services.stopped.size() << "\n";
        for (const platform::StoppedService &service : host.services.stopped)
            out << "  " << QString::fromStdString(service.name) << " "
                << quoted(QString::fromStdString(service.displayName)) << " "
                << QString::fromStdString(service.state) << "\n";
    }
    for (const auto &[disk, health] : DiskHealthDocument::reading()) {
        out << "Disk " << disk << " health: ";
        if (health.kind == platform::DiskHealth::Kind::None)
            out << "not reported: " << QString::fromStdString(health.why) << "\n";
        else
            out << (health.kind == platform::DiskHealth::Kind::Nvme ? "NVMe" : "ATA")
                << (health.failing ? ", the drive says it is failing" : ", good") << "\n";
    }
}

// The counters of one device, with where they are.
struct Planned {
    CounterTarget target;
    QVector<Counter *> counters;
};

} // namespace

QString SystemReport::text(int settleMs) {
    QString report;
    QTextStream out(&report);
    const QString computer = Perfdata::computerName();
    out << "Tarnivo " << TARNIVO_VERSION << " system report\n";
    out << "Computer: " << computer << "\n";
    out << "System: " << QSysInfo::prettyProductName() << " (" << QSysInfo::kernelType() << ' '
        << QSysInfo::kernelVersion() << ", " << QSysInfo::currentCpuArchitecture() << ")\n";
    writeHost(out);

    // The records the program would make, each naming its counters.
    std::vector<std::unique_ptr<Processor>> processors;
    std::vector<std::unique_ptr<Storage>> disks;
    std::vector<std::unique_ptr<Network>> adapters;
    std::vector<Planned> planned;

    out << "\n[Processors]\n";
    const std::vector<uint32_t> groups = platform::processorGroups();
    QStringList perGroup;
    for (uint32_t count : groups)
        perGroup.append(QString::number(count));
    const uint32_t count = platform::processorCount();
    out << "Processor groups: " << groups.size()
        << " (active processors: " << perGroup.join(QStringLiteral(", ")) << ")\n";
    out << "Logical processors: " << count << "\n";
    const std::string processorObject = platform::processorCounterObject();
    out << "Counter object: " << QString::fromStdString(processorObject) << "\n";
    out << "Listed instances: " << listOf(platform::counterInstances(processorObject)) << "\n";
    for (uint32_t n = 0; n < count; ++n) {
        const platform::ProcessorDescription description = platform::processorDescription(n);
        processors.push_back(std::make_unique<Processor>(n, deviceText(description.name),
                                                         deviceText(description.identifier)));
        Processor &record = *processors.back();
        planned.push_back({record.counterTarget(), record.counters()});
        platform::ProcessorPlace place;
        const bool placed = platform::placeOfProcessor(groups, n, place);
        out << "Processor " << n << ": group "
            << (placed ? QString::number(place.group) : QStringLiteral("?")) << ", index "
            << (placed ? QString::number(place.index) : QStringLiteral("?")) << ", instance "
            << quoted(QString::fromStdString(planned.back().target.instance)) << ", name "
            << quoted(record.strName) << ", identifier " << quoted(record.strFamily) << "\n";
    }

    out << "\n[Disks]\n";
    out << "Listed instances: " << listOf(platform::counterInstances("PhysicalDisk")) << "\n";
    const std::vector<uint32_t> numbers = platform::physicalDiskNumbers();
    if (numbers.empty())
        out << "No physical disk opens.\n";
    for (uint32_t n : numbers) {
        platform::DiskIdentity identity;
        if (!platform::physicalDisk(n, identity)) {
            out << "Disk " << n << ": listed, but did not open\n";
            continue;
        }
        disks.push_back(std::make_unique<Storage>(n, deviceText(identity.model),
                                                  deviceText(identity.serial),
                                                  deviceText(identity.firmware)));
        Storage &record = *disks.back();
        planned.push_back({record.counterTarget(), record.counters()});
        out << "Disk " << n << ": model " << quoted(record.strModel) << ", serial "
            << quoted(record.strSerial) << ", firmware " << quoted(record.strFirmware)
            << ", volumes "
            << (record.listVolumes.isEmpty() ? QStringLiteral("none")
                                             : record.listVolumes.join(' '))
            << ", instance " << quoted(QString::fromStdString(planned.back().target.instance))
            << "\n";
    }

    out << "\n[Adapters]\n";
    out << "Listed instances: " << listOf(platform::counterInstances("Network Interface")) << "\n";
    for (const platform::Adapter &adapter : platform::adapters()) {
        adapters.push_back(std::make_unique<Network>(
            deviceText(adapter.description), deviceText(adapter.address), deviceText(adapter.mask),
            deviceText(adapter.gateway), adapter.speed, adapter.inOctets, adapter.outOctets,
            adapter.counterInstance, adapter.index));
        Network &record = *adapters.back();
        planned.push_back({record.counterTarget(), record.counters()});
        out << "Adapter " << quoted(record.strName) << ": index " << adapter.index << ", address "
            << record.strAddress << ", speed " << adapter.speed << " bit/s, instance "
            << quoted(QString::fromStdString(planned.back().target.instance)) << "\n";
    }

    out << "\n[Drive letters]\n";
    const std::vector<platform::DriveLetter> letters = platform::driveLetters();
    if (letters.empty())
        out << "None: this system does not name volumes by letter.\n";
    for (const platform::DriveLetter &letter : letters)
        out << letter.letter << ": " << platform::driveTypeName(letter.type) << "\n";

    out << "\n[Counters]\n";
    const QMap<QString, QString> index =
        Perfdata::parseCounterNames(QString::fromUtf8(platform::counterNameList()));
    out << "English counter names known: " << index.size() << "\n";
    const platform::QueryHandle query = platform::openQuery();
    if (!query)
        out << "The counter query could not be opened.\n";
    struct Added {
        QString path;
        QString english; // what the path names, before translation
        platform::CounterHandle handle;
        quint32 flags;
    };
    std::vector<Added> added;
    for (const Planned &device : planned)
        for (Counter *counter : device.counters) {
            std::string path;
            const platform::CounterHandle handle =
                Perfdata::addCounter(query, index, computer, device.target, *counter, path);
            const QString english = device.target.object + QLatin1Char('(') +
                                    QString::fromStdString(device.target.instance) +
                                    QStringLiteral(")\\") + QLatin1String(counter->englishName);
            added.push_back({QString::fromStdString(path), english, handle, counter->flags});
        }
    platform::collectQuery(query);
    QThread::msleep(settleMs);
    platform::collectQuery(query);
    int working = 0;
    for (const Added &counter : added) {
        if (counter.handle) {
            ++working;
            out << "added    " << qSetFieldWidth(12)
                << platform::formattedCounterValue(counter.handle, counter.flags)
                << qSetFieldWidth(0) << "  " << counter.path << "\n";
            platform::removeCounter(counter.handle);
        } else {
            // An empty object or counter name in the path means the system has no local
            // name for the English one.
            out << "refused  " << qSetFieldWidth(12) << "-" << qSetFieldWidth(0) << "  "
                << counter.path << "  (" << counter.english << ")\n";
        }
    }
    out << working << " of " << added.size() << " counters added (values are per second, "
        << "percentages in thousandths).\n";
    out.flush();
    return report;
}

bool SystemReport::requested(int argc, char **argv) {
    return argc >= 2 && argv[1] && QByteArray(argv[1]) == "--report";
}

int SystemReport::run(int argc, char **argv, const std::function<QString()> &appendix) {
    // The Qt arguments are the system's own command line: Unicode file names on Windows.
    QCoreApplication application(argc, argv);
    platform::suppressErrorDialogs();
    const QStringList arguments = QCoreApplication::arguments();
    const QByteArray text = (SystemReport::text() + (appendix ? appendix() : QString())).toUtf8();
    QString file = arguments.size() > 2 ? arguments.at(2) : QString();
    if (file.isEmpty()) {
        if (platform::writeStandardOutput(text.toStdString()))
            return 0;
        file = QStringLiteral("tarnivo-report.txt");
    }
    QFile target(file);
    if (!target.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        target.write(text) != text.size() || !target.flush())
        return 1;
    return 0;
}
