// Reading the kernel's files below the root directory (the live system or a fixture tree).
// Every function reports failure as an empty result; none throws.
#pragma once

#include <string>
#include <vector>

namespace platform::linux_files {

// root joined with an absolute path ("/proc/stat"), without a doubled slash.
std::string underRoot(const std::string &root, const std::string &path);
// The whole file; empty when it cannot be read. /proc files report a size of 0, so the file is
// read to its end rather than by its size.
std::string readText(const std::string &path);
// One kernel file read again and again: opened once and read from its start with one pread
// into a buffer kept from read to read, so that a reading each second costs one system call and
// no allocation once the buffer has grown to the file's size. Not safe to share between
// threads; its owner guards it.
class KernelFile {
public:
    KernelFile() = default;
    ~KernelFile();
    KernelFile(const KernelFile &) = delete;
    KernelFile &operator=(const KernelFile &) = delete;

    // The file's whole text now (not terminated); empty when it cannot be read. A new path
    // closes the old file first.
    std::pair<const char *, size_t> read(const std::string &path);

private:
    void close();

    std::string openPath;
    int descriptor = -1;
    std::vector<char> buffer;
};

// The first line of a file, blanks removed: the shape of nearly every sysfs attribute.
std::string readLine(const std::string &path);
// The names in a directory, sorted, without "." and "..".
std::vector<std::string> directoryEntries(const std::string &path);
bool exists(const std::string &path);
// The target of a symbolic link; empty when path is not one.
std::string linkTarget(const std::string &path);

} // namespace platform::linux_files
