// The physical disks as sysfs, the udev database and the mount table describe them.
#pragma once

#include "platform/Platform.h"

#include <string>
#include <vector>

namespace platform::linux_disks {

// Kernel names of the whole physical disks, in name order; disk n is entry n. Loop, RAM,
// compressed-RAM, device-mapper, software-RAID and optical devices are not physical disks.
std::vector<std::string> physicalDiskNames(const std::string &root);
// The disks as numbered by the last scan of the tree: disk n keeps naming the disk that scan
// found as n, whatever appears or disappears later, until a new scan (`rescan`, or a first use
// of another tree) numbers them afresh. Safe to call from several threads.
std::vector<std::string> numberedDisks(const std::string &root, bool rescan);
// Model (vendor and model), serial and firmware of a disk, from sysfs and then udev.
DiskIdentity diskIdentity(const std::string &root, const std::string &disk);
// Mount points of the disk, its partitions and the mapped devices built on them, sorted.
std::vector<std::string> diskVolumes(const std::string &root, const std::string &disk);

} // namespace platform::linux_disks
