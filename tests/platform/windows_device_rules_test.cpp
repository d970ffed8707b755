// The system layer's device choices, driven by fakes of the system: processor groups, disks
// with gaps and refusals, drive letters and counter-instance lists. Runs on every system.
#define CHECK_MAIN
#include "check.h"

#include "platform/DeviceRules.h"

#include <map>
#include <string>
#include <vector>

using namespace platform;

namespace {

// A workstation with 128 logical processors in two groups of 64.
const std::vector<uint32_t> twoGroups = {64, 64};

// A fake disk: what opening it for reading and writing, and with no access rights, gives.
struct FakeDisk {
    OpenOutcome readWrite;
    OpenOutcome queryOnly;
};

std::vector<uint32_t> scan(const std::map<uint32_t, FakeDisk> &disks, uint32_t missingRun = 64) {
    return scanDiskNumbers(
        [&](uint32_t n) {
            const auto disk = disks.find(n);
            return openDevice([&](DeviceAccess access) {
                       if (disk == disks.end())
                           return OpenOutcome::Missing;
                       return access == DeviceAccess::ReadWrite ? disk->second.readWrite
                                                                : disk->second.queryOnly;
                   }) != DeviceAccess::NotOpened;
        },
        missingRun);
}

} // namespace

TEST_CASE("processors are numbered across two groups of 64, group by group") {
    CHECK_EQ(processorTotal(twoGroups), 128u);
    const struct {
        uint32_t n;
        bool exists;
        const char *instance;
    } table[] = {{0, true, "0,0"},    {63, true, "0,63"},  {64, true, "1,0"},
                 {100, true, "1,36"}, {127, true, "1,63"}, {128, false, ""}};
    for (const auto &row : table) {
        ProcessorPlace place;
        CHECK_EQ(placeOfProcessor(twoGroups, row.n, place), row.exists);
        if (row.exists)
            CHECK_EQ(processorInstance(place), std::string(row.instance));
    }
}

TEST_CASE("processor times are read per group and numbered across the groups") {
    std::vector<uint16_t> asked;
    // Group g's processor i has been busy g * 1000 + i microseconds; group 1 reads short.
    const auto times = processorTimesAcrossGroups({64, 64, 4}, [&](uint16_t group, uint32_t count) {
        asked.push_back(group);
        std::vector<uint64_t> busy;
        for (uint32_t i = 0; i < (group == 1 ? count - 1 : count); ++i)
            busy.push_back(group * 1000u + i);
        return busy;
    });
    CHECK_EQ(asked.size(), size_t(3));
    CHECK_EQ(times.size(), size_t(64 + 63 + 4));
    for (const NumberedTime &time : times) {
        const uint32_t group = time.processor < 64 ? 0 : time.processor < 128 ? 1 : 2;
        CHECK_EQ(time.busyMicroseconds, group * 1000u + (time.processor - group * 64));
    }
    // The processor group 1 did not report leaves a gap; group 2 keeps its numbers.
    CHECK_EQ(times[126].processor, 126u);
    CHECK_EQ(times[127].processor, 128u);
}

TEST_CASE("processor instances are found in the counter service's list, in numeric order") {
    const std::vector<std::string> listed = {"1,10", "0,2", "_Total", "0,_Total", "1,_Total",
                                             "0,10", "1,2", "0,0",    "1,0",      "0,2"};
    const std::vector<std::string> expected = {"0,0", "0,2", "0,10", "1,0", "1,2", "1,10"};
    CHECK(orderedProcessorInstances(listed) == expected);
    CHECK(orderedProcessorInstances({"_Total", "0", "1"}).empty());
}

TEST_CASE("a device that refuses read/write access is opened with no access rights") {
    const struct {
        OpenOutcome readWrite, queryOnly;
        DeviceAccess expected;
        int opens;
    } table[] = {
        {OpenOutcome::Opened, OpenOutcome::Opened, DeviceAccess::ReadWrite, 1},
        {OpenOutcome::Refused, OpenOutcome::Opened, DeviceAccess::QueryOnly, 2},
        {OpenOutcome::Refused, OpenOutcome::Refused, DeviceAccess::NotOpened, 2},
        {OpenOutcome::Missing, OpenOutcome::Opened, DeviceAccess::NotOpened, 1},
    };
    for (const auto &row : table) {
        int opens = 0;
        const DeviceAccess access = openDevice([&](DeviceAccess asked) {
            ++opens;
            return asked == DeviceAccess::ReadWrite ? row.readWrite : row.queryOnly;
        });
        CHECK(access == row.expected);
        CHECK_EQ(opens, row.opens);
    }
}

