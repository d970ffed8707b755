// Windows backend: network adapters (IP Helper) and physical disks and their volumes
// (device I/O control).
// GetIfEntry2 and its row are declared from Windows Vista on.
#if !defined(_WIN32_WINNT) || _WIN32_WINNT < 0x0600
#undef _WIN32_WINNT
#define _WIN32_WINNT 0x0600
#endif
#include <winsock2.h>
#include <ws2ipdef.h>

#include "platform/DeviceRules.h"
#include "platform/Platform.h"
#include "platform/StorageDescriptor.h"
#include "platform/windows/WindowsText.h"

#include <iphlpapi.h>
#include <netioapi.h>
#include <winioctl.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace platform {

namespace {
// Large enough for any descriptor a disk returns with its texts, and for a device number.
constexpr DWORD REPLY_SIZE = 1024;

// For reading and writing, or with no access rights when that is refused; invalid when the
// device does not exist or opens in neither way.
HANDLE openDeviceHandle(const std::wstring &name) {
    HANDLE handle = INVALID_HANDLE_VALUE;
    openDevice([&](DeviceAccess access) {
        const DWORD rights = access == DeviceAccess::ReadWrite ? GENERIC_READ | GENERIC_WRITE : 0;
        handle = CreateFileW(name.c_str(), rights, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, 0, nullptr);
        if (handle != INVALID_HANDLE_VALUE)
            return OpenOutcome::Opened;
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
                   ? OpenOutcome::Missing
                   : OpenOutcome::Refused;
    });
    return handle;
}

std::wstring diskName(uint32_t n) {
    return L"\\\\.\\PhysicalDrive" + std::to_wstring(n);
}

DriveType driveTypeOf(char letter) {
    const wchar_t root[] = {wchar_t(letter), L':', L'\\', L'\0'};
    const UINT type = GetDriveTypeW(root);
    return type <= UINT(DriveType::RamDisk) ? DriveType(type) : DriveType::Unknown;
}

std::string descriptorTextUtf8(const unsigned char *reply, std::size_t fieldPosition) {
    const std::string text = descriptorText(reply, REPLY_SIZE, fieldPosition);
    return localToUtf8(text.data(), text.size());
}
} // namespace

std::vector<Adapter> adapters() {
    std::vector<Adapter> result;
    ULONG size = 0;
    GetAdaptersInfo(nullptr, &size);
    if (size == 0)
        return result;
    // Whole entries, so that the list is aligned as its structure needs. The list can grow
    // between two calls (an adapter plugged in): then the call says the size it needs now,
    // and is made again with that.
    std::vector<IP_ADAPTER_INFO> buffer;
    ULONG status = ERROR_BUFFER_OVERFLOW;
    for (int attempt = 0; attempt < 4 && status == ERROR_BUFFER_OVERFLOW; ++attempt) {
        buffer.assign((size + sizeof(IP_ADAPTER_INFO) - 1) / sizeof(IP_ADAPTER_INFO),
                      IP_ADAPTER_INFO{});
        size = ULONG(buffer.size() * sizeof(IP_ADAPTER_INFO));
        status = GetAdaptersInfo(buffer.data(), &size);
    }
    if (status != ERROR_SUCCESS)
        return result;
    for (const IP_ADAPTER_INFO *entry = buffer.data(); entry != nullptr; entry = entry->Next) {
        Adapter adapter;
        adapter.description = fieldToUtf8(entry->Description);
        adapter.counterInstance = counterInstanceName(adapter.description);
        adapter.address = fieldToUtf8(entry->IpAddressList.IpAddress.String);
        adapter.mask = fieldToUtf8(entry->IpAddressList.IpMask.String);
        adapter.gateway = fieldToUtf8(entry->GatewayList.IpAddress.String);
        adapter.index = entry->Index;
        MIB_IFROW row{};
        row.dwIndex = entry->Index;
        if (GetIfEntry(&row) == NO_ERROR) {
            adapter.speed = row.dwSpeed;
            adapter.inOctets = row.dwInOctets;
            adapter.outOctets = row.dwOutOctets;
        }
        // The row's speed stops at 4.29 Gb/s; the newer row holds a link's whole speed.
        MIB_IF_ROW2 wide{};
        wide.InterfaceIndex = entry->Index;
        constexpr ULONG64 unknownSpeed = ~ULONG64(0);
        if (GetIfEntry2(&wide) == NO_ERROR) {
            const ULONG64 speed = std::max(wide.ReceiveLinkSpeed, wide.TransmitLinkSpeed);
            if (speed != unknownSpeed && speed > adapter.speed)
                adapter.speed = speed;
            adapter.running = wide.OperStatus == IfOperStatusUp &&
                              wide.MediaConnectState != MediaConnectStateDisconnected;
        }
        result.push_back(std::move(adapter));
    }
    return result;
}

