// What the history costs for a machine of a given size: feeds the real History class the series
// of N processors, M adapters and D disks (as the sampling thread makes them) for more than a
// day of samples through its clock, then prints the resident memory it took, the processor time
// per sample, and the size and build time of /history.json for 5 minutes, 1 hour and 24 hours.
//
//   tarnivo_history_bench [--cores 8] [--adapters 4] [--disks 4] [--hours 25]
#include "DeviceTables.h"
#include "History.h"
#include "HistoryFile.h"
#include "PerfdataThread.h"
#include "StatusDocument.h"
#include "platform/Platform.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTextStream>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <ctime>
#include <random>
#include <thread>
#include <vector>

namespace {
double cpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

// Resident memory of this process in KiB (Linux; 0 elsewhere).
qint64 residentKib() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    }
    return 0;
}

// Figures that look like a workstation's: processors anywhere, memory about half used, and byte
// rates spread over many orders of magnitude, many adapters and disks idle at 0.
struct Machine {
    int cores = 0, adapters = 0, disks = 0;
    QStringList coreIdents, adapterIdents, diskIdents, memoryIdents;
    // Drawn beforehand, so that the timing is the history's alone.
    std::vector<float> usages, rates;
    size_t next = 0;

    void draw() {
        std::mt19937 random{42};
        for (int i = 0; i < 65536; ++i) {
            usages.push_back(std::uniform_real_distribution<float>(0, 100)(random));
            const bool idle = std::uniform_int_distribution<int>(0, 9)(random) < 4;
            rates.push_back(
                idle ? 0
                     : float(std::pow(10.0, std::uniform_real_distribution<double>(1, 8)(random))));
        }
    }
    float usage() { return usages[next++ % usages.size()]; }
    float rate() { return rates[next++ % rates.size()]; }

    // Built as the sampling thread builds it: keys copied from the records, totals joined.
    std::vector<History::Entry> sample() {
        std::vector<History::Entry> rows;
        rows.reserve(32);
        double sum = 0;
        for (const QString &ident : coreIdents) {
            const float u = usage();
            sum += u;
            rows.push_back(History::Entry(ident, u, 0, 1, 1, true));
        }
        rows.push_back(
            History::Entry(QLatin1String("Processor:") + coreIdents.join(QLatin1Char(',')),
                           float(sum / cores), 0, 1, 1, true));
        const float memory = 40 + usage() / 5;
        rows.push_back(
            History::Entry(QLatin1String("Memory:") + memoryIdents.join(QLatin1Char(',')), memory,
                           memory, 2, 1, false));
        const auto rates = [&](const QStringList &idents, const char *kind) {
            double read = 0, written = 0;
            for (const QString &ident : idents) {
                const float r = rate(), w = rate();
                read += r;
                written += w;
                rows.push_back(History::Entry(ident, r, w, 2, 0, true));
            }
            rows.push_back(History::Entry(QLatin1String(kind) + idents.join(QLatin1Char(',')),
                                          float(read), float(written), 2, 0, true));
        };
        rates(adapterIdents, "Network:");
        rates(diskIdents, "Storage:");
        return rows;
    }
};

template <typename Work> double medianMicroseconds(int runs, Work work) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        work();
        times.push_back(double(timer.nsecsElapsed()) / 1e3);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}
} // namespace

