// Network adapters, physical disks and volumes, as the live system reports them.
#include <winsock2.h>
#include <ws2tcpip.h>

#define CHECK_MAIN
#include "check.h"
#include "windows_wine.h"

#include "platform/Platform.h"

#include <iphlpapi.h>

#include <set>
#include <string>
#include <vector>

namespace {

bool isDottedAddress(const std::string &text) {
    in_addr address{};
    return inet_pton(AF_INET, text.c_str(), &address) == 1;
}

// Interface indexes of the IPv4 adapters, asked through the newer adapter-address call.
std::set<uint32_t> ipv4InterfaceIndexes() {
    std::set<uint32_t> indexes;
    ULONG size = 16 * 1024;
    std::vector<unsigned char> buffer;
    ULONG status = ERROR_BUFFER_OVERFLOW;
    for (int attempt = 0; attempt < 4 && status == ERROR_BUFFER_OVERFLOW; ++attempt) {
        buffer.assign(size, 0);
        status =
            GetAdaptersAddresses(AF_INET, GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST, nullptr,
                                 reinterpret_cast<IP_ADAPTER_ADDRESSES *>(buffer.data()), &size);
    }
    if (status != NO_ERROR)
        return indexes;
    for (auto *entry = reinterpret_cast<IP_ADAPTER_ADDRESSES *>(buffer.data()); entry != nullptr;
         entry = entry->Next)
        if (entry->IfType != IF_TYPE_SOFTWARE_LOOPBACK)
            indexes.insert(entry->IfIndex);
    return indexes;
}

// Disks 0, 1, ... up to the first that does not open.
uint32_t diskCount() {
    uint32_t n = 0;
    platform::DiskIdentity identity;
    while (n < 64 && platform::physicalDisk(n, identity))
        ++n;
    return n;
}

} // namespace

TEST_CASE("every IPv4 adapter is listed once, with its description and address") {
    const std::vector<platform::Adapter> list = platform::adapters();
    std::set<uint32_t> listed;
    for (const platform::Adapter &adapter : list) {
        CHECK(!adapter.description.empty());
        CHECK(isDottedAddress(adapter.address));
        CHECK(isDottedAddress(adapter.mask));
        CHECK(adapter.gateway.empty() || isDottedAddress(adapter.gateway));
        CHECK(listed.insert(adapter.index).second);
    }
    CHECK(listed == ipv4InterfaceIndexes());
    CHECK(!list.empty());
}

TEST_CASE("an adapter's octet counts do not run backwards between two readings") {
    const std::vector<platform::Adapter> before = platform::adapters();
    const std::vector<platform::Adapter> after = platform::adapters();
    CHECK_EQ(before.size(), after.size());
    for (std::size_t i = 0; i < before.size() && i < after.size(); ++i) {
        CHECK_EQ(before[i].index, after[i].index);
        CHECK_EQ(before[i].description, after[i].description);
        // 32-bit counters: a wrap between two immediate readings would need 4 GiB of traffic.
        CHECK(after[i].inOctets >= before[i].inOctets);
        CHECK(after[i].outOctets >= before[i].outOctets);
    }
}

TEST_CASE("disk 0 opens and the numbering ends at the first missing disk") {
    platform::DiskIdentity identity;
    identity.model = identity.serial = identity.firmware = "left over";
    if (!platform::physicalDisk(0, identity)) {
        const DWORD error = GetLastError();
        if (error == ERROR_ACCESS_DENIED)
            SKIP("opening a physical disk needs administrator rights");
        CHECK(false);
        return;
    }
    CHECK(identity.model != "left over");
    for (const std::string *text : {&identity.model, &identity.serial, &identity.firmware})
        CHECK(text->find('\0') == std::string::npos);
    const uint32_t count = diskCount();
    CHECK(count >= 1);
    CHECK(count < 64);
    platform::DiskIdentity missing;
    missing.model = "left over";
    CHECK(!platform::physicalDisk(count, missing));
    CHECK(missing.model.empty());
    CHECK(platform::volumesOfDisk(count).empty());
}

TEST_CASE("each lettered fixed volume lies on exactly one disk, letters ascending") {
    const uint32_t count = diskCount();
    if (count == 0)
        SKIP("no physical disk opens here");
    std::set<std::string> seen;
    for (uint32_t n = 0; n < count; ++n) {
        const std::vector<std::string> volumes = platform::volumesOfDisk(n);
        for (std::size_t i = 0; i < volumes.size(); ++i) {
            const std::string &root = volumes[i];
            CHECK_EQ(root.size(), std::size_t(3));
            CHECK(root.size() == 3 && root[0] >= 'C' && root[0] <= 'Z' && root[1] == ':' &&
                  root[2] == '\\');
            if (i > 0)
                CHECK(volumes[i - 1] < root);
            CHECK(seen.insert(root).second);
        }
    }
    // The volume that holds Windows is a fixed disk volume and must be on one of the disks.
    wchar_t windows[MAX_PATH] = {};
    if (GetSystemWindowsDirectoryW(windows, MAX_PATH) == 0 || windows[1] != L':')
        SKIP("the Windows directory has no drive letter");
    const std::string systemRoot = {char(windows[0]), ':', '\\'};
    if (seen.count(systemRoot) == 0 && runningUnderWine())
        SKIP("Wine does not map " + systemRoot + " to a disk");
    CHECK(seen.count(systemRoot) == 1);
}

TEST_CASE("a disk's counter instance is its number and the letters of its volumes") {
    CHECK_EQ(platform::diskCounterInstance(0, {"C:\\", "D:\\"}), std::string("0 C: D:"));
    CHECK_EQ(platform::diskCounterInstance(1, {}), std::string("1"));
}
