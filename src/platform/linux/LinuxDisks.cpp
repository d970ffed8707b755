#include "LinuxDisks.h"

#include "ProcParsers.h"
#include "SystemFiles.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <map>
#include <mutex>
#include <set>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace platform::linux_disks {

using linux_files::directoryEntries;
using linux_files::exists;
using linux_files::readLine;
using linux_files::underRoot;

namespace {

bool startsWith(const std::string &text, const char *prefix) {
    return text.rfind(prefix, 0) == 0;
}

std::string lastComponent(const std::string &path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The kernel name of the block device a mount names. On the live system /dev/mapper/vg-root
// and /dev/disk/by-uuid/... are links to be followed, and a name with no node of its own
// (/dev/root) is found through the mounted file system's device number. Mounts of single files
// (a container's /etc/hosts) are no volumes.
std::string kernelName(const std::string &root, const linux_proc::Mount &mount) {
    if (!startsWith(mount.device, "/dev/"))
        return {};
    if (!(root.empty() || root == "/"))
        return lastComponent(mount.device);
    struct stat mounted {};
    if (stat(mount.mountPoint.c_str(), &mounted) != 0 || !S_ISDIR(mounted.st_mode))
        return {};
    char resolved[PATH_MAX];
    if (realpath(mount.device.c_str(), resolved))
        return lastComponent(resolved);
    const std::string node = "/sys/dev/block/" + std::to_string(major(mounted.st_dev)) + ":" +
                             std::to_string(minor(mounted.st_dev));
    return lastComponent(linux_files::linkTarget(node));
}

// True when the block device is the disk, one of its partitions, or built on either (a mapped
// or RAID device, followed through its "slaves" down to the disks beneath it).
bool liesOn(const std::string &root, const std::string &device, const std::string &disk,
            const std::set<std::string> &partitions, int depth) {
    if (device == disk || partitions.count(device))
        return true;
    if (depth > 8)
        return false;
    const std::string slaves = underRoot(root, "/sys/class/block/" + device + "/slaves");
    for (const std::string &slave : directoryEntries(slaves)) {
        if (liesOn(root, slave, disk, partitions, depth + 1))
            return true;
    }
    return false;
}

} // namespace

std::vector<std::string> physicalDiskNames(const std::string &root) {
    std::vector<std::string> disks;
    const std::string block = underRoot(root, "/sys/block");
    for (const std::string &name : directoryEntries(block)) {
        bool virtualKind = false;
        for (const char *prefix : {"loop", "ram", "zram", "dm-", "md", "sr", "nbd", "fd"})
            virtualKind |= startsWith(name, prefix);
        if (virtualKind)
            continue;
        if (linux_files::linkTarget(block + "/" + name).find("/devices/virtual/") !=
            std::string::npos)
            continue;
        if (!exists(block + "/" + name + "/device"))
            continue;
        disks.push_back(name);
    }
    return disks;
}

std::vector<NumberedDisk>
DiskNumbering::update(const std::vector<std::pair<std::string, std::string>> &attached) {
    std::vector<std::pair<std::string, NumberedDisk>> next;
    std::vector<std::pair<std::string, std::string>> arrived; // name, identity
    for (const auto &disk : attached) {
        const std::string identity = disk.first + '@' + disk.second;
        const auto kept = std::find_if(current.begin(), current.end(),
                                       [&identity](const auto &c) { return c.first == identity; });
        if (kept != current.end())
            next.push_back(*kept);
        else
            arrived.emplace_back(disk.first, identity);
    }
    // Disks that arrive together are numbered in name order.
    std::sort(arrived.begin(), arrived.end());
    for (const auto &disk : arrived)
        next.push_back({disk.second, {nextNumber++, disk.first}});
    std::sort(next.begin(), next.end(),
              [](const auto &a, const auto &b) { return a.second.number < b.second.number; });
    current = std::move(next);
    std::vector<NumberedDisk> disks;
    for (const auto &entry : current)
        disks.push_back(entry.second);
    return disks;
}

std::string DiskNumbering::name(uint32_t number) const {
    for (const auto &entry : current) {
        if (entry.second.number == number)
            return entry.second.name;
    }
    return {};
}

namespace {
// One numbering per tree (the live system, or a fixture tree of a test). Never destroyed: a
// connection thread may still ask while the process exits.
struct Numberings {
    std::mutex mutex; // guards trees
    std::map<std::string, DiskNumbering> trees;
};
Numberings &numberings() {
    static Numberings *const all = new Numberings;
    return *all;
}

std::vector<NumberedDisk> lookAt(const std::string &root, DiskNumbering &numbering) {
    std::vector<std::pair<std::string, std::string>> attached;
    for (const std::string &name : physicalDiskNames(root))
        attached.emplace_back(name, readLine(underRoot(root, "/sys/block/" + name + "/diskseq")));
    return numbering.update(attached);
}
} // namespace

std::vector<NumberedDisk> attachedDisks(const std::string &root) {
    Numberings &all = numberings();
    std::lock_guard<std::mutex> lock(all.mutex);
    return lookAt(root, all.trees[root]);
}

std::string numberedDisk(const std::string &root, uint32_t number) {
    Numberings &all = numberings();
    std::lock_guard<std::mutex> lock(all.mutex);
    auto tree = all.trees.find(root);
    if (tree == all.trees.end()) {
        tree = all.trees.emplace(root, DiskNumbering()).first;
        lookAt(root, tree->second);
    }
    return tree->second.name(number);
}

DiskIdentity diskIdentity(const std::string &root, const std::string &disk) {
    const std::string base = underRoot(root, "/sys/block/" + disk);
    const std::string vendor = readLine(base + "/device/vendor");
    const std::string model = readLine(base + "/device/model");
    DiskIdentity identity;
    // libata puts the placeholder "ATA" where a SCSI disk names its maker; Windows shows no
    // vendor for those disks. A model-less device (virtio) has a bus id in "vendor", no name.
    if (!model.empty())
        identity.model = vendor.empty() || vendor == "ATA" ? model : vendor + " " + model;
    identity.serial = readLine(base + "/device/serial");
    if (identity.serial.empty())
        identity.serial = readLine(base + "/serial");
    identity.firmware = readLine(base + "/device/rev");
    if (identity.firmware.empty())
        identity.firmware = readLine(base + "/device/firmware_rev");

    if (!identity.model.empty() && !identity.serial.empty() && !identity.firmware.empty())
        return identity;
    const std::string number = readLine(base + "/dev");
    if (number.empty())
        return identity;
    const auto udev = linux_proc::parseUdevProperties(
        linux_files::readText(underRoot(root, "/run/udev/data/b" + number)));
    auto property = [&udev](const char *key) {
        auto it = udev.find(key);
        return it == udev.end() ? std::string() : it->second;
    };
    if (identity.model.empty()) {
        std::string udevModel =
            linux_proc::trim(linux_proc::decodeUdevEscapes(property("ID_MODEL_ENC")));
        if (udevModel.empty())
            udevModel = property("ID_MODEL");
        identity.model = udevModel;
    }
    if (identity.serial.empty())
        identity.serial = property("ID_SERIAL_SHORT");
    if (identity.firmware.empty())
        identity.firmware = property("ID_REVISION");
    return identity;
}

bool mayBlock(const std::string &type) {
    static const char *const remote[] = {
        "nfs",   "nfs4",      "cifs",  "smb3",     "smbfs",  "ncpfs", "9p",     "ceph",
        "afs",   "glusterfs", "davfs", "sshfs",    "lustre", "gpfs",  "beegfs", "orangefs",
        "pvfs2", "gfs2",      "ocfs2", "virtiofs", "autofs", "coda",  "vboxsf", "vmhgfs"};
    // fuse, fuseblk and every fuse.<daemon> are served by a process that may hang.
    if (startsWith(type, "fuse"))
        return true;
    return std::find(std::begin(remote), std::end(remote), type) != std::end(remote);
}

std::vector<std::string> diskVolumes(const std::string &root, const std::string &disk) {
    return diskVolumes(root, disk,
                       [&root](const linux_proc::Mount &mount) { return kernelName(root, mount); });
}

std::vector<std::string> diskVolumes(const std::string &root, const std::string &disk,
                                     const MountResolver &resolve) {
    std::set<std::string> partitions;
    const std::string base = underRoot(root, "/sys/block/" + disk);
    for (const std::string &entry : directoryEntries(base)) {
        if (exists(base + "/" + entry + "/partition"))
            partitions.insert(entry);
    }
    std::string table = linux_files::readText(underRoot(root, "/proc/self/mounts"));
    if (table.empty())
        table = linux_files::readText(underRoot(root, "/proc/mounts"));
    const std::vector<linux_proc::Mount> mounts = linux_proc::parseMounts(table);
    // The table lists mounts in the order they were made; a root listed late (a namespace's
    // own) is taken to hide only an earlier root.
    const auto hidden = [&mounts](size_t index) {
        const std::string &point = mounts[index].mountPoint;
        for (size_t later = index + 1; later < mounts.size(); ++later) {
            const std::string &above = mounts[later].mountPoint;
            if (above == "/" ? point == "/"
                             : point.compare(0, above.size(), above) == 0 &&
                                   (point.size() == above.size() || point[above.size()] == '/'))
                return true;
        }
        return false;
    };
    std::set<std::string> volumes;
    for (size_t index = 0; index < mounts.size(); ++index) {
        const linux_proc::Mount &mount = mounts[index];
        if (mayBlock(mount.type) || hidden(index))
            continue;
        const std::string device = resolve(mount);
        if (!device.empty() && liesOn(root, device, disk, partitions, 0))
            volumes.insert(mount.mountPoint);
    }
    return {volumes.begin(), volumes.end()};
}

} // namespace platform::linux_disks
