// What a disk says of its own health, decoded from the pages it answers with: the NVMe
// SMART / Health Information log page (log identifier 02h), or the ATA SMART data and
// threshold sectors. Devices fill these pages themselves, so the decoders read only inside the
// page they are given. Plain C++, so that they are built and tested where the device calls do
// not exist.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace platform {

struct DiskHealth {
    enum class Kind { None, Nvme, Ata };
    Kind kind = Kind::None; // None: the disk answered no health query
    std::string why;        // None: which query was tried and what came back
    // The drive's own verdict: NVMe, any critical-warning bit; ATA, a pre-failure attribute
    // at or below its threshold.
    bool failing = false;
    // NVMe.
    uint8_t criticalWarning = 0;
    std::optional<int> temperatureCelsius; // composite temperature; none when 0 K
    uint8_t percentageUsed = 0;            // may exceed 100
    uint64_t mediaErrors = 0;
    uint64_t powerOnHours = 0;
    // ATA: the raw counts of attributes 5 (reallocated sectors), 187 (reported uncorrectable),
    // 197 (pending sectors) and 198 (offline uncorrectable); none when the drive keeps none.
    std::optional<uint64_t> reallocated, reportedUncorrectable, pending, offlineUncorrectable;
};

constexpr std::size_t HEALTH_PAGE_SIZE = 512;

// The NVMe SMART / Health Information log page; Kind::None when it is shorter than a page.
// Counts wider than 64 bits are held at the largest 64-bit value.
DiskHealth decodeNvmeHealthLog(const unsigned char *page, std::size_t size);

// The ATA SMART READ DATA and READ THRESHOLDS sectors; Kind::None when either is shorter than
// a sector or fails its checksum (every byte summed is 0 modulo 256).
DiskHealth decodeAtaSmart(const unsigned char *data, std::size_t dataSize,
                          const unsigned char *thresholds, std::size_t thresholdsSize);

// Asks physical disk n (numbered as physicalDisk() numbers them) now. Linux: the NVMe admin
// command Get Log Page on an NVMe disk, ATA PASS-THROUGH (16) SMART READ DATA and READ
// THRESHOLDS through SG_IO on another one; both need the right to open the device. Windows:
// the NVMe protocol-specific property (IOCTL_STORAGE_QUERY_PROPERTY), else SMART_RCV_DRIVE_DATA.
// A disk that hangs can hold the caller for the command's time-out (3 s on Linux).
DiskHealth diskHealth(uint32_t n);

} // namespace platform
