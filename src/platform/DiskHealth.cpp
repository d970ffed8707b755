#include "platform/DiskHealth.h"

#include <limits>

namespace platform {

namespace {
// A little-endian count of `bytes` bytes (at most 16) at `at`, held at the 64-bit maximum.
uint64_t littleEndian(const unsigned char *page, std::size_t at, std::size_t bytes) {
    uint64_t value = 0;
    for (std::size_t i = bytes; i-- > 0;) {
        if (i >= 8 && page[at + i] != 0)
            return std::numeric_limits<uint64_t>::max();
        if (i < 8)
            value = (value << 8) | page[at + i];
    }
    return value;
}

bool checksumHolds(const unsigned char *sector) {
    unsigned sum = 0;
    for (std::size_t i = 0; i < HEALTH_PAGE_SIZE; ++i)
        sum += sector[i];
    return (sum & 0xFF) == 0;
}

// The sectors hold 30 attribute entries of 12 bytes from byte 2.
constexpr std::size_t ATTRIBUTES = 30, ENTRY = 12, FIRST = 2;
} // namespace

DiskHealth decodeNvmeHealthLog(const unsigned char *page, std::size_t size) {
    DiskHealth health;
    if (!page || size < HEALTH_PAGE_SIZE)
        return health;
    health.kind = DiskHealth::Kind::Nvme;
    health.criticalWarning = page[0];
    health.failing = page[0] != 0;
    const int kelvin = int(littleEndian(page, 1, 2));
    if (kelvin > 0)
        health.temperatureCelsius = kelvin - 273;
    health.percentageUsed = page[5];
    health.powerOnHours = littleEndian(page, 128, 16);
    health.mediaErrors = littleEndian(page, 160, 16);
    return health;
}

DiskHealth decodeAtaSmart(const unsigned char *data, std::size_t dataSize,
                          const unsigned char *thresholds, std::size_t thresholdsSize) {
    DiskHealth health;
    if (!data || !thresholds || dataSize < HEALTH_PAGE_SIZE || thresholdsSize < HEALTH_PAGE_SIZE ||
        !checksumHolds(data) || !checksumHolds(thresholds))
        return health;
    health.kind = DiskHealth::Kind::Ata;
    for (std::size_t n = 0; n < ATTRIBUTES; ++n) {
        const unsigned char *entry = data + FIRST + n * ENTRY;
        const unsigned id = entry[0];
        if (id == 0)
            continue;
        const uint64_t raw = littleEndian(entry, 5, 6);
        if (id == 5)
            health.reallocated = raw;
        else if (id == 187)
            health.reportedUncorrectable = raw;
        else if (id == 197)
            health.pending = raw;
        else if (id == 198)
            health.offlineUncorrectable = raw;
        // Its threshold is in the entry of the same identifier, usually at the same place.
        for (std::size_t t = 0; t < ATTRIBUTES; ++t) {
            const unsigned char *limit = thresholds + FIRST + t * ENTRY;
            if (limit[0] != id)
                continue;
            const bool preFailure = (entry[1] & 0x01) != 0;
            // A threshold of 0 means the attribute never fails; 0xFE and 0xFF are invalid.
            if (preFailure && limit[1] != 0 && limit[1] < 0xFE && entry[3] <= limit[1])
                health.failing = true;
            break;
        }
    }
    return health;
}

} // namespace platform
