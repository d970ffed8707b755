// Files of the web root, opened so that the caller can tell where the open file really lies:
// after symbolic links, junctions and drive mappings, not where its name seemed to point.
#include "platform/Platform.h"

#ifdef _WIN32
#include "platform/windows/WindowsText.h"
#include <fcntl.h>
#include <io.h>
#else
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#ifdef _WIN32
#include <cwctype>
#include <vector>
#endif

namespace platform {

#ifdef _WIN32
namespace {
// "\\?\C:\dir" or "\\?\UNC\server\share\dir" as the usual "C:/dir" or "//server/share/dir".
std::string finalPathOfHandle(HANDLE handle) {
    std::wstring path(MAX_PATH, L'\0');
    DWORD length = GetFinalPathNameByHandleW(handle, &path[0], DWORD(path.size()),
                                             FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length >= path.size()) {
        path.resize(length + 1);
        length = GetFinalPathNameByHandleW(handle, &path[0], DWORD(path.size()),
                                           FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    }
    if (length == 0 || length >= path.size())
        return {};
    path.resize(length);
    if (path.compare(0, 8, L"\\\\?\\UNC\\") == 0)
        path = L"\\\\" + path.substr(8);
    else if (path.compare(0, 4, L"\\\\?\\") == 0)
        path = path.substr(4);
    std::replace(path.begin(), path.end(), L'\\', L'/');
    return wideToUtf8(path.data(), path.size());
}
} // namespace

// The path in the "\\?\" form: absolute, with backslashes, "." and ".." resolved here, so that
// the file system gets every name as it is. Without the prefix the Win32 layer would open a
// device for a reserved name such as COM1 or NUL in any directory, and drop a final dot or
// blank from a name; with it, such names are only names. Empty for a path that cannot be made
// absolute this way (a drive-relative "C:dir").
std::wstring extendedPath(const std::string &path) {
    std::wstring wide = utf8ToWide(path);
    std::replace(wide.begin(), wide.end(), L'/', L'\\');
    if (wide.compare(0, 4, L"\\\\?\\") == 0 || wide.compare(0, 4, L"\\\\.\\") == 0)
        return wide;
    std::wstring root;
    std::wstring rest;
    const bool drive = wide.size() >= 2 && wide[1] == L':' && iswalpha(wide[0]);
    if (drive && wide.size() >= 3 && wide[2] == L'\\') {
        root = L"\\\\?\\" + wide.substr(0, 2);
        rest = wide.substr(2);
    } else if (wide.compare(0, 2, L"\\\\") == 0) {
        // \\server\share: both names belong to the root.
        const std::size_t server = wide.find(L'\\', 2);
        const std::size_t share =
            server == std::wstring::npos ? server : wide.find(L'\\', server + 1);
        root = L"\\\\?\\UNC\\" + wide.substr(2, share == std::wstring::npos ? share : share - 2);
        rest = share == std::wstring::npos ? std::wstring() : wide.substr(share);
    } else if (drive) {
        return {};
    } else {
        // Relative to the current directory, or to the root of its drive.
        std::wstring current(GetCurrentDirectoryW(0, nullptr), L'\0');
        const DWORD length = GetCurrentDirectoryW(DWORD(current.size()), &current[0]);
        if (length == 0 || length >= current.size())
            return {};
        current.resize(length);
        if (wide.compare(0, 1, L"\\") == 0)
            current = current.substr(0, 2);
        const std::string joined = wideToUtf8(current.data(), current.size()) + "\\" + path;
        return current.size() >= 2 && current[1] == L':' ? extendedPath(joined) : std::wstring();
    }
    std::vector<std::wstring> names;
    for (std::size_t from = 0; from <= rest.size();) {
        std::size_t end = rest.find(L'\\', from);
        if (end == std::wstring::npos)
            end = rest.size();
        const std::wstring name = rest.substr(from, end - from);
        if (name == L"..") {
            if (!names.empty())
                names.pop_back();
        } else if (!name.empty() && name != L".") {
            names.push_back(name);
        }
        from = end + 1;
    }
    std::wstring result = root;
    for (const std::wstring &name : names)
        result += L"\\" + name;
    if (names.empty())
        result += L"\\";
    return result;
}

int openRegularFile(const std::string &path, int64_t *size) {
    const HANDLE handle = CreateFileW(extendedPath(path).c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return -1;
    // Without backup semantics a directory does not open at all; devices and pipes do.
    BY_HANDLE_FILE_INFORMATION info = {};
    if (GetFileType(handle) != FILE_TYPE_DISK || !GetFileInformationByHandle(handle, &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        CloseHandle(handle);
        return -1;
    }
    const int descriptor = _open_osfhandle(intptr_t(handle), _O_RDONLY | _O_BINARY);
    if (descriptor < 0)
        CloseHandle(handle);
    else if (size)
        *size = int64_t((uint64_t(info.nFileSizeHigh) << 32) | info.nFileSizeLow);
    return descriptor;
}

int64_t readFile(int descriptor, char *buffer, int64_t size) {
    // The C runtime reads at most INT_MAX bytes at once.
    return _read(descriptor, buffer, unsigned(std::min<int64_t>(size, 1 << 30)));
}

std::string finalPathOfFile(int descriptor) {
    const intptr_t handle = _get_osfhandle(descriptor);
    if (handle == -1)
        return {};
    return finalPathOfHandle(reinterpret_cast<HANDLE>(handle));
}

std::string finalPathOfDirectory(const std::string &path) {
    const HANDLE handle = CreateFileW(extendedPath(path).c_str(), 0,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return {};
    std::string result = finalPathOfHandle(handle);
    CloseHandle(handle);
    return result;
}

void closeFile(int descriptor) {
    _close(descriptor);
}
#else
int openRegularFile(const std::string &path, int64_t *size) {
    // Non-blocking, so that a FIFO cannot hold the caller in open() waiting for a writer. The
    // mode stays: it means nothing to the reads of a regular file.
    const int descriptor = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0)
        return -1;
    struct stat info;
    if (fstat(descriptor, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(descriptor);
        return -1;
    }
    if (size)
        *size = int64_t(info.st_size);
    return descriptor;
}

int64_t readFile(int descriptor, char *buffer, int64_t size) {
    for (;;) {
        const ssize_t got = read(descriptor, buffer, size_t(size));
        if (got >= 0 || errno != EINTR)
            return got;
    }
}

std::string finalPathOfFile(int descriptor) {
    char target[PATH_MAX];
    const std::string link = "/proc/self/fd/" + std::to_string(descriptor);
    const ssize_t length = readlink(link.c_str(), target, sizeof target);
    if (length <= 0 || size_t(length) >= sizeof target)
        return {};
    return std::string(target, size_t(length));
}

std::string finalPathOfDirectory(const std::string &path) {
    char resolved[PATH_MAX];
    if (!realpath(path.c_str(), resolved))
        return {};
    struct stat info;
    if (stat(resolved, &info) != 0 || !S_ISDIR(info.st_mode))
        return {};
    return resolved;
}

void closeFile(int descriptor) {
    close(descriptor);
}
#endif

} // namespace platform
