// The physical disks as sysfs, the udev database and the mount table describe them.
#pragma once

#include "ProcParsers.h"
#include "platform/Platform.h"

#include <functional>

#include <string>
#include <vector>

namespace platform::linux_disks {

// Kernel names of the whole physical disks, in name order; disk n is entry n. Loop, RAM,
// compressed-RAM, device-mapper, software-RAID and optical devices are not physical disks.
std::vector<std::string> physicalDiskNames(const std::string &root);
// Disk numbers that last while a disk stays attached. The first update numbers the disks from 0
// in name order; a disk that arrives later gets the lowest number no disk has had before, and
// a number whose disk went away is not given again, so that a number never passes from one disk
// to another. A disk is told apart by its kernel name and, where the kernel gives it, its
// sequence number, which changes when another disk takes the name.
struct NumberedDisk {
    uint32_t number = 0;
    std::string name;
};
class DiskNumbering {
public:
    // The attached disks (kernel name, sequence text) with their numbers, ascending by number.
    std::vector<NumberedDisk>
    update(const std::vector<std::pair<std::string, std::string>> &attached);
    // The kernel name of disk `number`; empty when no disk has it now.
    std::string name(uint32_t number) const;

private:
    std::vector<std::pair<std::string, NumberedDisk>> current; // identity -> disk
    uint32_t nextNumber = 0;
};
// The physical disks attached below root now, numbered by the numbering kept for that tree.
// Safe to call from several threads.
std::vector<NumberedDisk> attachedDisks(const std::string &root);
// The kernel name of disk `number` as the last look at the tree numbered it (looking first when
// the tree has not been looked at); empty when no attached disk has the number.
std::string numberedDisk(const std::string &root, uint32_t number);
// Model (vendor and model), serial and firmware of a disk, from sysfs and then udev.
DiskIdentity diskIdentity(const std::string &root, const std::string &disk);
// Mount points of the disk, its partitions and the mapped devices built on them, sorted.
std::vector<std::string> diskVolumes(const std::string &root, const std::string &disk);

// The kernel name of the block device behind a mount, empty when it has none. On the live
// system this stats the mount point, which blocks for as long as a dead NFS server or FUSE
// daemon does; mounts of file systems served over the network or in user space are therefore
// never handed to it (they are no volumes of a local disk either), and neither are mounts that a
// later mount hides (one made on the same point or on a directory above it), whose path leads
// into the file system on top.
using MountResolver = std::function<std::string(const linux_proc::Mount &)>;
std::vector<std::string> diskVolumes(const std::string &root, const std::string &disk,
                                     const MountResolver &resolve);
// True for a file system whose calls may wait on a remote server or a user-space daemon.
bool mayBlock(const std::string &fileSystemType);

} // namespace platform::linux_disks
