// Volumes and their space on Linux: which mounts are volumes of a local disk, and statvfs.
#include "LinuxVolumes.h"

#include "LinuxDisks.h"
#include "ProcParsers.h"
#include "SystemFiles.h"
#include "platform/Platform.h"
#include "platform/Volumes.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>

namespace platform::linux_volumes {

using linux_files::directoryEntries;
using linux_files::exists;
using linux_files::readLine;
using linux_files::underRoot;

namespace {

// The kernel name of a block device, found from its number: the link /sys/dev/block/M:m
// where the tree has it, else the entry of /sys/class/block whose "dev" holds the number.
std::string deviceName(const std::string &root, const std::string &device) {
    const std::string target = linux_files::linkTarget(underRoot(root, "/sys/dev/block/" + device));
    if (!target.empty())
        return target.substr(target.rfind('/') + 1);
    const std::string block = underRoot(root, "/sys/class/block");
    for (const std::string &name : directoryEntries(block)) {
        if (readLine(block + "/" + name + "/dev") == device)
            return name;
    }
    return {};
}

// The disk index that the named block device lies on, following a mapped or RAID device's
// "slaves" down to the disks beneath it.
int diskOfName(const std::string &root, const std::string &name,
               const std::vector<std::string> &disks, int depth) {
    for (size_t n = 0; n < disks.size(); ++n) {
        if (name == disks[n] ||
            exists(underRoot(root, "/sys/block/" + disks[n] + "/" + name + "/partition")))
            return int(n);
    }
    if (depth > 8)
        return -1;
    for (const std::string &slave :
         directoryEntries(underRoot(root, "/sys/class/block/" + name + "/slaves"))) {
        const int disk = diskOfName(root, slave, disks, depth + 1);
        if (disk >= 0)
            return disk;
    }
    return -1;
}

// Whether `path` is `above` or lies beneath it.
bool within(const std::string &path, const std::string &above) {
    if (path.compare(0, above.size(), above) != 0)
        return false;
    return path.size() == above.size() || above == "/" || path[above.size()] == '/';
}

// True when another mount hides this one: one made on its mount point or on a directory above
// it that is not among the mounts it was itself made on.
bool hidden(const MountInfo &mount, const std::vector<MountInfo> &mounts,
            const std::map<std::string, std::string> &parents) {
    std::set<std::string> beneath;
    for (std::string id = mount.parent; !id.empty() && beneath.insert(id).second;) {
        const auto parent = parents.find(id);
        id = parent == parents.end() ? std::string() : parent->second;
    }
    for (const MountInfo &other : mounts) {
        if (other.id != mount.id && !beneath.count(other.id) &&
            within(mount.mountPoint, other.mountPoint))
            return true;
    }
    return false;
}

} // namespace

std::vector<MountInfo> parseMountinfo(const std::string &text) {
    // "36 35 98:0 /mnt1 /mnt/parent rw,noatime master:1 - ext3 /dev/root rw": a variable list of
    // optional fields ends with the lone "-" that comes before the type and the source.
    std::vector<MountInfo> mounts;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        std::vector<std::string> f;
        for (std::string field; fields >> field;)
            f.push_back(field);
        const auto dash = std::find(f.begin() + std::min<size_t>(f.size(), 6), f.end(), "-");
        if (f.size() < 6 || dash == f.end() || f.end() - dash < 3)
            continue;
        mounts.push_back({f[0], f[1], f[2], linux_proc::unescapeOctal(f[3]),
                          linux_proc::unescapeOctal(f[4]), dash[1],
                          linux_proc::unescapeOctal(dash[2])});
    }
    return mounts;
}

std::vector<MountInfo> localVolumes(const std::vector<MountInfo> &mounts,
                                    const SourceResolver &resolve) {
    std::map<std::string, std::string> parents;
    for (const MountInfo &mount : mounts)
        parents.emplace(mount.id, mount.parent);
    std::vector<MountInfo> volumes;
    std::set<std::string> seen;
    for (MountInfo mount : mounts) {
        if (mount.source.rfind("/dev/", 0) != 0 || linux_disks::mayBlock(mount.type))
            continue;
        if (mount.type == "btrfs")
            mount.device = resolve(mount.source);
        else if (mount.root != "/")
            continue;
        if (mount.device.empty() || mount.device.rfind("0:", 0) == 0)
            continue;
        if (!hidden(mount, mounts, parents) && seen.insert(mount.device).second)
            volumes.push_back(mount);
    }
    return volumes;
}

