#include "Processor.h"

#include "DeviceTables.h"
#include "Perfdata.h"

Processor::Processor(quint32 core, const QString &name, const QString &family)
    : strIdent(makeIdent()), intCore(core), strName(name), strFamily(family) {}

Processor::~Processor() {
    Perfdata::removeCounter(counterUsage);
}

void Processor::sample() {
    if (!counterUsage) {
        static const QStringList names = {QStringLiteral("% Processor Time")};
        perfdata()->setUpCounters(QString::number(intCore), QStringLiteral("Processor"), names,
                                  {&counterUsage});
    }
    store(Perfdata::readCounter(counterUsage, percentFlags));
}

// Clamped: the counter service does not cap percentages at 100.
void Processor::store(qint64 usageValue) {
    intUsage = clampUsage(usageValue);
}

void processorTableFill() {
    QMutexLocker locker(&processorMutex);
    const quint32 count = platform::processorCount();
    for (quint32 i = 0; i < count; ++i) {
        const platform::ProcessorDescription description = platform::processorDescription(i);
        processorTable.append(
            new Processor(i, deviceText(description.name), deviceText(description.identifier)));
    }
}

void processorTableClear() {
    QMutexLocker locker(&processorMutex);
    for (qsizetype i = 0; i < processorTable.size(); ++i)
        delete processorTable.at(i);
    processorTable = QVector<Processor *>();
}
