// Times the live data core on this machine: one sampling pass over filled tables, one
// requestInit, one requestRead, and the sampler's CPU use while it runs idle.
//
//   tarnivo_data_bench [--passes N] [--inits N] [--idle SECONDS] [--print]
#include "DeviceScan.h"
#include "DeviceTables.h"
#include "Perfdata.h"
#include "PerfdataThread.h"
#include "StatusDocument.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTextStream>
#include <QThread>
#include <algorithm>
#include <ctime>
#include <vector>

namespace {
double median(std::vector<double> values) {
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2.0;
}

template <typename Work> double medianMilliseconds(int runs, Work work) {
    std::vector<double> times;
    times.reserve(size_t(runs));
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        work();
        times.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    return median(times);
}

double processCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

int countOf(const QString &document, const QString &tag) {
    return int(document.count(tag));
}
} // namespace

int main(int argc, char **argv) {
    QCoreApplication application(argc, argv);
    int passes = 200;
    int inits = 50;
    int idleSeconds = 0;
    bool print = false;
    const QStringList arguments = application.arguments();
    for (int i = 1; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        const bool hasValue = i + 1 < arguments.size();
        if (argument == QLatin1String("--passes") && hasValue)
            passes = arguments.at(++i).toInt();
        else if (argument == QLatin1String("--inits") && hasValue)
            inits = arguments.at(++i).toInt();
        else if (argument == QLatin1String("--idle") && hasValue)
            idleSeconds = arguments.at(++i).toInt();
        else if (argument == QLatin1String("--print"))
            print = true;
    }
    QTextStream out(stdout);
    const QString init = QStringLiteral("/menu.xml?strRequest=requestInit");
    const QString read = QStringLiteral("/menu.xml?strRequest=requestRead");

    PerfdataThread *sampler = perfdata()->thread;
    // Each requestInit timed here rescans: the rescans' clock is always past their gap.
    DeviceScan::instance().setClock([] {
        static qint64 now = 0;
        return now += DeviceScan::minimumGapMs;
    });
    StatusDocument::build(init);
    const QString document = StatusDocument::build(read);
    out << "devices: " << countOf(document, QStringLiteral("<Memory>")) << " memory, "
        << countOf(document, QStringLiteral("<Network>")) << " network, "
        << countOf(document, QStringLiteral("<Processor>")) << " processor, "
        << countOf(document, QStringLiteral("<Storage>")) << " storage\n";

    if (idleSeconds > 0) {
        // The background sampler alone: this thread only sleeps.
        const double before = processCpuSeconds();
        QThread::sleep(unsigned(idleSeconds));
        const double used = processCpuSeconds() - before;
        out << "idle sampling: " << QString::number(100.0 * used / idleSeconds, 'f', 4)
            << " % of one core over " << idleSeconds << " s\n";
    }

    // The timed passes are driven here, so the background sampler must not interleave.
    sampler->requestStop();
    sampler->wait();
    for (int i = 0; i < 3; ++i) {
        PerfdataThread::samplePass();
        QThread::msleep(300);
    }
    if (print)
        out << StatusDocument::build(read) << "\n";
    out << "sampling pass: median "
        << QString::number(medianMilliseconds(passes, [] { PerfdataThread::samplePass(); }), 'f', 4)
        << " ms over " << passes << " passes\n";
    out << "requestInit: median "
        << QString::number(medianMilliseconds(inits, [&init] { StatusDocument::build(init); }), 'f',
                           4)
        << " ms over " << inits << " requests\n";
    out << "requestRead: median "
        << QString::number(medianMilliseconds(inits, [&read] { StatusDocument::build(read); }), 'f',
                           4)
        << " ms over " << inits << " requests\n";
    return 0;
}
