#pragma once

#include <cstdint>
#include <span>

// CRC-32 register as the program computes it: reflected polynomial 0xEDB88320, start
// 0xFFFFFFFF, no final complement (CRC-32/JAMCRC). The tools keep their own copy so
// that they build without the program's libraries.
std::uint32_t RawCrc32(std::span<const std::uint8_t> bytes, std::uint32_t start = 0xFFFFFFFFu);
