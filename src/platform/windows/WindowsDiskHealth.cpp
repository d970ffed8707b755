// A disk's own health is not asked on Windows yet (IOCTL_STORAGE_QUERY_PROPERTY with the NVMe
// protocol-specific property, SMART_RCV_DRIVE_DATA for ATA): every disk reads as not reported.
#include "platform/DiskHealth.h"

namespace platform {

DiskHealth diskHealth(uint32_t) {
    DiskHealth none;
    none.why = "not asked on Windows yet";
    return none;
}

} // namespace platform
