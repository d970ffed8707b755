#include "SystemFiles.h"

#include "ProcParsers.h"

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform::linux_files {

std::string underRoot(const std::string &root, const std::string &path) {
    if (root.empty() || root == "/")
        return path;
    if (root.back() == '/')
        return root.substr(0, root.size() - 1) + path;
    return root + path;
}

std::string readText(const std::string &path) {
    // Plain reads: a sysfs attribute whose driver refuses the read (the speed of a link that is
    // down) fails with EINVAL, which the standard streams would turn into an exception.
    const int file = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (file < 0)
        return {};
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t got = read(file, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            // What came before the failure is not a value.
            text.clear();
            break;
        }
        if (got == 0)
            break;
        text.append(buffer, static_cast<size_t>(got));
    }
    close(file);
    return text;
}

KernelFile::~KernelFile() {
    close();
}

void KernelFile::close() {
    if (descriptor >= 0)
        ::close(descriptor);
    descriptor = -1;
    openPath.clear();
}

std::pair<const char *, size_t> KernelFile::read(const std::string &path) {
    if (descriptor < 0 || path != openPath) {
        close();
        descriptor = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (descriptor < 0)
            return {nullptr, 0};
        openPath = path;
    }
    if (buffer.empty())
        buffer.resize(4096);
    for (;;) {
        // /proc files regenerate their text when read from offset 0, so the one descriptor
        // serves every reading. A file that cannot be read at an offset is read from a rewind.
        ssize_t got = pread(descriptor, buffer.data(), buffer.size(), 0);
        if (got < 0 && errno == ESPIPE && lseek(descriptor, 0, SEEK_SET) == 0)
            got = ::read(descriptor, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            close();
            return {nullptr, 0};
        }
        // A full buffer may hold only the start of the text: try again with twice the room.
        if (static_cast<size_t>(got) == buffer.size()) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        return {buffer.data(), static_cast<size_t>(got)};
    }
}

std::string readLine(const std::string &path) {
    const std::string text = readText(path);
    return linux_proc::trim(text.substr(0, text.find('\n')));
}

std::vector<std::string> directoryEntries(const std::string &path) {
    std::vector<std::string> names;
    DIR *directory = opendir(path.c_str());
    if (!directory)
        return names;
    while (const dirent *entry = readdir(directory)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    closedir(directory);
    std::sort(names.begin(), names.end());
    return names;
}

bool exists(const std::string &path) {
    struct stat status {};
    return stat(path.c_str(), &status) == 0;
}

std::string linkTarget(const std::string &path) {
    std::vector<char> buffer(4096);
    const ssize_t length = readlink(path.c_str(), buffer.data(), buffer.size());
    if (length <= 0 || static_cast<size_t>(length) >= buffer.size())
        return {};
    return std::string(buffer.data(), static_cast<size_t>(length));
}

} // namespace platform::linux_files
