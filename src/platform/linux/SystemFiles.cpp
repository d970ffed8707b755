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
