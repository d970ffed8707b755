// Memory, adapters, processors and disks read from a fixture tree.
#define CHECK_MAIN
#include "check.h"

#include "platform/Platform.h"
#include "platform/Processes.h"
#include "platform/Totals.h"
#include "platform/Volumes.h"
#include "platform/linux/LinuxAdapters.h"
#include "platform/linux/LinuxDisks.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <unistd.h>
#include <vector>

namespace {
const std::string tree = TARNIVO_FIXTURES "/linux/workstation";

// A copy of the fixture tree that a test may change; removed when the test ends. Each copy is a
// tree of its own, whose disks are numbered afresh.
struct TreeCopy {
    inline static int copies = 0;
    const std::filesystem::path path =
        std::filesystem::temp_directory_path() /
        ("tvfig-tree-" + std::to_string(getpid()) + "-" + std::to_string(++copies));
    TreeCopy() {
        std::filesystem::remove_all(path);
        std::filesystem::copy(tree, path,
                              std::filesystem::copy_options::recursive |
                                  std::filesystem::copy_options::copy_symlinks);
    }
    ~TreeCopy() {
        platform::setRootDirectory("/");
        std::filesystem::remove_all(path);
    }
};

struct FixtureRoot {
    FixtureRoot() { platform::setRootDirectory(tree); }
    ~FixtureRoot() { platform::setRootDirectory("/"); }
};
} // namespace

TEST_CASE("memory reports RAM, and RAM plus swap as the page file") {
    FixtureRoot root;
    const platform::MemoryStatus status = platform::memoryStatus();
    CHECK_EQ(status.totalPhys, 16303428ull * 1024);
    CHECK_EQ(status.availPhys, 9873100ull * 1024);
    CHECK_EQ(status.totalPageFile, (16303428ull + 2097148) * 1024);
    CHECK_EQ(status.availPageFile, (9873100ull + 1548284) * 1024);
}

TEST_CASE("adapters skip loopback and come in interface-index order") {
    const std::vector<platform::linux_adapters::InterfaceAddress> addresses = {
        {"wlan0", "10.0.0.7", "255.0.0.0"},
        {"eth0", "192.0.2.10", "255.255.255.0"},
        {"eth0", "198.51.100.3", "255.255.255.128"},
        {"lo", "127.0.0.1", "255.0.0.0"},
    };
    const auto list = platform::linux_adapters::readAdapters(tree, addresses);
    CHECK_EQ(list.size(), size_t(3));
    if (list.size() != 3)
        return;
    CHECK_EQ(list[0].description, std::string("eth0"));
    CHECK_EQ(list[1].description, std::string("wlan0"));
    CHECK_EQ(list[2].description, std::string("br#1"));
    CHECK_EQ(list[0].index, 2u);
    CHECK_EQ(list[2].index, 10u);
    // The first address with its own mask; the gateway of the default route.
    CHECK_EQ(list[0].address, std::string("192.0.2.10"));
    CHECK_EQ(list[0].mask, std::string("255.255.255.0"));
    CHECK_EQ(list[0].gateway, std::string("192.0.2.1"));
    CHECK_EQ(list[2].address, std::string());
    CHECK_EQ(list[2].gateway, std::string());
    // Up with a carrier; a bridge up without one (Docker's docker0) and a link set down are not.
    CHECK(list[0].running);
    CHECK(!list[1].running);
    CHECK(!list[2].running);
    // Megabits become bits; a link that is down, or of unknown speed, reads 0.
    CHECK_EQ(list[0].speed, 1000000000ull);
    CHECK_EQ(list[1].speed, 0ull);
    CHECK_EQ(list[2].speed, 0ull);
    // The kernel's whole octet counts.
    CHECK_EQ(list[0].inOctets, 12345678901ull);
    CHECK_EQ(list[0].outOctets, 987654321u);
    CHECK_EQ(list[2].outOctets, 6000u);
}

TEST_CASE("processors are counted and described from cpuinfo") {
    FixtureRoot root;
    CHECK_EQ(platform::processorCount(), 2u);
    const platform::ProcessorDescription second = platform::processorDescription(1);
    CHECK_EQ(second.name, std::string("Intel(R) Core(TM) i7-8700 CPU @ 3.20GHz"));
    CHECK_EQ(second.identifier, std::string("Intel64 Family 6 Model 158 Stepping 10"));
    const platform::ProcessorDescription missing = platform::processorDescription(2);
    CHECK(missing.name.empty() && missing.identifier.empty());
}

