#include "Processor.h"

#include "DeviceTables.h"
#include "Perfdata.h"

Processor::Processor(quint32 core, const QString &name, const QString &family)
    : strIdent(makeIdent()), intCore(core), strName(name), strFamily(family) {}

CounterTarget Processor::counterTarget() const {
    return {QString::fromStdString(platform::processorCounterObject()),
            QString::fromStdString(platform::processorCounterInstance(intCore))};
}

void Processor::sample() {
    perfdata()->sample([this] { return counterTarget(); }, counters());
    store(counterUsage.value);
}

// Clamped: the counter service does not cap percentages at 100.
void Processor::store(qint64 usageValue) {
    intUsage = clampUsage(usageValue);
}

void processorTableFill() {
    processorTable.fill([] {
        const quint32 count = platform::processorCount();
        for (quint32 i = 0; i < count; ++i) {
            const platform::ProcessorDescription description = platform::processorDescription(i);
            processorTable.append(
                new Processor(i, deviceText(description.name), deviceText(description.identifier)));
        }
    });
}

void processorTableClear() {
    processorTable.clear();
}
