#pragma once

#include <cstdint>

// The 32-byte header that opens every packet to and from the writer. All fields are
// little-endian and are moved byte by byte, never by casting a struct onto a buffer:
// the 32-bit sequence at offset 2 leaves the later fields unaligned.

constexpr std::uint16_t PACKET_MAGIC = 0x5643;  // "CV" on the wire
constexpr std::uint32_t USB_HEADER_SIZE = 32;
constexpr std::uint32_t MAX_PAYLOAD_SIZE = 65536;
constexpr std::uint32_t PACKET_BUFFER_SIZE = USB_HEADER_SIZE + MAX_PAYLOAD_SIZE;  // 65568
constexpr std::uint32_t USB_PARAMETER_COUNT = 5;

struct SUsbHeader {
    std::uint16_t magic = 0;
    std::uint32_t sequence = 0;
    std::uint16_t command = 0;
    std::uint32_t length = 0;
    std::uint32_t parameter[USB_PARAMETER_COUNT] = {};
};

// Byte offsets of the header fields.
constexpr std::uint32_t HEADER_OFFSET_MAGIC = 0;
constexpr std::uint32_t HEADER_OFFSET_SEQUENCE = 2;
constexpr std::uint32_t HEADER_OFFSET_COMMAND = 6;
constexpr std::uint32_t HEADER_OFFSET_LENGTH = 8;
constexpr std::uint32_t HEADER_OFFSET_PARAMETER = 12;

inline std::uint16_t ReadLittleEndian16(const std::uint8_t* bytes) {
    return static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8));
}

inline std::uint32_t ReadLittleEndian32(const std::uint8_t* bytes) {
    return static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8) |
           (static_cast<std::uint32_t>(bytes[2]) << 16) | (static_cast<std::uint32_t>(bytes[3]) << 24);
}

inline void WriteLittleEndian16(std::uint8_t* bytes, std::uint16_t value) {
    bytes[0] = static_cast<std::uint8_t>(value);
    bytes[1] = static_cast<std::uint8_t>(value >> 8);
}

inline void WriteLittleEndian32(std::uint8_t* bytes, std::uint32_t value) {
    bytes[0] = static_cast<std::uint8_t>(value);
    bytes[1] = static_cast<std::uint8_t>(value >> 8);
    bytes[2] = static_cast<std::uint8_t>(value >> 16);
    bytes[3] = static_cast<std::uint8_t>(value >> 24);
}

// `bytes` must hold USB_HEADER_SIZE bytes.
SUsbHeader ReadUsbHeader(const std::uint8_t* bytes);
void WriteUsbHeader(std::uint8_t* bytes, const SUsbHeader& header);
