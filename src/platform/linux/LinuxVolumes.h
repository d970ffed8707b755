// Mounted volumes on Linux: /proc/self/mountinfo, mapped to the physical disks through sysfs.
#pragma once

#include <string>
#include <vector>

namespace platform::linux_volumes {

// One line of /proc/self/mountinfo, octal escapes undone.
struct MountInfo {
    std::string device; // "major:minor"
    std::string root;   // the directory of the file system that is mounted here
    std::string mountPoint;
    std::string type;
    std::string source;
};
std::vector<MountInfo> parseMountinfo(const std::string &text);

// The mounts that are volumes of a local disk: a block device (a /dev source, a major number
// other than 0) mounted whole (not a bind mount of a subdirectory or a file), by a file system
// that cannot hang its caller; each device once, at its first mount.
std::vector<MountInfo> localVolumes(const std::vector<MountInfo> &mounts);

// The physical disk (its index in disks) that the block device "major:minor" lies on: the disk
// itself, one of its partitions, or a mapped or RAID device built on them. -1 for none.
int diskOfDevice(const std::string &root, const std::string &device,
                 const std::vector<std::string> &disks);

} // namespace platform::linux_volumes
