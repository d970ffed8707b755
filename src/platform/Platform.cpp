#include "platform/Platform.h"

#include <mutex>

namespace platform {

namespace {
// Guarded by rootMutex: set at start-up or by a test, read by every Linux reader.
std::mutex rootMutex;
std::string root = "/";
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
