#include "Memory.h"

#include "DeviceTables.h"
#include "platform/Platform.h"

Memory::Memory(const QString &name, quint64 total, quint64 free)
    : strIdent(makeIdent()), strName(name), intTotal(total), intFree(free),
      intUsage(usage(total, free)) {}

quint64 Memory::usage(quint64 total, quint64 free) {
    return usageFromRatio(1.0 - static_cast<double>(free) / static_cast<double>(total));
}

namespace {
// Both records come from one snapshot, so their figures belong to the same moment.
QVector<Memory *> scanMemory() {
    const platform::MemoryStatus status = platform::memoryStatus();
    return {new Memory(QStringLiteral("Physical"), status.totalPhys, status.availPhys),
            new Memory(QStringLiteral("Pagefile"), status.totalPageFile, status.availPageFile)};
}
} // namespace

void memoryTableFill() {
    memoryTable.fill([] {
        for (Memory *record : scanMemory())
            memoryTable.append(record);
    });
}

void memoryTableClear() {
    memoryTable.clear();
}

void memoryTableRescan() {
    memoryTable.replace(scanMemory());
}
