// Windows backend: network adapters (IP Helper) and physical disks and their volumes
// (device I/O control).
// GetIfEntry2 and its row are declared from Windows Vista on.
#if !defined(_WIN32_WINNT) || _WIN32_WINNT < 0x0600
#undef _WIN32_WINNT
#define _WIN32_WINNT 0x0600
#endif
#include <winsock2.h>
#include <ws2ipdef.h>

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

HANDLE openDevice(const std::wstring &name) {
    return CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
}

// The counter service's instance name for an adapter description: the characters that are
// special in a counter path replaced, "(" by "[", ")" by "]", "#" and "/" by "_".
std::string networkInstance(const std::string &description) {
    std::string instance = description;
    for (char &c : instance) {
        if (c == '(')
            c = '[';
        else if (c == ')')
            c = ']';
        else if (c == '#' || c == '/')
            c = '_';
    }
    return instance;
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
    // Whole entries, so that the list is aligned as its structure needs.
    std::vector<IP_ADAPTER_INFO> buffer((size + sizeof(IP_ADAPTER_INFO) - 1) /
                                        sizeof(IP_ADAPTER_INFO));
    ULONG capacity = size;
    // The list can grow between the two calls; then the second one fails and no entry list
    // exists to walk.
    if (GetAdaptersInfo(buffer.data(), &capacity) != ERROR_SUCCESS)
        return result;
    for (const IP_ADAPTER_INFO *entry = buffer.data(); entry != nullptr; entry = entry->Next) {
        Adapter adapter;
        adapter.description = fieldToUtf8(entry->Description);
        adapter.counterInstance = networkInstance(adapter.description);
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
    // Windows keeps a disk's number while it is attached, so a removed disk leaves a gap; the
    // numbers are probed until this many in a row are free. No access rights are asked for.
    constexpr uint32_t freeInARow = 16;
    std::vector<uint32_t> numbers;
    for (uint32_t n = 0, free = 0; free < freeInARow; ++n) {
        const std::wstring name = L"\\\\.\\PhysicalDrive" + std::to_wstring(n);
        const HANDLE disk = CreateFileW(name.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        nullptr, OPEN_EXISTING, 0, nullptr);
        if (disk == INVALID_HANDLE_VALUE) {
            ++free;
            continue;
        }
        CloseHandle(disk);
        free = 0;
        numbers.push_back(n);
    }
    return numbers;
}

bool physicalDisk(uint32_t n, DiskIdentity &identity) {
    identity = DiskIdentity();
    const HANDLE disk = openDevice(L"\\\\.\\PhysicalDrive" + std::to_wstring(n));
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
    for (char letter = 'C'; letter <= 'Z'; ++letter) {
        const HANDLE volume = openDevice(std::wstring(L"\\\\.\\") + wchar_t(letter) + L":");
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

std::string diskCounterInstance(uint32_t n, const std::vector<std::string> &volumes) {
    std::string instance = std::to_string(n);
    for (const std::string &root : volumes) {
        if (!root.empty())
            instance += std::string(" ") + root[0] + ":";
    }
    return instance;
}

} // namespace platform
