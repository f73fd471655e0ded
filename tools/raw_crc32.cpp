#include "tools/raw_crc32.h"

#include <array>

namespace {

constexpr std::array<std::uint32_t, 256> MakeTable() {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t x = i;
        for (int bit = 0; bit < 8; ++bit) {
            x = (x & 1u) != 0 ? (x >> 1) ^ 0xEDB88320u : x >> 1;
        }
        table[i] = x;
    }
    return table;
}

constexpr std::array<std::uint32_t, 256> kTable = MakeTable();

}  // namespace

std::uint32_t RawCrc32(std::span<const std::uint8_t> bytes, std::uint32_t start) {
    std::uint32_t crc = start;
    for (const std::uint8_t b : bytes) {
        crc = (crc >> 8) ^ kTable[(crc ^ b) & 0xFFu];
    }
    return crc;
}