TEST_CASE("only whole physical disks are numbered, in name order") {
    FixtureRoot root;
    platform::DiskIdentity disk;
    // nvme0n1, sda and vda; not loop0, sr0, zram0, dm-0, the virtual xvdz or the device-less
    // mmcblk9.
    CHECK(platform::physicalDisk(0, disk));
    CHECK_EQ(disk.model, std::string("WDC PC SN730 SDBQNTY-512G-1001"));
    CHECK_EQ(disk.serial, std::string("20301E801234"));
    CHECK_EQ(disk.firmware, std::string("11170101"));
    CHECK(platform::physicalDisk(1, disk));
    CHECK(platform::physicalDisk(2, disk));
    platform::DiskIdentity untouched;
    CHECK(!platform::physicalDisk(3, untouched));
    CHECK(untouched.model.empty());
}

TEST_CASE("disk texts come from sysfs, the virtio serial file and the udev database") {
    FixtureRoot root;
    platform::DiskIdentity sata, virtio;
    CHECK(platform::physicalDisk(1, sata));
    // libata's "ATA" stands where no maker is named; serial and firmware come from udev.
    CHECK_EQ(sata.model, std::string("Samsung SSD 860"));
    CHECK_EQ(sata.serial, std::string("S3Z9NB0K123456A"));
    CHECK_EQ(sata.firmware, std::string("RVT04B6Q"));
    CHECK(platform::physicalDisk(2, virtio));
    CHECK_EQ(virtio.serial, std::string("VIRTIO-SERIAL-42"));
    // The virtio bus id in "vendor" is not a model name.
    CHECK_EQ(virtio.model, std::string());
}

TEST_CASE("a disk's volumes include its partitions and the mapped devices on them") {
    FixtureRoot root;
    CHECK(platform::volumesOfDisk(0) == std::vector<std::string>{"/media/My Files"});
    CHECK(platform::volumesOfDisk(1) == (std::vector<std::string>{"/", "/boot", "/home"}));
    CHECK(platform::volumesOfDisk(2) == std::vector<std::string>{"/srv/data"});
    CHECK(platform::volumesOfDisk(3).empty());
}

TEST_CASE("a disk number names the disk its scan found until the next scan") {
    TreeCopy changed;
    const std::filesystem::path &copy = changed.path;
    platform::setRootDirectory(copy.string());
    platform::DiskIdentity disk;
    CHECK(platform::physicalDisk(0, disk) && platform::physicalDisk(1, disk));
    CHECK_EQ(disk.model, std::string("Samsung SSD 860"));
    // nvme1n1 arrives between the scan and the counter set-up; it sorts before sda.
    std::filesystem::create_directories(copy / "sys/block/nvme1n1/device");
    CHECK(platform::volumesOfDisk(1) == (std::vector<std::string>{"/", "/boot", "/home"}));
    // Never closed, as in the program; kept where the leak checker sees it.
    static const platform::QueryHandle query = platform::openQuery();
    platform::CounterHandle reads =
        platform::addCounter(query, "\\\\ws-0815\\PhysicalDisk(1)\\Disk Reads/sec");
    CHECK(reads != nullptr);
    platform::collectQuery(query);
    std::stringstream diskstats;
    diskstats << std::ifstream(copy / "proc/diskstats").rdbuf();
    std::string text = diskstats.str();
    text.replace(text.find("sda 1000"), 8, "sda 9000");
    std::ofstream(copy / "proc/diskstats") << text;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    platform::collectQuery(query);
    CHECK(platform::formattedCounterValue(reads, platform::FMT_LARGE) > 0);
    platform::removeCounter(reads);
    // The next look gives the newcomer a number of its own; the others keep theirs.
    CHECK(platform::physicalDiskNumbers() == (std::vector<uint32_t>{0, 1, 2, 3}));
    CHECK(platform::physicalDisk(1, disk));
    CHECK_EQ(disk.model, std::string("Samsung SSD 860"));
}

TEST_CASE("a disk keeps its number while attached; one that goes ends its series") {
    TreeCopy changed;
    platform::setRootDirectory(changed.path.string());
    CHECK(platform::physicalDiskNumbers() == (std::vector<uint32_t>{0, 1, 2}));
    const auto totalsByNumber = [] {
        std::map<uint32_t, uint64_t> reads;
        for (const platform::DiskTotals &disk : platform::totals().disks)
            reads[disk.number] = disk.reads;
        return reads;
    };
    const std::map<uint32_t, uint64_t> before = totalsByNumber();
    // The first disk goes, and later another arrives; it sorts before all the others.
    std::filesystem::remove_all(changed.path / "sys/block/nvme0n1");
    std::ifstream kept(changed.path / "proc/diskstats");
    std::string line, text;
    while (std::getline(kept, line))
        text += line.find("nvme0n1") == std::string::npos ? line + "\n" : "";
    std::ofstream(changed.path / "proc/diskstats") << text;
    std::map<uint32_t, uint64_t> after = totalsByNumber();
    CHECK(platform::physicalDiskNumbers() == (std::vector<uint32_t>{1, 2}));
    CHECK_EQ(after.size(), size_t(2));
    CHECK_EQ(after[1], before.at(1));
    CHECK_EQ(after[2], before.at(2));
    platform::DiskIdentity disk;
    CHECK(!platform::physicalDisk(0, disk));
    std::filesystem::create_directories(changed.path / "sys/block/hda/device");
    std::ofstream(changed.path / "proc/diskstats", std::ios::app)
        << "   3       0 hda 77 0 0 0 0 0 0 0 0 0 0 0 0 0 0\n";
    CHECK(platform::physicalDiskNumbers() == (std::vector<uint32_t>{1, 2, 3}));
    after = totalsByNumber();
    CHECK_EQ(after.count(0), size_t(0));
    CHECK_EQ(after[1], before.at(1));
    CHECK_EQ(after[3], 77ull);
    CHECK(platform::volumesOfDisk(1) == (std::vector<std::string>{"/", "/boot", "/home"}));
}

