// Running totals as the live system (or Wine) reports them.
#define CHECK_MAIN
#include "check.h"

#include "platform/Platform.h"
#include "platform/Totals.h"

#include <chrono>
#include <set>
#include <string>

TEST_CASE("every logical processor has a busy time that grows while it works") {
    const platform::Totals before = platform::totals();
    CHECK_EQ(before.processors.size(), size_t(platform::processorCount()));
    // Half a second of work on this thread, on whichever processor runs it.
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
    volatile unsigned long spin = 0;
    while (std::chrono::steady_clock::now() < end)
        spin = spin + 1;
    const platform::Totals after = platform::totals();
    CHECK_EQ(after.processors.size(), before.processors.size());
    uint64_t grown = 0;
    for (size_t i = 0; i < before.processors.size() && i < after.processors.size(); ++i) {
        CHECK_EQ(after.processors[i].index, uint32_t(i));
        CHECK(after.processors[i].busyMicroseconds >= before.processors[i].busyMicroseconds);
        grown += after.processors[i].busyMicroseconds - before.processors[i].busyMicroseconds;
    }
    CHECK(grown >= 250000);
}

TEST_CASE("the adapters with totals are adapters of the adapter list") {
    std::set<std::string> listed;
    for (const platform::Adapter &adapter : platform::adapters())
        listed.insert(adapter.description);
    const platform::Totals totals = platform::totals();
    for (const platform::AdapterTotals &adapter : totals.adapters)
        CHECK(listed.count(adapter.description) == 1);
    // Disks are numbered as the disk scan numbers them, each once, in ascending order.
    for (size_t i = 1; i < totals.disks.size(); ++i)
        CHECK(totals.disks[i].number > totals.disks[i - 1].number);
}
