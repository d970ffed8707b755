// The four device tables, their mutexes, record identifiers and the usage unit.
//
// Each table owns its records (DeviceTable): the collector's fill or rescan makes them, its clear
// or the next rescan deletes them, nothing else does. Every table operation, status-document read
// and sampling visit holds exactly one table mutex for its whole run and never a second.
#pragma once

#include "DeviceTable.h"

#include <QString>
#include <string>

class Memory;
class Network;
class Processor;
class Storage;

extern DeviceTable<Memory> memoryTable;
extern DeviceTable<Network> networkTable;
extern DeviceTable<Processor> processorTable;
extern DeviceTable<Storage> storageTable;

// A new record identifier: the MD5 digest of a fresh UUID's text, as 32 lowercase hex digits.
QString makeIdent();

// A text from the system (UTF-8) as a record keeps it: trimmed, and with every character that
// no output format may carry replaced by U+FFFD. Records are filled through here only, so the
// status document and every later format get clean texts.
QString deviceText(const std::string &utf8);

// Usage figures are thousandths of a percent, 0..100000. A value is read as unsigned and capped,
// so a negative one (or the marker of a failed conversion) reads as 100 %.
constexpr quint64 usageFull = 100000;
quint64 clampUsage(qint64 value);

// ratio * 100000 truncated toward zero, then clamped. A product that is not finite or does not
// fit in 64 bits (a zero divisor, for instance) converts to the most negative value first.
quint64 usageFromRatio(double ratio);
