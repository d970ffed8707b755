// The mounted volumes of the physical disks and their space, as the system reports it at the
// moment of the call.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform {

struct VolumeSpace {
    std::string path;  // "C:\", "C:\Data\Mount\" on Windows; the mount point on Linux
    uint32_t disk = 0; // the physical disk it lies on, numbered as physicalDisk() numbers them
    uint64_t size = 0; // bytes
    uint64_t free = 0; // bytes an ordinary user may still write (not the reserve for root)
    // False when the file system did not answer in time; size and free are then unknown (0).
    bool answering = true;
};

// Every volume of a local physical disk, its space not yet read (size and free 0): letters and
// mount folders on Windows; on Linux every mounted block-device file system once, mapped
// through sysfs to the disk beneath it. Network, pseudo and user-space file systems are never
// listed. Sorted by disk, then path. Never waits on a file system.
std::vector<VolumeSpace> volumesOfDisks();

struct Space {
    uint64_t size = 0;
    uint64_t free = 0;
};
// The space of a volume that volumesOfDisks() listed, asked of its file system (statvfs,
// GetDiskFreeSpaceExW). This waits as long as the file system takes to answer, which for one
// whose driver hangs is forever: callers that must answer in time ask from a thread they can
// leave behind. Empty when the system refuses and the volume is better left out.
std::optional<Space> volumeSpace(const std::string &path);

// Every volume with its space, asked one after the other; for the system report and tests.
std::vector<VolumeSpace> volumeSpaces();

} // namespace platform
