// Windows backend: the volumes of the physical disks, by letter and mount folder, and their
// space (GetDiskFreeSpaceExW).
#include "platform/Volumes.h"
#include "platform/windows/WindowsText.h"

#include <winioctl.h>

#include <algorithm>
#include <cwchar>
#include <vector>

namespace platform {

namespace {

// The physical disk a volume lies on; false for a volume spread over several disks (a
// spanned or striped dynamic volume) or one that is no disk's. Asked with no access rights,
// which the device-number request does not need.
bool diskOfVolume(std::wstring volume, uint32_t &disk) {
    if (!volume.empty() && volume.back() == L'\\')
        volume.pop_back();
    const HANDLE device = CreateFileW(volume.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_EXISTING, 0, nullptr);
    if (device == INVALID_HANDLE_VALUE)
        return false;
    STORAGE_DEVICE_NUMBER number{};
    DWORD returned = 0;
    const BOOL ok = DeviceIoControl(device, IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, &number,
                                    sizeof(number), &returned, nullptr);
    CloseHandle(device);
    if (!ok || number.DeviceType != FILE_DEVICE_DISK)
        return false;
    disk = number.DeviceNumber;
    return true;
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
        uint32_t disk = 0;
        // Only fixed and removable disks: an optical drive's free space is no one's concern.
        const UINT type = GetDriveTypeW(volume.c_str());
        if ((type != DRIVE_FIXED && type != DRIVE_REMOVABLE) || !diskOfVolume(volume, disk))
            continue;
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
