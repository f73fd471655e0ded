#include <gtest/gtest.h>

#include <cstring>

#include "usb/usb_header.h"

TEST(UsbHeader, WritesEveryFieldLittleEndianAtItsOffset) {
    SUsbHeader header;
    header.magic = PACKET_MAGIC;
    header.sequence = 0x04030201;
    header.command = 0xE01C;
    header.length = 0x0000A0B0;
    for (std::uint32_t i = 0; i < USB_PARAMETER_COUNT; ++i) {
        header.parameter[i] = 0x11111111u * (i + 1);
    }
    std::uint8_t bytes[USB_HEADER_SIZE] = {};
    WriteUsbHeader(bytes, header);

    const std::uint8_t expected[USB_HEADER_SIZE] = {
        0x43, 0x56,                                      // magic "CV"
        0x01, 0x02, 0x03, 0x04,                          // sequence, 32 bits at offset 2
        0x1C, 0xE0,                                      // command at offset 6
        0xB0, 0xA0, 0x00, 0x00,                          // length at offset 8
        0x11, 0x11, 0x11, 0x11, 0x22, 0x22, 0x22, 0x22,  // parameters 0 and 1
        0x33, 0x33, 0x33, 0x33, 0x44, 0x44, 0x44, 0x44,  // parameters 2 and 3
        0x55, 0x55, 0x55, 0x55};                         // parameter 4
    EXPECT_EQ(0, std::memcmp(bytes, expected, USB_HEADER_SIZE));

    const SUsbHeader back = ReadUsbHeader(bytes);
    EXPECT_EQ(back.magic, header.magic);
    EXPECT_EQ(back.sequence, header.sequence);
    EXPECT_EQ(back.command, header.command);
    EXPECT_EQ(back.length, header.length);
    for (std::uint32_t i = 0; i < USB_PARAMETER_COUNT; ++i) {
        EXPECT_EQ(back.parameter[i], header.parameter[i]);
    }
}
