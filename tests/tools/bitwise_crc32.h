#pragma once

#include <cstdint>
#include <span>

// CRC-32 register one bit at a time, written apart from the table code it checks:
// reflected polynomial 0xEDB88320, start 0xFFFFFFFF, no final complement.
inline std::uint32_t BitwiseCrc32(std::span<const std::uint8_t> bytes) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (const std::uint8_t b : bytes) {
        crc ^= b;
        for (int bit = 0; bit < 8; ++bit) {
            const std::uint32_t mask = 0u - (crc & 1u);
            crc = (crc >> 1) ^ (0xEDB88320u & mask);
        }
    }
    return crc;
}
