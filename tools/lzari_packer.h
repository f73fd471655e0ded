#pragma once

#include <cstdint>
#include <span>
#include <vector>

// Off-line LZARI packer (LZ77 over a 4096-byte window, adaptive arithmetic coding of
// literals and match lengths, fixed distance-weighted coding of match positions) with
// N = 4096, F = 60, THRESHOLD = 2, M = 15.
//
// The result is the container the program carries: the raw length as 4 bytes
// little-endian, then the bit stream. It is byte for byte what the published 1989
// encoder writes with these constants, including its choice among equally long
// matches, so that a real image packed here reproduces the resource it came from.
//
// Throws std::length_error when raw holds 2^32 bytes or more (the length field has
// 32 bits).
std::vector<std::uint8_t> PackLzari(std::span<const std::uint8_t> raw);
