#include "platform/StorageDescriptor.h"

namespace platform {

std::string descriptorText(const unsigned char *reply, std::size_t replySize,
                           std::size_t fieldPosition) {
    if (reply == nullptr || fieldPosition > replySize || replySize - fieldPosition < 4)
        return {};
    // Assembled byte by byte: the field need not be aligned, and the reply is little-endian
    // whatever the host is.
    const uint32_t offset =
        uint32_t(reply[fieldPosition]) | uint32_t(reply[fieldPosition + 1]) << 8 |
        uint32_t(reply[fieldPosition + 2]) << 16 | uint32_t(reply[fieldPosition + 3]) << 24;
    if (offset == 0 || offset >= replySize)
        return {};
    const unsigned char *begin = reply + offset;
    const unsigned char *end = reply + replySize;
    const unsigned char *stop = begin;
    while (stop != end && *stop != 0)
        ++stop;
    return std::string(reinterpret_cast<const char *>(begin), std::size_t(stop - begin));
}

} // namespace platform