TEST_CASE("mounts served over the network or in user space, or hidden by them, are never probed") {
    TreeCopy copy;
    std::ofstream(copy.path / "proc/self/mounts", std::ios::app)
        << "/dev/sda1 /media/ntfs fuseblk rw,relatime 0 0\n"
           "backup@host:/ /mnt/sshfs fuse.sshfs rw 0 0\n"
           "server:/export /mnt/nfs nfs4 rw,relatime 0 0\n"
           "//server/share /mnt/smb cifs rw 0 0\n"
           "systemd-1 /mnt/auto autofs rw 0 0\n"
           "home /home fuse.encfs rw 0 0\n";
    std::vector<std::string> probed;
    const auto volumes = platform::linux_disks::diskVolumes(
        copy.path.string(), "sda", [&probed](const platform::linux_proc::Mount &mount) {
            probed.push_back(mount.mountPoint);
            return mount.device.substr(mount.device.rfind('/') + 1);
        });
    // Nor is /home, which a FUSE file system now hides.
    CHECK(volumes == (std::vector<std::string>{"/", "/boot"}));
    for (const std::string &point : probed)
        CHECK_EQ(point.find("/mnt/") == 0 || point == "/media/ntfs" || point == "/home", false);
    CHECK_EQ(probed.size(), size_t(7)); // every other local mount is
}

TEST_CASE("volumes are the whole local block file systems, each once, under their disk") {
    FixtureRoot root;
    // Left out: pseudo and memory file systems, a loop device on no disk, a bind mount of a
    // directory, a second mount of /boot, NFS, sshfs and a user-space NTFS driver (fuseblk).
    // A btrfs file system is listed once, at its first subvolume's mount.
    const std::vector<std::pair<uint32_t, std::string>> expected = {
        {0, "/media/My Files"}, {1, "/"},           {1, "/boot"},
        {1, "/home"},           {1, "/home/users"}, {2, "/srv/data"}};
    std::vector<std::pair<uint32_t, std::string>> found;
    for (const platform::VolumeSpace &volume : platform::volumeSpaces())
        found.emplace_back(volume.disk, volume.path);
    CHECK(found == expected);
}

TEST_CASE("a volume that a later mount hides is not asked through its path") {
    TreeCopy copy;
    const auto paths = [] {
        std::vector<std::string> found;
        for (const platform::VolumeSpace &volume : platform::volumeSpaces())
            found.push_back(volume.path);
        return found;
    };
    platform::setRootDirectory(copy.path.string());
    CHECK(paths().size() == 6);
    // systemd's ProtectHome= over /home (and so over /home/users beneath it: the btrfs file
    // system is then listed at its other mount), a FUSE file system over /srv/data, and a memory
    // file system over /media; mounts made beneath "/" and /boot hide nothing.
    std::ofstream(copy.path / "proc/self/mountinfo", std::ios::app)
        << "40 24 0:60 / /home ro,nosuid - tmpfs tmpfs ro\n"
           "41 27 0:61 / /srv/data rw - fuse.sshfs user@host: rw\n"
           "42 21 0:62 / /media rw - tmpfs tmpfs rw\n"
           "43 23 0:63 / /boot/efi rw - tmpfs tmpfs rw\n";
    // The same tree with a changed mount table: listed anew.
    CHECK(paths() == (std::vector<std::string>{"/", "/boot", "/srv/www"}));
}

