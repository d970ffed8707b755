// Network adapters, physical disks and volumes, as the live system reports them.
#include <winsock2.h>
#include <ws2tcpip.h>

#define CHECK_MAIN
#include "check.h"
#include "windows_wine.h"

#include "platform/Platform.h"

#include <iphlpapi.h>

#include <algorithm>
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

TEST_CASE("every listed disk opens, numbers between and beyond them do not") {
    const std::vector<uint32_t> numbers = platform::physicalDiskNumbers();
    CHECK(!numbers.empty());
    for (std::size_t i = 0; i < numbers.size(); ++i) {
        if (i > 0)
            CHECK(numbers[i - 1] < numbers[i]);
        platform::DiskIdentity identity;
        identity.model = "left over";
        CHECK(platform::physicalDisk(numbers[i], identity));
        CHECK(identity.model != "left over");
        for (const std::string *text : {&identity.model, &identity.serial, &identity.firmware})
            CHECK(text->find('\0') == std::string::npos);
    }
    const uint32_t beyond = numbers.empty() ? 0 : numbers.back() + 1;
    for (uint32_t n = 0; n <= beyond; ++n) {
        if (std::find(numbers.begin(), numbers.end(), n) != numbers.end())
            continue;
        platform::DiskIdentity missing;
        missing.model = "left over";
        CHECK(!platform::physicalDisk(n, missing));
        CHECK(missing.model.empty());
        CHECK(platform::volumesOfDisk(n).empty());
    }
}

TEST_CASE("no remote letter and no letter without a root directory is taken for a volume") {
    const std::vector<platform::DriveLetter> letters = platform::driveLetters();
    CHECK(!letters.empty());
    std::set<char> skipped;
    for (const platform::DriveLetter &letter : letters) {
        const wchar_t root[] = {wchar_t(letter.letter), L':', L'\\', L'\0'};
        CHECK_EQ(int(letter.type), int(GetDriveTypeW(root)));
        if (letter.type == platform::DriveType::Remote ||
            letter.type == platform::DriveType::NoRootDirectory)
            skipped.insert(letter.letter);
    }
    for (uint32_t n : platform::physicalDiskNumbers())
        for (const std::string &root : platform::volumesOfDisk(n))
            CHECK(skipped.count(root[0]) == 0);
    // Opening a drive that is not ready fails at once instead of asking the user.
    platform::suppressErrorDialogs();
    const UINT mode = GetErrorMode();
    CHECK((mode & SEM_FAILCRITICALERRORS) != 0);
    CHECK((mode & SEM_NOOPENFILEERRORBOX) != 0);
}

TEST_CASE("each lettered fixed volume lies on exactly one disk, letters ascending") {
    const std::vector<uint32_t> numbers = platform::physicalDiskNumbers();
    if (numbers.empty())
        SKIP("no physical disk opens here");
    std::set<std::string> seen;
    for (uint32_t n : numbers) {
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

TEST_CASE("a device's counter instance is the built one, or one the counter service lists") {
    const std::vector<std::string> disks = platform::counterInstances("PhysicalDisk");
    const std::string disk = platform::diskCounterInstance(0, {"C:\\", "D:\\"});
    if (disks.empty())
        CHECK_EQ(disk, std::string("0 C: D:"));
    else
        CHECK(disk == "0 C: D:" || std::find(disks.begin(), disks.end(), disk) != disks.end());
    const std::vector<std::string> interfaces = platform::counterInstances("Network Interface");
    for (const platform::Adapter &adapter : platform::adapters()) {
        const std::string instance =
            platform::adapterCounterInstance(adapter.index, adapter.description);
        CHECK(instance == platform::counterInstanceName(adapter.description) ||
              std::find(interfaces.begin(), interfaces.end(),
                        instance.substr(0, instance.find('#'))) != interfaces.end());
    }
    if (disks.empty() && interfaces.empty() && runningUnderWine())
        SKIP("Wine's counter service lists no instances");
}
