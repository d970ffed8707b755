// The texts of a storage device-description reply, read the way the disk scan reads them.
#define CHECK_MAIN
#include "check.h"

#include "platform/StorageDescriptor.h"

#include <cstring>
#include <vector>

namespace {

using platform::DESCRIPTOR_PRODUCT_ID;
using platform::DESCRIPTOR_PRODUCT_REVISION;
using platform::DESCRIPTOR_SERIAL_NUMBER;
using platform::descriptorText;

// Stores `offset` little-endian in the descriptor field at `field` and `text` at that offset.
void place(std::vector<unsigned char> &reply, std::size_t field, uint32_t offset,
           const char *text = "") {
    for (int i = 0; i < 4; ++i)
        reply[field + i] = static_cast<unsigned char>(offset >> (8 * i));
    if (offset < reply.size())
        std::memcpy(reply.data() + offset, text, std::strlen(text));
}

std::string read(const std::vector<unsigned char> &reply, std::size_t field) {
    return descriptorText(reply.data(), reply.size(), field);
}

} // namespace

TEST_CASE("each text is read from its own offset, bytes and blanks as stored") {
    std::vector<unsigned char> reply(1024, 0);
    place(reply, DESCRIPTOR_PRODUCT_ID, 0x40, "Disk \xe9\xfc 1TB");
    place(reply, DESCRIPTOR_PRODUCT_REVISION, 0x60, "01.01A01");
    // Trimming is the caller's: the layer hands over the text as the device stored it.
    place(reply, DESCRIPTOR_SERIAL_NUMBER, 0x70, "   S3Z9NB0K  \t");
    CHECK_EQ(read(reply, DESCRIPTOR_PRODUCT_ID), std::string("Disk \xe9\xfc 1TB"));
    CHECK_EQ(read(reply, DESCRIPTOR_PRODUCT_REVISION), std::string("01.01A01"));
    CHECK_EQ(read(reply, DESCRIPTOR_SERIAL_NUMBER), std::string("   S3Z9NB0K  \t"));
}

TEST_CASE("an offset of 0 or outside the reply gives no text") {
    std::vector<unsigned char> reply(1024, 'x');
    // Offset 0 means the device has no such text; the reply's first bytes are not one.
    place(reply, DESCRIPTOR_SERIAL_NUMBER, 0);
    CHECK_EQ(read(reply, DESCRIPTOR_SERIAL_NUMBER), std::string());
    for (uint32_t offset : {1024u, 1025u, 0x7fffffffu, 0xffffffffu}) {
        place(reply, DESCRIPTOR_PRODUCT_ID, offset);
        CHECK_EQ(read(reply, DESCRIPTOR_PRODUCT_ID), std::string());
    }
    // A reply too short to hold the field at all.
    const std::vector<unsigned char> shortReply(26, 'x');
    CHECK_EQ(read(shortReply, DESCRIPTOR_SERIAL_NUMBER), std::string());
    CHECK_EQ(descriptorText(shortReply.data(), 0, DESCRIPTOR_PRODUCT_ID), std::string());
}

TEST_CASE("a text without its terminator ends at the end of the reply") {
    // Exactly sized, so that a read past the last byte is caught by the address sanitizer.
    std::vector<unsigned char> reply(64, 0);
    place(reply, DESCRIPTOR_PRODUCT_ID, 56, "ABCDEFGH");
    CHECK_EQ(read(reply, DESCRIPTOR_PRODUCT_ID), std::string("ABCDEFGH"));
    place(reply, DESCRIPTOR_SERIAL_NUMBER, 63, "Z");
    CHECK_EQ(read(reply, DESCRIPTOR_SERIAL_NUMBER), std::string("Z"));
}
