// The mounted volumes of the physical disks and their space, as the system reports it at the
// moment of the call.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

struct VolumeSpace {
    std::string path;  // "C:\", "C:\Data\Mount\" on Windows; the mount point on Linux
    uint32_t disk = 0; // the physical disk it lies on, numbered as physicalDisk() numbers them
    uint64_t size = 0; // bytes
    uint64_t free = 0; // bytes an ordinary user may still write (not the reserve for root)
};

// Every volume of a local physical disk: letters and mount folders on Windows; on Linux every
// mounted block-device file system once, mapped through sysfs to the disk beneath it. Network,
// pseudo and user-space file systems are never asked, since a dead server or daemon would hang
// the call. Sorted by disk, then path.
std::vector<VolumeSpace> volumeSpaces();

} // namespace platform
