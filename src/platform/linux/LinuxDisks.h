// The physical disks as sysfs, the udev database and the mount table describe them.
#pragma once

#include "platform/Platform.h"

#include <string>
#include <vector>

namespace platform::linux_disks {

// Kernel names of the whole physical disks, in name order; disk n is entry n. Loop, RAM,
// compressed-RAM, device-mapper, software-RAID and optical devices are not physical disks.
std::vector<std::string> physicalDiskNames(const std::string &root);
// Model (vendor and model), serial and firmware of a disk, from sysfs and then udev.
DiskIdentity diskIdentity(const std::string &root, const std::string &disk);
// Mount points of the disk, its partitions and the mapped devices built on them, sorted.
std::vector<std::string> diskVolumes(const std::string &root, const std::string &disk);

} // namespace platform::linux_disks
