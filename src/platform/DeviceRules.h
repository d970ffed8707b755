// The choices the system layer makes about devices, apart from the calls that feed them: how
// processors are numbered across groups, which disk numbers and drive letters are looked at,
// how a device that refuses read/write access is opened anyway, and which counter instance
// belongs to which device. Each takes what it needs from the system through a small seam (a
// probe, an instance list, a group count), so that the same code runs with the real calls on
// Windows and with fakes in the tests on any system.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace platform {

// --- processors ---

// Logical processors come in groups of at most 64; a thread, a per-processor time query and
// the "Processor" counter object each see one group only. Processors are numbered across the
// groups in order: group 0's first, then group 1's, and so on.
struct ProcessorPlace {
    uint16_t group = 0;
    uint32_t index = 0; // within the group
};
uint32_t processorTotal(const std::vector<uint32_t> &activePerGroup);
// The group and index of processor n; false when n is beyond the last group.
bool placeOfProcessor(const std::vector<uint32_t> &activePerGroup, uint32_t n,
                      ProcessorPlace &place);
// "group,index", the instance the counter service gives a processor of "Processor Information".
std::string processorInstance(const ProcessorPlace &place);
// The per-processor instances of "Processor Information" as the counter service lists them
// (in any order, with totals such as "0,_Total" and "_Total"): the "group,index" ones, in
// numeric order, so that entry n is processor n.
std::vector<std::string> orderedProcessorInstances(const std::vector<std::string> &listed);

// Busy time of each processor of one group, in group order; fewer (or none) when the read
// fails. The seam behind the kernel's per-group processor times.
using GroupTimesReader = std::function<std::vector<uint64_t>(uint16_t group, uint32_t count)>;
struct NumberedTime {
    uint32_t processor = 0;
    uint64_t busyMicroseconds = 0;
};
// Every group read once, its processors numbered from the group's first number; a group that
// reads short leaves its missing processors out and does not shift the next group's numbers.
std::vector<NumberedTime> processorTimesAcrossGroups(const std::vector<uint32_t> &activePerGroup,
                                                     const GroupTimesReader &readGroup);

// --- opening devices ---

enum class OpenOutcome { Opened, Missing, Refused };
// How a device handle was obtained: for reading and writing, or with no access rights, which
// the description, number and performance requests accept as well.
enum class DeviceAccess { NotOpened, ReadWrite, QueryOnly };
// Opens a device for reading and writing and, when that is refused (a policy that denies
// write access to removable disks, a disk another program holds), with no access rights.
// A device that does not exist is not tried twice.
using DeviceOpener = std::function<OpenOutcome(DeviceAccess access)>;
DeviceAccess openDevice(const DeviceOpener &open);

// Disk numbers have gaps (a disk removed, the members of a storage pool), so a scan goes on
// past a missing number: it ends after `missingRun` missing numbers in a row, and at `limit`.
std::vector<uint32_t> scanDiskNumbers(const std::function<bool(uint32_t n)> &exists,
                                      uint32_t missingRun = 64, uint32_t limit = 4096);

// --- drive letters ---

// As GetDriveTypeW reports them, with the same numbers.
enum class DriveType { Unknown = 0, NoRootDirectory, Removable, Fixed, Remote, CdRom, RamDisk };
const char *driveTypeName(DriveType type);
// The letters C to Z whose volume is worth opening: a mapped network drive can block for tens
// of seconds when its server is gone, and a letter without a root directory has no volume.
std::vector<char> volumeLettersToOpen(const std::function<DriveType(char letter)> &typeOf);

// --- counter instances ---

// The instance name the counter service makes of a device text: "(" and ")" become "[" and
// "]", "#", "/" and "\\" become "_".
std::string counterInstanceName(const std::string &text);
// A disk's instance is its number followed by its volumes' letters ("0 C: D:"); letters A and
// B, folder mounts and spanned volumes make it differ from the one built from the disk's own
// letters. The listed instance that begins with the disk's number; empty when none does.
std::string findDiskInstance(const std::vector<std::string> &listed, uint32_t n);
// An adapter's instance is named after its description; a second adapter with the same name is
// "name#1", a third "name#2". `ordinal` counts the adapters before this one with the same
// description. Empty when the list holds no such instance.
std::string findAdapterInstance(const std::vector<std::string> &listed,
                                const std::string &description, uint32_t ordinal);
// An adapter's interface index and its description as the system gives it in Unicode.
struct AdapterName {
    uint32_t index = 0;
    std::string description;
};
// The instance of the adapter with interface index `index`, whose instance name built from its
// 8-bit description is `built`: that name when the list holds it once (or the list is empty),
// else the one found by its Unicode description among `names` (sorted by index), and `built`
// when none is. A name listed twice belongs to two adapters, which tell themselves apart by
// their place among those of the same description.
std::string chooseAdapterInstance(const std::vector<std::string> &listed, const std::string &built,
                                  const std::vector<AdapterName> &names, uint32_t index);

// The counter service answers instance lists from its own copy of the machine's objects, taken
// at the first listing and renewed only when asked for; a device that appears later (a card in
// a reader, an adapter plugged in) is not listed until then. Renewing collects every object of
// the machine, far more work than a listing, so it is done before a listing once `renewalMs`
// have passed since the copy was taken or last renewed. Every record that sets up its counters in
// one pass asks for the same list: a listing serves for `lifetimeMs`. Not thread-safe: the caller
// holds one lock around it.
class InstanceListings {
public:
    using Renew = std::function<void()>;
    using List = std::function<std::vector<std::string>(const std::string &object)>;
    InstanceListings(Renew renew, List list, uint64_t lifetimeMs = 1000,
                     uint64_t renewalMs = 30000);
    std::vector<std::string> instances(const std::string &object, uint64_t nowMs);

private:
    struct Listing {
        uint64_t taken = 0;
        std::vector<std::string> instances;
    };
    Renew renew;
    List list;
    uint64_t lifetimeMs, renewalMs;
    bool started = false;
    uint64_t renewedAt = 0;
    std::map<std::string, Listing> listings;
};

} // namespace platform