int main(int argc, char **argv) {
    QCoreApplication application(argc, argv);
    int cores = 8, adapters = 4, disks = 4, hours = 25;
    const QStringList arguments = application.arguments();
    for (int i = 1; i + 1 < arguments.size(); i += 2) {
        const QString &name = arguments.at(i);
        const int value = arguments.at(i + 1).toInt();
        if (name == QLatin1String("--cores"))
            cores = value;
        else if (name == QLatin1String("--adapters"))
            adapters = value;
        else if (name == QLatin1String("--disks"))
            disks = value;
        else if (name == QLatin1String("--hours"))
            hours = value;
    }
    QTextStream out(stdout);
    Machine machine;
    machine.cores = cores;
    machine.adapters = adapters;
    machine.disks = disks;
    for (int i = 0; i < cores; ++i)
        machine.coreIdents.append(makeIdent());
    for (int i = 0; i < adapters; ++i)
        machine.adapterIdents.append(makeIdent());
    for (int i = 0; i < disks; ++i)
        machine.diskIdents.append(makeIdent());
    machine.memoryIdents = {makeIdent(), makeIdent()};
    machine.draw();

    // Read by the history's clock on the reader thread below as well.
    std::atomic<qint64> now{1'700'000'000'000};
    const qint64 before = residentKib();
    auto *history = new History;
    history->setClock([&now] { return now.load(); });
    history->record(machine.sample());
    now += 1000;
    const qint64 adopted = residentKib();

    const int samples = hours * 3600;
    const double cpuStart = cpuSeconds();
    for (int i = 1; i < samples; ++i) {
        history->record(machine.sample());
        now += 1000;
    }
    const double perSample = (cpuSeconds() - cpuStart) / (samples - 1);
    const qint64 full = residentKib();
    // The one system read the history adds to a pass: memory in use at this moment.
    const double memoryRead = medianMicroseconds(200, [] { platform::memoryStatus(); });

    out << cores << " processors, " << adapters << " adapters, " << disks
        << " disks: " << (cores + 1) + 1 + (adapters + 1) + (disks + 1) << " series, " << samples
        << " samples (" << hours << " h at one a second)\n";
    out << "resident memory: +" << QString::number(double(adopted - before) / 1024.0, 'f', 2)
        << " MiB once the series are made, +"
        << QString::number(double(full - before) / 1024.0, 'f', 2) << " MiB after " << hours
        << " h (growth while full: " << (full - adopted) << " KiB)\n";
    const double recordUs = perSample * 1e6;
    out << "processor time per sample: " << QString::number(recordUs, 'f', 2) << " us recording + "
        << QString::number(memoryRead, 'f', 2)
        << " us reading memory = " << QString::number((recordUs + memoryRead) / 1e6 * 100.0, 'f', 4)
        << " % of one core at one sample a second\n";
    for (const auto &[name, seconds] : std::vector<std::pair<const char *, qint64>>{
             {"5 min", 300}, {"1 h", 3600}, {"24 h", 86400}}) {
        const qint64 since = now - seconds * 1000;
        const QString document = history->document(since);
        const double build = medianMicroseconds(9, [&] { history->document(since); });
        out << "/history.json " << name << ": " << QString::number(document.size() / 1024.0, 'f', 1)
            << " KiB, built in " << QString::number(build / 1000.0, 'f', 2) << " ms\n";
    }

    // Once a minute the history goes to its file: its size, and the processor time of a save
    // (the fsync's wait for the disk is not the processor's).
    {
        QTemporaryDir folder;
        HistoryFile file(*history);
        file.setFolder(folder.path());
        const int saves = 9;
        const double saveStart = cpuSeconds();
        for (int i = 0; i < saves; ++i)
            file.save();
        const double save = (cpuSeconds() - saveStart) / saves;
        out << "history file: "
            << QString::number(QFileInfo(file.filePath()).size() / 1024.0, 'f', 1)
            << " KiB, a save " << QString::number(save * 1000.0, 'f', 2)
            << " ms of processor time = " << QString::number(save / 60.0 * 100.0, 'f', 4)
            << " % of one core at one save a minute\n";
    }

    // The sampling thread's wait while connection threads build the 24-hour document over and
    // over: the history's mutex is held only while the rows are copied out.
    std::atomic<bool> reading{true};
    std::thread reader([&] {
        while (reading)
            history->document(now - 86'400'000);
    });
    std::vector<double> waits;
    for (int i = 0; i < 200; ++i) {
        const std::vector<History::Entry> sample = machine.sample();
        QElapsedTimer timer;
        timer.start();
        history->record(sample);
        waits.push_back(double(timer.nsecsElapsed()) / 1e3);
        now += 1000;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    reading = false;
    reader.join();
    std::sort(waits.begin(), waits.end());
    out << "a sample recorded while /history.json 24 h is built without pause: median "
        << QString::number(waits[waits.size() / 2] / 1000.0, 'f', 3) << " ms, worst "
        << QString::number(waits.back() / 1000.0, 'f', 3) << " ms\n";

    // The sampling thread's own call on this machine, its devices taken and a pass published.
    History &own = History::instance();
    StatusDocument::build(QStringLiteral("/menu.xml?strRequest=requestInit"));
    PerfdataThread::samplePass();
    const double pass = medianMicroseconds(1001, [&own] { own.recordTables(); });
    out << "this machine, the history's part of a sampling pass: " << QString::number(pass, 'f', 2)
        << " us\n";
    return 0;
}
