#include "DeviceTables.h"

#include "CleanText.h"
#include "Memory.h"
#include "Network.h"
#include "Processor.h"
#include "Storage.h"

#include <QCryptographicHash>
#include <QUuid>
#include <cmath>
#include <limits>

DeviceTable<Memory> memoryTable;
DeviceTable<Network> networkTable;
DeviceTable<Processor> processorTable;
DeviceTable<Storage> storageTable;

QString makeIdent() {
    const QByteArray uuidText = QUuid::createUuid().toString().toUtf8();
    return QString::fromLatin1(QCryptographicHash::hash(uuidText, QCryptographicHash::Md5).toHex());
}

QString deviceText(const std::string &utf8) {
    return CleanText::clean(QString::fromStdString(utf8).trimmed());
}

quint64 clampUsage(qint64 value) {
    const quint64 unsignedValue = static_cast<quint64>(value);
    return unsignedValue > usageFull ? usageFull : unsignedValue;
}

quint64 usageFromRatio(double ratio) {
    const double product = ratio * 100000.0;
    // 2^63 is exactly representable; anything at or above it, or below -2^63, would be undefined
    // behaviour in the conversion.
    constexpr double limit = 9223372036854775808.0;
    qint64 truncated = std::numeric_limits<qint64>::min();
    if (std::isfinite(product) && product < limit && product >= -limit)
        truncated = static_cast<qint64>(product);
    return clampUsage(truncated);
}
