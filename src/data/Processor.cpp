#include "Processor.h"

#include "DeviceTables.h"
#include "Perfdata.h"

Processor::Processor(quint32 core, const QString &name, const QString &family)
    : strIdent(makeIdent()), intCore(core), strName(name), strFamily(family) {}

CounterTarget Processor::counterTarget() const {
    return {QString::fromStdString(platform::processorCounterObject()),
            platform::processorCounterInstance(intCore)};
}

void Processor::sample() {
    perfdata()->sample([this] { return counterTarget(); }, counters());
    store(counterUsage.value);
}

bool Processor::adopt(Processor &old) {
    if (intCore != old.intCore)
        return false;
    counterUsage.takeOver(old.counterUsage);
    store(counterUsage.value);
    return true;
}

// Clamped: the counter service does not cap percentages at 100.
void Processor::store(qint64 usageValue) {
    intUsage = clampUsage(usageValue);
}

namespace {
QVector<Processor *> scanProcessors() {
    QVector<Processor *> records;
    const quint32 count = platform::processorCount();
    for (quint32 i = 0; i < count; ++i) {
        const platform::ProcessorDescription description = platform::processorDescription(i);
        records.append(
            new Processor(i, deviceText(description.name), deviceText(description.identifier)));
    }
    return records;
}
} // namespace

void processorTableFill() {
    processorTable.fill([] {
        for (Processor *record : scanProcessors())
            processorTable.append(record);
    });
}

void processorTableClear() {
    processorTable.clear();
}

void processorTableRescan() {
    processorTable.replace(scanProcessors());
}
