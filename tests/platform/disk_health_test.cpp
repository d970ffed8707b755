// Health pages built from the layouts of the NVMe and ATA specifications, decoded.
#define CHECK_MAIN
#include "check.h"

#include "platform/DiskHealth.h"

#include <vector>

using platform::DiskHealth;
using Page = std::vector<unsigned char>;

namespace {
void put(Page &page, std::size_t at, uint64_t value, std::size_t bytes) {
    for (std::size_t i = 0; i < bytes; ++i, value >>= 8)
        page[at + i] = static_cast<unsigned char>(value & 0xFF);
}

// An ATA SMART sector: each attribute {id, flags, current value, raw} (for the thresholds
// sector, {id, 0, threshold, 0}), then the checksum byte that makes the sum 0.
struct Attribute {
    unsigned id, flags, value;
    uint64_t raw;
};
Page ataSector(const std::vector<Attribute> &attributes, bool thresholds) {
    Page sector(512, 0);
    put(sector, 0, 0x0010, 2);
    for (std::size_t n = 0; n < attributes.size(); ++n) {
        const std::size_t at = 2 + n * 12;
        sector[at] = static_cast<unsigned char>(attributes[n].id);
        if (thresholds) {
            sector[at + 1] = static_cast<unsigned char>(attributes[n].value);
            continue;
        }
        put(sector, at + 1, attributes[n].flags, 2);
        sector[at + 3] = static_cast<unsigned char>(attributes[n].value);
        sector[at + 4] = static_cast<unsigned char>(attributes[n].value);
        put(sector, at + 5, attributes[n].raw, 6);
    }
    unsigned sum = 0;
    for (std::size_t i = 0; i < 511; ++i)
        sum += sector[i];
    sector[511] = static_cast<unsigned char>((256 - (sum & 0xFF)) & 0xFF);
    return sector;
}
} // namespace

TEST_CASE("the NVMe health log gives warning, temperature, wear, errors and hours") {
    Page page(512, 0);
    put(page, 1, 310, 2); // Kelvin
    page[5] = 3;
    put(page, 128, 12345, 16);
    put(page, 160, 2, 16);
    DiskHealth health = platform::decodeNvmeHealthLog(page.data(), page.size());
    CHECK(health.kind == DiskHealth::Kind::Nvme);
    CHECK(!health.failing);
    CHECK_EQ(health.temperatureCelsius.value_or(-1), 37);
    CHECK_EQ(int(health.percentageUsed), 3);
    CHECK_EQ(health.powerOnHours, uint64_t(12345));
    CHECK_EQ(health.mediaErrors, uint64_t(2));
    // Reliability degraded; no temperature sensor; hours past 64 bits.
    page[0] = 0x04;
    put(page, 1, 0, 2);
    page[128 + 9] = 1;
    health = platform::decodeNvmeHealthLog(page.data(), page.size());
    CHECK(health.failing);
    CHECK_EQ(int(health.criticalWarning), 4);
    CHECK(!health.temperatureCelsius);
    CHECK_EQ(health.powerOnHours, ~uint64_t(0));
    CHECK(platform::decodeNvmeHealthLog(page.data(), 511).kind == DiskHealth::Kind::None);
}

TEST_CASE("ATA SMART: the four sector counts and the drive's verdict by its thresholds") {
    const struct {
        const char *name;
        std::vector<Attribute> data, limits;
        bool failing;
    } table[] = {
        {"healthy",
         {{5, 0x33, 100, 8}, {197, 0x32, 100, 2}, {9, 0x32, 99, 4000}},
         {{5, 0, 36, 0}},
         false},
        {"reallocation at its threshold", {{5, 0x33, 36, 3000}}, {{5, 0, 36, 0}}, true},
        {"an advisory attribute below its threshold",
         {{5, 0x32, 10, 3000}},
         {{5, 0, 36, 0}},
         false},
        {"a threshold of 0 never fails", {{5, 0x33, 0, 3000}}, {{5, 0, 0, 0}}, false},
        {"threshold entries in another order",
         {{9, 0x32, 99, 1}, {5, 0x33, 20, 1}},
         {{5, 0, 36, 0}, {9, 0, 0, 0}},
         true},
    };
    for (const auto &row : table) {
        const Page data = ataSector(row.data, false), limits = ataSector(row.limits, true);
        const DiskHealth health =
            platform::decodeAtaSmart(data.data(), data.size(), limits.data(), limits.size());
        CHECK_MSG(health.kind == DiskHealth::Kind::Ata && health.failing == row.failing, row.name);
    }
    const Page data = ataSector(
        {{5, 0x33, 100, 8}, {187, 0x32, 100, 1}, {197, 0x32, 100, 2}, {198, 0x30, 100, 0}}, false);
    const Page limits = ataSector({{5, 0, 36, 0}}, true);
    const DiskHealth health =
        platform::decodeAtaSmart(data.data(), data.size(), limits.data(), limits.size());
    CHECK_EQ(health.reallocated.value_or(99), uint64_t(8));
    CHECK_EQ(health.reportedUncorrectable.value_or(99), uint64_t(1));
    CHECK_EQ(health.pending.value_or(99), uint64_t(2));
    CHECK_EQ(health.offlineUncorrectable.value_or(99), uint64_t(0));
    // A sector that fails its checksum is no answer.
    Page broken = data;
    broken[20] ^= 1;
    CHECK(
        platform::decodeAtaSmart(broken.data(), broken.size(), limits.data(), limits.size()).kind ==
        DiskHealth::Kind::None);
    const Page none = ataSector({{9, 0x32, 99, 4000}}, false);
    CHECK(
        !platform::decodeAtaSmart(none.data(), none.size(), limits.data(), limits.size()).pending);
}
