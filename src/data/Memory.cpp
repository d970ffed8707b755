#include "Memory.h"

#include "DeviceTables.h"
#include "platform/Platform.h"

Memory::Memory(const QString &name, quint64 total, quint64 free)
    : strIdent(makeIdent()), strName(name), intTotal(total), intFree(free),
      intUsage(usage(total, free)) {}

quint64 Memory::usage(quint64 total, quint64 free) {
    return usageFromRatio(1.0 - static_cast<double>(free) / static_cast<double>(total));
}

void memoryTableFill() {
    memoryTable.fill([] {
        // Both records come from one snapshot, so their figures belong to the same moment.
        const platform::MemoryStatus status = platform::memoryStatus();
        memoryTable.append(
            new Memory(QStringLiteral("Physical"), status.totalPhys, status.availPhys));
        memoryTable.append(
            new Memory(QStringLiteral("Pagefile"), status.totalPageFile, status.availPageFile));
    });
}

void memoryTableClear() {
    memoryTable.clear();
}
