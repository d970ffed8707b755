// Windows backend: the English counter-name list and the performance-counter query (PDH).
// PDH serialises the calls on one query itself, so the query needs no lock of ours.
#include "platform/Platform.h"
#include "platform/windows/WindowsText.h"

#include <map>
#include <mutex>
#include <pdh.h>
#include <pdhmsg.h>
#include <vector>

namespace platform {

namespace {
constexpr DWORD NAME_CAPACITY = 256;

// The query of every counter added and not yet removed, for counterCount(): the counter
// service itself does not tell. Guarded by heldMutex.
std::mutex heldMutex;
std::map<CounterHandle, QueryHandle> held;

// An added counter, recorded as held by its query.
CounterHandle hold(QueryHandle query, PDH_HCOUNTER counter) {
    std::lock_guard<std::mutex> lock(heldMutex);
    held[static_cast<CounterHandle>(counter)] = query;
    return static_cast<CounterHandle>(counter);
}
} // namespace

std::string counterNameList() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE,
                      L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Perflib\\009", 0, KEY_READ,
                      &key) != ERROR_SUCCESS ||
        key == nullptr)
        return {};
    std::wstring list;
    const bool read = readRegistryValue(key, L"Counter", list);
    RegCloseKey(key);
    if (!read)
        return {};
    return wideToUtf8(list.data(), list.size());
}

std::string lookupPerfNameByIndex(const std::string &computer, uint32_t index) {
    const std::wstring machine = utf8ToWide(computer);
    wchar_t buffer[NAME_CAPACITY] = {};
    DWORD capacity = NAME_CAPACITY;
    if (PdhLookupPerfNameByIndexW(machine.c_str(), index, buffer, &capacity) != ERROR_SUCCESS)
        return {};
    std::size_t length = 0;
    while (length < NAME_CAPACITY && buffer[length] != L'\0')
        ++length;
    return wideToUtf8(buffer, length);
}

bool countersGiveRates() {
    return true;
}

QueryHandle openQuery() {
    PDH_HQUERY query = nullptr;
    if (PdhOpenQueryW(nullptr, 0, &query) != ERROR_SUCCESS)
        return nullptr;
    // The handle types are never defined here: they stand for the counter service's own.
    return static_cast<QueryHandle>(query);
}

CounterHandle addCounter(QueryHandle query, const std::string &path) {
    if (query == nullptr)
        return nullptr;
    const std::wstring widePath = utf8ToWide(path);
    // The counter service adds a counter for an instance that does not exist and then reads it
    // as 0. Refused here, as the Linux query refuses it, so that the record above sees the
    // failure and sets the counter up again on its next visit.
    if (PdhValidatePathW(widePath.c_str()) != ERROR_SUCCESS)
        return nullptr;
    PDH_HCOUNTER counter = nullptr;
    if (PdhAddCounterW(static_cast<PDH_HQUERY>(query), widePath.c_str(), 0, &counter) !=
        ERROR_SUCCESS)
        return nullptr;
    return hold(query, counter);
}

CounterHandle addEnglishCounter(QueryHandle query, const std::string &path) {
    if (query == nullptr)
        return nullptr;
    const std::wstring widePath = utf8ToWide(path);
    PDH_HCOUNTER counter = nullptr;
    if (PdhAddEnglishCounterW(static_cast<PDH_HQUERY>(query), widePath.c_str(), 0, &counter) !=
        ERROR_SUCCESS)
        return nullptr;
    // Refused as addCounter() refuses it when its instance does not exist; the path is checked
    // in the local names the service made of the English ones, when it tells them (Wine
    // leaves the full path empty).
    DWORD size = 0;
    if (DWORD(PdhGetCounterInfoW(counter, FALSE, &size, nullptr)) == DWORD(PDH_MORE_DATA) &&
        size >= sizeof(PDH_COUNTER_INFO_W)) {
        std::vector<BYTE> buffer(size);
        auto *info = reinterpret_cast<PDH_COUNTER_INFO_W *>(buffer.data());
        if (PdhGetCounterInfoW(counter, FALSE, &size, info) == ERROR_SUCCESS && info->szFullPath &&
            *info->szFullPath && PdhValidatePathW(info->szFullPath) != ERROR_SUCCESS) {
            PdhRemoveCounter(counter);
            return nullptr;
        }
    }
    return hold(query, counter);
}

void collectQuery(QueryHandle query) {
    if (query != nullptr)
        PdhCollectQueryData(static_cast<PDH_HQUERY>(query));
}

int64_t formattedCounterValue(CounterHandle counter, uint32_t flags) {
    if (counter == nullptr)
        return 0;
    PDH_FMT_COUNTERVALUE value{};
    // A counter that has not been collected twice yet, or whose instance has gone, reports a
    // failure here and may leave its own figure in the record; that figure is not a reading.
    if (PdhGetFormattedCounterValue(static_cast<PDH_HCOUNTER>(counter), flags, nullptr, &value) !=
        ERROR_SUCCESS)
        return 0;
    if (value.CStatus != PDH_CSTATUS_VALID_DATA && value.CStatus != PDH_CSTATUS_NEW_DATA)
        return 0;
    return value.largeValue;
}

void removeCounter(CounterHandle counter) {
    if (counter == nullptr)
        return;
    PdhRemoveCounter(static_cast<PDH_HCOUNTER>(counter));
    std::lock_guard<std::mutex> lock(heldMutex);
    held.erase(counter);
}

size_t counterCount(QueryHandle query) {
    std::lock_guard<std::mutex> lock(heldMutex);
    size_t count = 0;
    for (const auto &entry : held)
        count += entry.second == query ? 1 : 0;
    return count;
}

} // namespace platform
