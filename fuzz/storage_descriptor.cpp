// The texts of a storage device-description reply, which the device and its driver fill in.
//
// Input: the reply. Its size is exact (libFuzzer hands over a buffer of just that length), so
// that AddressSanitizer sees any read beyond it.
#include "FuzzCheck.h"
#include "platform/StorageDescriptor.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace {

void checkText(const uint8_t *reply, size_t size, size_t fieldPosition) {
    const std::string text = platform::descriptorText(reply, size, fieldPosition);
    FUZZ_CHECK(text.size() < size || text.empty());
    FUZZ_CHECK(text.find('\0') == std::string::npos);
    if (text.empty())
        return;
    // The text is the reply's bytes at the stored offset, up to a NUL or the reply's end.
    const size_t offset = size_t(reply[fieldPosition]) | size_t(reply[fieldPosition + 1]) << 8 |
                          size_t(reply[fieldPosition + 2]) << 16 |
                          size_t(reply[fieldPosition + 3]) << 24;
    FUZZ_CHECK(offset + text.size() <= size);
    FUZZ_CHECK(std::memcmp(reply + offset, text.data(), text.size()) == 0);
    FUZZ_CHECK(offset + text.size() == size || reply[offset + text.size()] == 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    for (size_t position : {platform::DESCRIPTOR_PRODUCT_ID, platform::DESCRIPTOR_PRODUCT_REVISION,
                            platform::DESCRIPTOR_SERIAL_NUMBER})
        checkText(data, size, position);
    // Positions at and past the end, and one whose sum with the field width overflows.
    for (size_t back = 0; back <= 4 && back <= size; ++back)
        checkText(data, size, size - back);
    FUZZ_CHECK(platform::descriptorText(data, size, SIZE_MAX - 1).empty());
    FUZZ_CHECK(platform::descriptorText(nullptr, size, 16).empty());
    return 0;
}