TEST_CASE("disks after a gap and after a refusing disk are listed") {
    const FakeDisk present{OpenOutcome::Opened, OpenOutcome::Opened};
    const FakeDisk refusing{OpenOutcome::Refused, OpenOutcome::Refused};
    const FakeDisk denyWrite{OpenOutcome::Refused, OpenOutcome::Opened};
    CHECK(scan({{0, present}, {1, refusing}, {2, present}, {5, present}}) ==
          std::vector<uint32_t>({0, 2, 5}));
    // A removable disk under a policy that denies write access still counts.
    CHECK(scan({{0, present}, {1, denyWrite}, {3, present}}) == std::vector<uint32_t>({0, 1, 3}));
    CHECK(scan({{1, present}}) == std::vector<uint32_t>({1}));
    CHECK(scan({}).empty());
    // The scan ends after a run of missing numbers.
    CHECK(scan({{0, present}, {4, present}, {9, present}}, 4) == std::vector<uint32_t>({0, 4}));
}

TEST_CASE("remote letters and letters without a root directory are not opened") {
    const std::map<char, DriveType> types = {{'E', DriveType::Remote},
                                             {'F', DriveType::NoRootDirectory},
                                             {'G', DriveType::Removable},
                                             {'H', DriveType::CdRom},
                                             {'Z', DriveType::Remote}};
    std::string opened;
    for (char letter : volumeLettersToOpen([&](char letter) {
             const auto type = types.find(letter);
             return type == types.end() ? DriveType::Fixed : type->second;
         }))
        opened += letter;
    CHECK_EQ(opened, std::string("CDGHIJKLMNOPQRSTUVWXY"));
    CHECK_EQ(std::string(driveTypeName(DriveType::Remote)), std::string("remote"));
    CHECK_EQ(std::string(driveTypeName(DriveType(9))), std::string("unknown"));
}

TEST_CASE("a disk's counter instance is found by its leading number") {
    const std::vector<std::string> listed = {"0 C: D:", "1 A:", "10 E:", "2", "_Total", "3x"};
    const struct {
        uint32_t n;
        const char *found;
    } table[] = {{0, "0 C: D:"}, {1, "1 A:"}, {10, "10 E:"}, {2, "2"}, {3, ""}, {4, ""}};
    for (const auto &row : table)
        CHECK_EQ(findDiskInstance(listed, row.n), std::string(row.found));
}

TEST_CASE("an adapter's counter instance is its Unicode description, #n for duplicates") {
    CHECK_EQ(counterInstanceName("Adapter (PCI) #2 / fast\\VPN"),
             std::string("Adapter [PCI] _2 _ fast_VPN"));
    const std::vector<std::string> listed = {"Intel[R] Ethernet",
                                             "Wi-Fi \xc3\x9cnic\xc3\xb6"
                                             "de",
                                             "Intel[R] Ethernet", "isatap._1"};
    const struct {
        const char *description;
        uint32_t ordinal;
        const char *found;
    } table[] = {
        {"Intel(R) Ethernet", 0, "Intel[R] Ethernet"},
        {"Intel(R) Ethernet", 1, "Intel[R] Ethernet#1"},
        {"Intel(R) Ethernet", 2, ""},
        {"Wi-Fi \xc3\x9cnic\xc3\xb6"
         "de",
         0,
         "Wi-Fi \xc3\x9cnic\xc3\xb6"
         "de"},
        {"Wi-Fi ?nic?de", 0, ""},
        {"isatap.#1", 0, "isatap._1"},
        {"", 0, ""},
    };
    for (const auto &row : table)
        CHECK_EQ(findAdapterInstance(listed, row.description, row.ordinal), std::string(row.found));
    // Two adapters of one description (interface indexes 4 and 9) each read their own instance.
    const std::vector<AdapterName> names = {{4, "Intel(R) Ethernet"}, {9, "Intel(R) Ethernet"}};
    const std::string built = "Intel[R] Ethernet";
    CHECK_EQ(chooseAdapterInstance(listed, built, names, 4), built);
    CHECK_EQ(chooseAdapterInstance(listed, built, names, 9), built + "#1");
    CHECK_EQ(chooseAdapterInstance(listed, "Gone", names, 5), std::string("Gone"));
    CHECK_EQ(chooseAdapterInstance({}, built, names, 9), built);
}

TEST_CASE("a disk that appears later is listed once the counter service renewed its copy") {
    // The fake counter service answers listings from a copy of `live` that renewing takes.
    std::vector<std::string> live = {"0 C:"}, copy = live;
    int renewals = 0, listings = 0;
    InstanceListings lists([&] { copy = live, ++renewals; },
                           [&](const std::string &) { return ++listings, copy; }, 1000, 30000);
    const struct {
        uint64_t atMs;
        bool listsNewDisk;
        int renewals, listings;
    } table[] = {{0, false, 0, 1},     {900, false, 0, 1},  {1500, false, 0, 2},
                 {28000, false, 0, 3}, {30000, true, 1, 4}, {30500, true, 1, 4}};
    for (const auto &row : table) {
        const std::vector<std::string> listed = lists.instances("PhysicalDisk", row.atMs);
        CHECK_EQ(findDiskInstance(listed, 1).empty(), !row.listsNewDisk);
        CHECK_EQ(renewals, row.renewals);
        CHECK_EQ(listings, row.listings);
        if (row.atMs == 0)
            live.push_back("1 E:"); // plugged in after the first listing
    }
}