std::vector<uint32_t> physicalDiskNumbers() {
    return scanDiskNumbers([](uint32_t n) {
        const HANDLE disk = openDeviceHandle(diskName(n));
        if (disk == INVALID_HANDLE_VALUE)
            return false;
        CloseHandle(disk);
        return true;
    });
}

std::string diskSystemName(uint32_t n) {
    return "PhysicalDrive" + std::to_string(n);
}

bool physicalDisk(uint32_t n, DiskIdentity &identity) {
    identity = DiskIdentity();
    const HANDLE disk = openDeviceHandle(diskName(n));
    if (disk == INVALID_HANDLE_VALUE)
        return false;
    STORAGE_PROPERTY_QUERY query{};
    static_assert(sizeof(query) == 12, "the standard property query is 12 bytes");
    query.PropertyId = StorageDeviceProperty;
    query.QueryType = PropertyStandardQuery;
    unsigned char reply[REPLY_SIZE] = {};
    DWORD returned = 0;
    // A failed request leaves the zeroed reply, whose offsets all read as "no text".
    DeviceIoControl(disk, IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof(query), reply, REPLY_SIZE,
                    &returned, nullptr);
    identity.model = descriptorTextUtf8(reply, DESCRIPTOR_PRODUCT_ID);
    identity.serial = descriptorTextUtf8(reply, DESCRIPTOR_SERIAL_NUMBER);
    identity.firmware = descriptorTextUtf8(reply, DESCRIPTOR_PRODUCT_REVISION);
    CloseHandle(disk);
    return true;
}

std::vector<std::string> volumesOfDisk(uint32_t n) {
    std::vector<std::string> volumes;
    for (char letter : volumeLettersToOpen(driveTypeOf)) {
        const HANDLE volume = openDeviceHandle(std::wstring(L"\\\\.\\") + wchar_t(letter) + L":");
        if (volume == INVALID_HANDLE_VALUE)
            continue;
        unsigned char reply[REPLY_SIZE] = {};
        DWORD returned = 0;
        DeviceIoControl(volume, IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, reply, REPLY_SIZE,
                        &returned, nullptr);
        CloseHandle(volume);
        // STORAGE_DEVICE_NUMBER: DeviceType at byte 0, DeviceNumber at byte 4.
        uint32_t deviceType = 0;
        uint32_t deviceNumber = 0;
        std::memcpy(&deviceType, reply, sizeof(deviceType));
        std::memcpy(&deviceNumber, reply + 4, sizeof(deviceNumber));
        if (deviceType == FILE_DEVICE_DISK && deviceNumber == n)
            volumes.push_back(std::string(1, letter) + ":\\");
    }
    return volumes;
}

std::vector<DriveLetter> driveLetters() {
    std::vector<DriveLetter> letters;
    const DWORD present = GetLogicalDrives();
    for (char letter = 'A'; letter <= 'Z'; ++letter)
        if (present & (DWORD(1) << (letter - 'A')))
            letters.push_back({letter, driveTypeOf(letter)});
    return letters;
}

} // namespace platform
