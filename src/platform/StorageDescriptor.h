// Texts inside the reply of a storage device-description request.
//
// The reply starts with a descriptor whose 32-bit little-endian fields at fixed positions
// (product id at byte 16, product revision at byte 20, serial number at byte 24) hold byte
// offsets, from the start of the reply, of zero-terminated 8-bit texts. Devices and drivers
// fill these replies themselves, so nothing in them is trusted: every read stays inside the
// reply. Plain C++, so that it is also built and tested where the device calls do not exist.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

constexpr std::size_t DESCRIPTOR_PRODUCT_ID = 16;
constexpr std::size_t DESCRIPTOR_PRODUCT_REVISION = 20;
constexpr std::size_t DESCRIPTOR_SERIAL_NUMBER = 24;

// The bytes of the text whose offset is stored at fieldPosition, in the reply's own 8-bit code
// page and untrimmed. Empty when the field does not lie inside the reply, when the offset is 0
// (the device has no such text) or when it points outside the reply. A text ends at its NUL or
// at the end of the reply, whichever comes first.
std::string descriptorText(const unsigned char *reply, std::size_t replySize,
                           std::size_t fieldPosition);

} // namespace platform
