// Placeholder Linux backend; replaced by the real one.
#include "platform/Platform.h"

namespace platform {
void enableDebugPrivilege() {}
std::string computerName() { return {}; }
MemoryStatus memoryStatus() { return {}; }
std::string counterNameList() { return {}; }
std::string lookupPerfNameByIndex(const std::string &, uint32_t) { return {}; }
QueryHandle openQuery() { return nullptr; }
CounterHandle addCounter(QueryHandle, const std::string &) { return nullptr; }
void collectQuery(QueryHandle) {}
int64_t formattedCounterValue(CounterHandle, uint32_t) { return 0; }
void removeCounter(CounterHandle) {}
std::vector<Adapter> adapters() { return {}; }
uint32_t processorCount() { return 0; }
ProcessorDescription processorDescription(uint32_t) { return {}; }
bool physicalDisk(uint32_t, DiskIdentity &) { return false; }
std::vector<std::string> volumesOfDisk(uint32_t) { return {}; }
} // namespace platform
