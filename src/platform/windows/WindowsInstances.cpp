// Windows backend: the counter instances of processors, disks and adapters, as the counter
// service lists them (PdhEnumObjectItemsW), with the adapters' Unicode descriptions
// (GetAdaptersAddresses) to find an adapter's instance by.
#include <winsock2.h>
#include <ws2ipdef.h>

#include "platform/DeviceRules.h"
#include "platform/Platform.h"
#include "platform/windows/WindowsText.h"

#include <iphlpapi.h>
#include <pdh.h>
#include <pdhmsg.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <mutex>

namespace platform {

namespace {

// The listings, the local object names and whether the counter service has answered a
// listing. Guarded by listMutex.
std::mutex listMutex;
std::map<std::string, std::string> localObjects; // English object name -> local, once found
bool listingAnswered = false;

// The local name of an English object name, through the English name list.
std::string localObjectName(const std::string &english) {
    const std::string list = counterNameList();
    std::string::size_type start = 0;
    std::string index;
    for (bool isName = false; start < list.size(); isName = !isName) {
        std::string::size_type end = list.find('\0', start);
        if (end == std::string::npos)
            end = list.size();
        const std::string part = list.substr(start, end - start);
        if (isName && part == english)
            return lookupPerfNameByIndex(computerName(),
                                         uint32_t(std::strtoul(index.c_str(), nullptr, 10)));
        if (!isName)
            index = part;
        start = end + 1;
    }
    return {};
}

std::vector<std::string> splitMultiString(const std::vector<wchar_t> &buffer) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (std::size_t i = 0; i < buffer.size(); ++i) {
        if (buffer[i] != L'\0')
            continue;
        if (i == start)
            break; // the empty string that ends the list
        parts.push_back(wideToUtf8(buffer.data() + start, i - start));
        start = i + 1;
    }
    return parts;
}

std::vector<std::string> enumerateInstances(const std::string &localObject) {
    const std::wstring object = utf8ToWide(localObject);
    // A call with buffers too small gives sizes that are not to be relied on (or fails with an
    // invalid argument), so a second try asks for the sizes afresh.
    for (int attempt = 0; attempt < 3; ++attempt) {
        DWORD counterLength = 0, instanceLength = 0;
        PDH_STATUS status =
            PdhEnumObjectItemsW(nullptr, nullptr, object.c_str(), nullptr, &counterLength, nullptr,
                                &instanceLength, PERF_DETAIL_WIZARD, 0);
        if (status != PDH_STATUS(PDH_MORE_DATA) && status != ERROR_SUCCESS)
            return {};
        listingAnswered = true;
        if (instanceLength == 0)
            return {};
        std::vector<wchar_t> counters(counterLength + 1, L'\0');
        std::vector<wchar_t> instances(instanceLength + 1, L'\0');
        status =
            PdhEnumObjectItemsW(nullptr, nullptr, object.c_str(), counters.data(), &counterLength,
                                instances.data(), &instanceLength, PERF_DETAIL_WIZARD, 0);
        if (status == ERROR_SUCCESS)
            return splitMultiString(instances);
        if (status != PDH_STATUS(PDH_MORE_DATA) && status != PDH_STATUS(PDH_INVALID_ARGUMENT))
            return {};
    }
    return {};
}

// Has the counter service take a new copy of the machine's objects, from which the instance
// lists are answered: asked for the size of the object list only, with the copy renewed first.
void renewObjects() {
    // Before a listing was answered there is no copy to renew; and a counter service that
    // answers none (Wine's) has no renewal either: its call ends the program.
    if (!listingAnswered)
        return;
    DWORD length = 0;
    PdhEnumObjectsW(nullptr, nullptr, nullptr, &length, PERF_DETAIL_WIZARD, TRUE);
}

std::vector<std::string> listInstances(const std::string &englishObject) {
    std::string &local = localObjects[englishObject];
    if (local.empty())
        local = localObjectName(englishObject);
    return local.empty() ? std::vector<std::string>() : enumerateInstances(local);
}

bool listed(const std::vector<std::string> &instances, const std::string &name) {
    return std::find(instances.begin(), instances.end(), name) != instances.end();
}

// Interface index and Unicode description of every adapter, by interface index.
std::vector<AdapterName> unicodeAdapterNames() {
    std::vector<AdapterName> names;
    ULONG size = 16 * 1024;
    std::vector<unsigned char> buffer;
    ULONG status = ERROR_BUFFER_OVERFLOW;
    for (int attempt = 0; attempt < 4 && status == ERROR_BUFFER_OVERFLOW; ++attempt) {
        buffer.assign(size, 0);
        status = GetAdaptersAddresses(
            AF_UNSPEC,
            GAA_FLAG_SKIP_UNICAST | GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST |
                GAA_FLAG_SKIP_DNS_SERVER,
            nullptr, reinterpret_cast<IP_ADAPTER_ADDRESSES *>(buffer.data()), &size);
    }
    if (status != NO_ERROR)
        return names;
    for (auto *entry = reinterpret_cast<IP_ADAPTER_ADDRESSES *>(buffer.data()); entry != nullptr;
         entry = entry->Next) {
        const wchar_t *text = entry->Description ? entry->Description : L"";
        std::size_t length = 0;
        while (text[length] != L'\0')
            ++length;
        names.push_back({uint32_t(entry->IfIndex), wideToUtf8(text, length)});
    }
    std::sort(names.begin(), names.end(),
              [](const AdapterName &a, const AdapterName &b) { return a.index < b.index; });
    return names;
}

} // namespace

std::vector<std::string> counterInstances(const std::string &englishObject) {
    std::lock_guard<std::mutex> lock(listMutex);
    static InstanceListings listings(renewObjects, listInstances);
    return listings.instances(englishObject, GetTickCount64());
}

std::string processorCounterObject() {
    // "Processor" holds the first group's processors only.
    return "Processor Information";
}

std::string processorCounterInstance(uint32_t n) {
    const std::vector<std::string> ordered =
        orderedProcessorInstances(counterInstances(processorCounterObject()));
    if (n < ordered.size())
        return ordered[n];
    ProcessorPlace place;
    if (!placeOfProcessor(processorGroups(), n, place))
        place.index = n;
    return processorInstance(place);
}

std::string diskCounterInstance(uint32_t n, const std::vector<std::string> &volumes) {
    std::string built = std::to_string(n);
    for (const std::string &root : volumes) {
        if (!root.empty())
            built += std::string(" ") + root[0] + ":";
    }
    const std::vector<std::string> instances = counterInstances("PhysicalDisk");
    if (instances.empty() || listed(instances, built))
        return built;
    const std::string found = findDiskInstance(instances, n);
    return found.empty() ? built : found;
}

std::string adapterCounterInstance(uint32_t index, const std::string &built) {
    // The adapter list's description is 8-bit text in the system's code page; the counter
    // service names the instance after the Unicode one.
    const std::vector<std::string> instances = counterInstances("Network Interface");
    return chooseAdapterInstance(
        instances, built, instances.empty() ? std::vector<AdapterName>() : unicodeAdapterNames(),
        index);
}

} // namespace platform