TEST_CASE("a process is named by its program, whole, and carries its start time") {
    FixtureRoot root;
    // pid, name, start time in ticks after boot
    const std::vector<std::tuple<uint32_t, std::string, uint64_t>> expected = {
        {4001, "h2-inventory-collector", 43500}, // a script, named by its interpreter's argument
        {4002, "kworker/u8:3-ev", 25},           // a kernel thread has the kernel's name only
        {4003, "inventory-agentd", 900},         // arguments rewritten: named by its executable
        {4005, "bash", 800},                     // short enough to be whole
        {4006, "renamed (worker", 810}};         // a name it gave itself
    std::vector<std::tuple<uint32_t, std::string, uint64_t>> found;
    for (const platform::ProcessUse &use : platform::processes())
        found.emplace_back(use.pid, use.name, use.started);
    CHECK(found == expected);
}

TEST_CASE("the computer name of a tree is its host name") {
    FixtureRoot root;
    CHECK_EQ(platform::computerName(), std::string("ws-0815"));
}

TEST_CASE("a tree without kernel files reads as empty, not as a failure") {
    platform::setRootDirectory(TARNIVO_FIXTURES "/linux/missing");
    const platform::MemoryStatus status = platform::memoryStatus();
    CHECK_EQ(status.totalPhys + status.availPhys + status.totalPageFile, 0ull);
    CHECK(platform::adapters().empty());
    CHECK_EQ(platform::processorCount(), 0u);
    platform::DiskIdentity disk;
    CHECK(!platform::physicalDisk(0, disk));
    CHECK(platform::volumesOfDisk(0).empty());
    CHECK(platform::computerName().empty());
    // Never closed, as in the program; kept where the leak checker sees it.
    static const platform::QueryHandle query = platform::openQuery();
    CHECK(platform::addCounter(query, "\\\\.\\Processor(0)\\% Processor Time") == nullptr);
    platform::setRootDirectory("/");
}

TEST_CASE("running totals: 64-bit adapter counts, disks by number, processors by position") {
    FixtureRoot root;
    const platform::Totals totals = platform::totals();
    // The adapters of the adapter list, loopback left out, with counts past 32 bits kept.
    CHECK_EQ(totals.adapters.size(), size_t(3));
    if (totals.adapters.size() == 3) {
        const platform::AdapterTotals &eth0 = totals.adapters[0];
        CHECK_EQ(eth0.description, std::string("eth0"));
        CHECK_EQ(eth0.receiveBytes, 12345678901ull);
        CHECK_EQ(eth0.receivePackets, 9876543ull);
        CHECK_EQ(eth0.transmitBytes, 987654321ull);
        CHECK_EQ(eth0.transmitPackets, 654321ull);
        CHECK_EQ(eth0.speed, 1000000000ull);
        CHECK_EQ(totals.adapters[2].transmitBytes, 6000ull);
    }
    // Disk 0 is nvme0n1: sectors of 512 bytes, busy milliseconds.
    CHECK_EQ(totals.disks.size(), size_t(3));
    if (!totals.disks.empty()) {
        const platform::DiskTotals &disk = totals.disks[0];
        CHECK_EQ(disk.number, 0u);
        CHECK_EQ(disk.reads, 5000ull);
        CHECK_EQ(disk.writes, 7000ull);
        CHECK_EQ(disk.readBytes, 800000ull * 512);
        CHECK_EQ(disk.writeBytes, 1200000ull * 512);
        CHECK_EQ(disk.busyMicroseconds, 4100ull * 1000);
    }
    // cpu0: 175850 ticks in all, 150600 of them idle or waiting for I/O, at 100 ticks a second.
    CHECK_EQ(totals.processors.size(), size_t(2));
    if (!totals.processors.empty())
        CHECK_EQ(totals.processors[0].busyMicroseconds, 25250ull * 10000);
}

TEST_CASE("an adapter that appears or goes is seen at the next reading of the totals") {
    namespace fs = std::filesystem;
    const fs::path copy =
        fs::temp_directory_path() / ("tarnivo-totals-" + std::to_string(getpid()));
    fs::remove_all(copy);
    fs::copy(tree, copy, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    platform::setRootDirectory(copy.string());
    const auto names = [] {
        std::string list;
        for (const platform::AdapterTotals &adapter : platform::totals().adapters)
            list += adapter.description + " ";
        return list;
    };
    CHECK_EQ(names(), std::string("eth0 wlan0 br#1 "));
    fs::create_directories(copy / "sys/class/net/veth9");
    std::ofstream(copy / "sys/class/net/veth9/type") << "1\n";
    std::ofstream(copy / "proc/net/dev", std::ios::app)
        << " veth9: 42 1 0 0 0 0 0 0 0 0 0 0 0 0 0 0\n";
    CHECK_EQ(names(), std::string("eth0 wlan0 br#1 veth9 "));
    std::ofstream(copy / "proc/net/dev")
        << "Inter-|\n face |\n  eth0: 1 1 0 0 0 0 0 0 1 1 0 0 0 0 0 0\n";
    CHECK_EQ(names(), std::string("eth0 "));
    platform::setRootDirectory("/");
    fs::remove_all(copy);
}
