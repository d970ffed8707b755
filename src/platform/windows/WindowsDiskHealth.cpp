// A disk's own health on Windows: the NVMe health log through the storage driver's
// protocol-specific property (Windows 10 and later, inbox NVMe driver), and for other disks
// the SMART data and thresholds through the disk driver's SMART requests.
#include "platform/DiskHealth.h"
#include "platform/windows/WindowsText.h"

#include <cstddef>
#include <vector>
#include <winioctl.h>

namespace platform {

namespace {
std::string failure(const char *what) {
    return std::string(what) + " (error " + std::to_string(GetLastError()) + ")";
}

DiskHealth nvmeHealth(HANDLE disk, std::string &why) {
    // The query and the reply share one buffer: the request's protocol data, then the page.
    constexpr std::size_t header = offsetof(STORAGE_PROPERTY_QUERY, AdditionalParameters);
    std::vector<BYTE> buffer(header + sizeof(STORAGE_PROTOCOL_SPECIFIC_DATA) + HEALTH_PAGE_SIZE);
    auto *query = reinterpret_cast<STORAGE_PROPERTY_QUERY *>(buffer.data());
    query->PropertyId = StorageDeviceProtocolSpecificProperty;
    query->QueryType = PropertyStandardQuery;
    auto *request = reinterpret_cast<STORAGE_PROTOCOL_SPECIFIC_DATA *>(buffer.data() + header);
    request->ProtocolType = ProtocolTypeNvme;
    request->DataType = NVMeDataTypeLogPage;
    request->ProtocolDataRequestValue = 0x02; // SMART / Health Information
    request->ProtocolDataOffset = sizeof(STORAGE_PROTOCOL_SPECIFIC_DATA);
    request->ProtocolDataLength = HEALTH_PAGE_SIZE;
    DWORD returned = 0;
    if (!DeviceIoControl(disk, IOCTL_STORAGE_QUERY_PROPERTY, buffer.data(), DWORD(buffer.size()),
                         buffer.data(), DWORD(buffer.size()), &returned, nullptr)) {
        why = failure("the NVMe health log was refused");
        return {};
    }
    // The reply: a version and size, then the protocol data whose offset counts from itself.
    constexpr std::size_t data = offsetof(STORAGE_PROTOCOL_DATA_DESCRIPTOR, ProtocolSpecificData);
    const auto *answer = reinterpret_cast<STORAGE_PROTOCOL_SPECIFIC_DATA *>(buffer.data() + data);
    const std::size_t at = data + answer->ProtocolDataOffset;
    if (returned < data + sizeof(STORAGE_PROTOCOL_SPECIFIC_DATA) || at > returned ||
        answer->ProtocolDataLength > returned - at) {
        why = "the NVMe health log came back short";
        return {};
    }
    return decodeNvmeHealthLog(buffer.data() + at, answer->ProtocolDataLength);
}

// SMART READ DATA or READ THRESHOLDS, one sector.
bool smartSector(HANDLE disk, BYTE feature, std::vector<BYTE> &sector, std::string &why) {
    SENDCMDINPARAMS in{};
    in.cBufferSize = READ_ATTRIBUTE_BUFFER_SIZE;
    in.irDriveRegs.bFeaturesReg = feature;
    in.irDriveRegs.bSectorCountReg = 1;
    in.irDriveRegs.bSectorNumberReg = 1;
    in.irDriveRegs.bCylLowReg = SMART_CYL_LOW;
    in.irDriveRegs.bCylHighReg = SMART_CYL_HI;
    in.irDriveRegs.bDriveHeadReg = 0xA0;
    in.irDriveRegs.bCommandReg = SMART_CMD;
    std::vector<BYTE> out(offsetof(SENDCMDOUTPARAMS, bBuffer) + READ_ATTRIBUTE_BUFFER_SIZE);
    DWORD returned = 0;
    if (!DeviceIoControl(disk, SMART_RCV_DRIVE_DATA, &in, sizeof in - 1, out.data(),
                         DWORD(out.size()), &returned, nullptr) ||
        returned < out.size()) {
        why = failure("the disk does not answer SMART requests");
        return false;
    }
    sector.assign(out.begin() + offsetof(SENDCMDOUTPARAMS, bBuffer), out.end());
    return true;
}
} // namespace

DiskHealth diskHealth(uint32_t n) {
    DiskHealth none;
    const std::wstring name = L"\\\\.\\PhysicalDrive" + std::to_wstring(n);
    const HANDLE disk =
        CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    if (disk == INVALID_HANDLE_VALUE) {
        none.why = failure(("PhysicalDrive" + std::to_string(n) + " cannot be opened").c_str());
        return none;
    }
    std::string nvmeWhy;
    DiskHealth health = nvmeHealth(disk, nvmeWhy);
    if (health.kind == DiskHealth::Kind::None) {
        std::vector<BYTE> data, thresholds;
        if (smartSector(disk, READ_ATTRIBUTES, data, none.why) &&
            smartSector(disk, READ_THRESHOLDS, thresholds, none.why)) {
            health = decodeAtaSmart(data.data(), data.size(), thresholds.data(), thresholds.size());
            if (health.kind == DiskHealth::Kind::None)
                none.why = "the disk's SMART sectors fail their checksum";
        }
        if (health.kind == DiskHealth::Kind::None)
            health.why = nvmeWhy + "; " + none.why;
    }
    CloseHandle(disk);
    return health;
}

} // namespace platform
