// Windows backend: the volumes of the physical disks, by letter and mount folder, and their
// space (GetDiskFreeSpaceExW).
#include "platform/Volumes.h"
#include "platform/windows/WindowsText.h"

#include <winioctl.h>

#include <algorithm>
#include <cstddef>
#include <cwchar>
#include <vector>

namespace platform {

namespace {

// The physical disks a volume lies on, from its extents: one for a plain volume, several for a
// spanned or striped dynamic volume; a volume of a dynamic disk or a virtual drive answers
// there where it has no device number. A volume that answers only the device-number request
// is taken by that. Empty for a volume that is no disk's. Asked with no access rights, which
// neither request needs.
std::vector<uint32_t> disksOfVolume(std::wstring volume) {
    if (!volume.empty() && volume.back() == L'\\')
        volume.pop_back();
    const HANDLE device = CreateFileW(volume.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_EXISTING, 0, nullptr);
    if (device == INVALID_HANDLE_VALUE)
        return {};
    std::vector<uint32_t> disks;
    // Room for one extent first; the answer says how many there are when that is too little.
    std::vector<BYTE> buffer(sizeof(VOLUME_DISK_EXTENTS));
    DWORD returned = 0;
    for (;;) {
        const BOOL ok = DeviceIoControl(device, IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, nullptr, 0,
                                        buffer.data(), DWORD(buffer.size()), &returned, nullptr);
        const auto *extents = reinterpret_cast<const VOLUME_DISK_EXTENTS *>(buffer.data());
        if (ok) {
            for (DWORD i = 0; i < extents->NumberOfDiskExtents; ++i)
                disks.push_back(extents->Extents[i].DiskNumber);
            break;
        }
        const std::size_t needed = offsetof(VOLUME_DISK_EXTENTS, Extents) +
                                   std::size_t(extents->NumberOfDiskExtents) * sizeof(DISK_EXTENT);
        if (GetLastError() != ERROR_MORE_DATA || needed <= buffer.size())
            break;
        buffer.assign(needed, 0);
    }
    if (disks.empty()) {
        STORAGE_DEVICE_NUMBER number{};
        if (DeviceIoControl(device, IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, &number,
                            sizeof(number), &returned, nullptr) &&
            number.DeviceType == FILE_DEVICE_DISK)
            disks.push_back(number.DeviceNumber);
    }
    CloseHandle(device);
    std::sort(disks.begin(), disks.end());
    disks.erase(std::unique(disks.begin(), disks.end()), disks.end());
    return disks;
}

// Every path the volume is reachable at: its letter and the folders it is mounted on.
std::vector<std::wstring> pathsOfVolume(const std::wstring &volume) {
    DWORD length = 0;
    GetVolumePathNamesForVolumeNameW(volume.c_str(), nullptr, 0, &length);
    if (length == 0)
        return {};
    std::vector<wchar_t> names(length + 1, L'\0');
    if (!GetVolumePathNamesForVolumeNameW(volume.c_str(), names.data(), length, &length))
        return {};
    std::vector<std::wstring> paths;
    for (const wchar_t *name = names.data(); *name != L'\0'; name += std::wcslen(name) + 1)
        paths.emplace_back(name);
    return paths;
}

} // namespace

std::vector<VolumeSpace> volumesOfDisks() {
    std::vector<VolumeSpace> volumes;
    wchar_t name[MAX_PATH + 1] = {};
    const HANDLE search = FindFirstVolumeW(name, MAX_PATH);
    if (search == INVALID_HANDLE_VALUE)
        return volumes;
    do {
        const std::wstring volume = name;
        // Only fixed and removable disks: an optical drive's free space is no one's concern.
        const UINT type = GetDriveTypeW(volume.c_str());
        if (type != DRIVE_FIXED && type != DRIVE_REMOVABLE)
            continue;
        // A volume on several disks is listed under each.
        for (const uint32_t disk : disksOfVolume(volume))
            for (const std::wstring &path : pathsOfVolume(volume)) {
                VolumeSpace listed;
                listed.path = wideToUtf8(path.data(), path.size());
                listed.disk = disk;
                volumes.push_back(std::move(listed));
            }
    } while (FindNextVolumeW(search, name, MAX_PATH));
    FindVolumeClose(search);
    std::sort(volumes.begin(), volumes.end(), [](const VolumeSpace &a, const VolumeSpace &b) {
        return a.disk != b.disk ? a.disk < b.disk : a.path < b.path;
    });
    return volumes;
}

std::optional<Space> volumeSpace(const std::string &path) {
    const std::wstring wide = utf8ToWide(path);
    ULARGE_INTEGER freeToCaller{}, total{}, totalFree{};
    // A volume that refuses (a card reader without a card) is no volume to show.
    if (!GetDiskFreeSpaceExW(wide.c_str(), &freeToCaller, &total, &totalFree))
        return std::nullopt;
    return Space{total.QuadPart, freeToCaller.QuadPart};
}

} // namespace platform