std::string sourceDevice(const std::string &root, const std::string &source) {
    struct stat node {};
    if (stat(underRoot(root, source).c_str(), &node) == 0 && S_ISBLK(node.st_mode))
        return std::to_string(major(node.st_rdev)) + ":" + std::to_string(minor(node.st_rdev));
    const std::string name = source.substr(source.rfind('/') + 1);
    const std::string block = underRoot(root, "/sys/class/block");
    const std::string number = readLine(block + "/" + name + "/dev");
    if (!number.empty())
        return number;
    for (const std::string &entry : directoryEntries(block)) {
        if (readLine(block + "/" + entry + "/dm/name") == name)
            return readLine(block + "/" + entry + "/dev");
    }
    return {};
}

int diskOfDevice(const std::string &root, const std::string &device,
                 const std::vector<std::string> &disks) {
    // The common case without a name lookup: the disk or one of its partitions.
    for (size_t n = 0; n < disks.size(); ++n) {
        const std::string base = underRoot(root, "/sys/block/" + disks[n]);
        if (readLine(base + "/dev") == device)
            return int(n);
        for (const std::string &entry : directoryEntries(base)) {
            if (exists(base + "/" + entry + "/partition") &&
                readLine(base + "/" + entry + "/dev") == device)
                return int(n);
        }
    }
    const std::string name = deviceName(root, device);
    return name.empty() ? -1 : diskOfName(root, name, disks, 0);
}

} // namespace platform::linux_volumes

namespace platform {

std::vector<VolumeSpace> volumesOfDisks() {
    const std::string root = rootDirectory();
    const std::string table =
        linux_files::readText(linux_files::underRoot(root, "/proc/self/mountinfo"));
    // The same mount table lists the same volumes on the same disks: a mounted device keeps
    // its disk, and an attached disk its number. So the walk through the disks is made again
    // only when the table changed. Never destroyed: a reader may still ask at exit.
    struct Listed {
        std::mutex mutex;
        std::string root, table;
        std::vector<VolumeSpace> volumes;
    };
    static Listed *const listed = new Listed;
    {
        std::lock_guard<std::mutex> lock(listed->mutex);
        if (!table.empty() && listed->root == root && listed->table == table)
            return listed->volumes;
    }
    // Under the numbers the disks keep while attached, the same as in the storage table.
    const std::vector<linux_disks::NumberedDisk> attached = linux_disks::attachedDisks(root);
    std::vector<std::string> disks;
    for (const linux_disks::NumberedDisk &disk : attached)
        disks.push_back(disk.name);
    std::vector<VolumeSpace> volumes;
    const auto mounts = linux_volumes::localVolumes(
        linux_volumes::parseMountinfo(table),
        [&root](const std::string &source) { return linux_volumes::sourceDevice(root, source); });
    for (const linux_volumes::MountInfo &mount : mounts) {
        const int index = linux_volumes::diskOfDevice(root, mount.device, disks);
        if (index < 0)
            continue;
        VolumeSpace volume;
        volume.path = mount.mountPoint;
        volume.disk = attached[size_t(index)].number;
        volumes.push_back(volume);
    }
    std::sort(volumes.begin(), volumes.end(), [](const VolumeSpace &a, const VolumeSpace &b) {
        return a.disk != b.disk ? a.disk < b.disk : a.path < b.path;
    });
    std::lock_guard<std::mutex> lock(listed->mutex);
    listed->root = root;
    listed->table = table;
    listed->volumes = volumes;
    return volumes;
}

std::optional<Space> volumeSpace(const std::string &path) {
    // Asked of the mount point in the tree: in a fixture tree that is a plain directory. A
    // volume that cannot be asked is shown with no space rather than left out.
    Space result;
    struct statvfs space {};
    if (statvfs(linux_files::underRoot(rootDirectory(), path).c_str(), &space) == 0) {
        result.size = uint64_t(space.f_blocks) * space.f_frsize;
        result.free = uint64_t(space.f_bavail) * space.f_frsize;
    }
    return result;
}

} // namespace platform
