// Mounted volumes on Linux: /proc/self/mountinfo, mapped to the physical disks through sysfs.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace platform::linux_volumes {

// One line of /proc/self/mountinfo, octal escapes undone.
struct MountInfo {
    std::string id;     // the mount's own number
    std::string parent; // the number of the mount it was made on
    std::string device; // "major:minor"
    std::string root;   // the directory of the file system that is mounted here
    std::string mountPoint;
    std::string type;
    std::string source;
};
std::vector<MountInfo> parseMountinfo(const std::string &text);

// The block device "major:minor" that a mount's source ("/dev/sda3") names; "" for none.
using SourceResolver = std::function<std::string(const std::string &source)>;

// The mounts that are volumes of a local disk: a block device (a /dev source, a major number
// other than 0) mounted whole (not a bind mount of a subdirectory or a file), by a file system
// that cannot hang its caller; each device once, at its first mount. btrfs gives its mounts an
// anonymous number and mounts subvolumes rather than its root: its mounts are taken under the
// device their source names (`resolve`), and so count once per file system. A mount that
// another one hides (made over it or over a directory above it, and not beneath it) is left
// out: its path leads into the other file system, which may be one that never answers.
std::vector<MountInfo> localVolumes(const std::vector<MountInfo> &mounts,
                                    const SourceResolver &resolve);

// The number of the block device that `source` names: the device node's own number, or where
// there is no node (a private /dev, a fixture tree), the number sysfs gives the device of that
// name, or of the mapped device of that name. "" for none.
std::string sourceDevice(const std::string &root, const std::string &source);

// The physical disk (its index in disks) that the block device "major:minor" lies on: the disk
// itself, one of its partitions, or a mapped or RAID device built on them. -1 for none.
int diskOfDevice(const std::string &root, const std::string &device,
                 const std::vector<std::string> &disks);

} // namespace platform::linux_volumes
