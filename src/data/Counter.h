// One performance counter of a record: which counter it is (its English name and the format it
// is read in), its handle in the shared query and its last reading. A record lists its counters
// as fields of this type, so a name can never be paired with another counter's handle.
#pragma once

#include "platform/Platform.h"

#include <QtGlobal>

// Format flags: rates ("/sec") per second, percentages ("%") in thousandths of a percent.
constexpr quint32 rateFlags = platform::FMT_LARGE | platform::FMT_NOCAP100;
constexpr quint32 percentFlags = platform::FMT_LARGE | platform::FMT_1000 | platform::FMT_NOCAP100;

class Counter {
public:
    Counter(const char *english, quint32 format) : englishName(english), flags(format) {}
    // Removes the counter from the query.
    ~Counter() { remove(); }
    Counter(const Counter &) = delete;
    Counter &operator=(const Counter &) = delete;

    // Removes a non-null handle from the query and nulls it.
    void remove();
    // Takes the handle and the last reading of the same counter of an older record, which is
    // left without a handle.
    void takeOver(Counter &older);

    const char *const englishName;
    const quint32 flags;
    platform::CounterHandle handle = nullptr; // null until added
    qint64 value = 0;                         // the last reading; 0 for a failed one
};
