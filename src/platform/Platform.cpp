#include "platform/Platform.h"

#include <mutex>

namespace platform {

namespace {
// Guarded by rootMutex: set at start-up or by a test, read by every Linux reader. Never
// destroyed: a volume's reader thread, left waiting on a file system, may ask while the
// process exits.
std::mutex rootMutex;
std::string &root = *new std::string("/");
} // namespace

void setRootDirectory(const std::string &directory) {
    std::lock_guard<std::mutex> lock(rootMutex);
    root = directory;
}

std::string rootDirectory() {
    std::lock_guard<std::mutex> lock(rootMutex);
    return root;
}

} // namespace platform
