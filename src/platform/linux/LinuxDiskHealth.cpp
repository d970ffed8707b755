// A disk's own health on Linux: the NVMe admin ioctl for NVMe namespaces, SG_IO with ATA
// pass-through for the others (SATA disks behind libata answer it; virtual and USB disks
// mostly do not).
#include "platform/DiskHealth.h"

#include "LinuxDisks.h"
#include "platform/Platform.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/nvme_ioctl.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace platform {

namespace {
constexpr unsigned TIMEOUT_MS = 3000;

std::string failure(const char *what) {
    return std::string(what) + ": " + std::strerror(errno);
}

DiskHealth nvmeHealth(int device) {
    unsigned char page[HEALTH_PAGE_SIZE] = {};
    nvme_admin_cmd command{};
    command.opcode = 0x02;     // Get Log Page
    command.nsid = 0xFFFFFFFF; // the controller as a whole
    command.addr = reinterpret_cast<uintptr_t>(page);
    command.data_len = sizeof page;
    // Dwords to read less one in bits 16 to 27, the log identifier (SMART / Health, 02h) below.
    command.cdw10 = ((sizeof page / 4 - 1) << 16) | 0x02;
    command.timeout_ms = TIMEOUT_MS;
    const int status = ioctl(device, NVME_IOCTL_ADMIN_CMD, &command);
    if (status != 0) {
        DiskHealth none;
        none.why = status < 0
                       ? failure("the NVMe health log was refused")
                       : "the NVMe health log was refused (status " + std::to_string(status) + ")";
        return none;
    }
    return decodeNvmeHealthLog(page, sizeof page);
}

// SMART READ DATA (feature D0h) or READ THRESHOLDS (D1h), one sector in.
bool ataSmartSector(int device, unsigned char feature, unsigned char *sector, std::string &why) {
    unsigned char cdb[16] = {};
    cdb[0] = 0x85;            // ATA PASS-THROUGH (16)
    cdb[1] = 4 << 1;          // PIO data-in
    cdb[2] = 0x08 | 0x04 | 2; // from the device, length in sectors, in the sector count field
    cdb[4] = feature;
    cdb[6] = 1;     // one sector
    cdb[10] = 0x4F; // LBA mid and high: the SMART signature
    cdb[12] = 0xC2;
    cdb[14] = 0xB0; // SMART
    unsigned char sense[32] = {};
    sg_io_hdr_t io{};
    io.interface_id = 'S';
    io.dxfer_direction = SG_DXFER_FROM_DEV;
    io.cmd_len = sizeof cdb;
    io.cmdp = cdb;
    io.mx_sb_len = sizeof sense;
    io.sbp = sense;
    io.dxfer_len = HEALTH_PAGE_SIZE;
    io.dxferp = sector;
    io.timeout = TIMEOUT_MS;
    if (ioctl(device, SG_IO, &io) < 0) {
        why = failure("ATA pass-through was refused");
        return false;
    }
    // A device that does not pass ATA commands on answers with an error status; a good answer
    // is still checked by its sector's checksum.
    if (io.host_status != 0 || (io.masked_status & ~0x01) != 0 || io.resid != 0) {
        why = "the disk does not answer ATA SMART commands (SCSI status " +
              std::to_string(io.status) + ", host status " + std::to_string(io.host_status) + ")";
        return false;
    }
    return true;
}

DiskHealth ataHealth(int device) {
    unsigned char data[HEALTH_PAGE_SIZE] = {}, thresholds[HEALTH_PAGE_SIZE] = {};
    DiskHealth none;
    if (!ataSmartSector(device, 0xD0, data, none.why) ||
        !ataSmartSector(device, 0xD1, thresholds, none.why))
        return none;
    DiskHealth health = decodeAtaSmart(data, sizeof data, thresholds, sizeof thresholds);
    if (health.kind == DiskHealth::Kind::None)
        health.why = "the disk's SMART sectors fail their checksum";
    return health;
}
} // namespace

DiskHealth diskHealth(uint32_t n) {
    DiskHealth none;
    const std::string root = rootDirectory();
    if (!root.empty() && root != "/") {
        none.why = "not asked: the devices of a fixture tree are not there";
        return none;
    }
    const std::string name = linux_disks::numberedDisk(root, n);
    if (name.empty()) {
        none.why = "no such disk";
        return none;
    }
    const int device = open(("/dev/" + name).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (device < 0) {
        none.why = failure(("/dev/" + name + " cannot be opened").c_str());
        return none;
    }
    const DiskHealth health = name.rfind("nvme", 0) == 0 ? nvmeHealth(device) : ataHealth(device);
    close(device);
    return health;
}

} // namespace platform
