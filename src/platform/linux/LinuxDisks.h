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
// The disks as numbered by the last scan of the tree: disk n keeps naming the disk that scan
// found as n, whatever appears or disappears later, until a new scan (`rescan`, or a first use
// of another tree) numbers them afresh. Safe to call from several threads.
std::vector<std::string> numberedDisks(const std::string &root, bool rescan);
// Model (vendor and model), serial and firmware of a disk, from sysfs and then udev.
DiskIdentity diskIdentity(const std::string &root, const std::string &disk);
// Mount points of the disk, its partitions and the mapped devices built on them, sorted.
std::vector<std::string> diskVolumes(const std::string &root, const std::string &disk);

// The kernel name of the block device behind a mount, empty when it has none. On the live
// system this stats the mount point, which blocks for as long as a dead NFS server or FUSE
// daemon does; mounts of file systems served over the network or in user space are therefore
// never handed to it (they are no volumes of a local disk either).
using MountResolver = std::function<std::string(const linux_proc::Mount &)>;
std::vector<std::string> diskVolumes(const std::string &root, const std::string &disk,
                                     const MountResolver &resolve);
// True for a file system whose calls may wait on a remote server or a user-space daemon.
bool mayBlock(const std::string &fileSystemType);

} // namespace platform::linux_disks
