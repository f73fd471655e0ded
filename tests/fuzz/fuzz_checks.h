#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The checks of the fuzz targets, shared with the regression tests in tests/images/
// that replay every input a fuzzer ever failed on. Each returns an empty text when
// the input kept the contract, else what went wrong.
namespace tessel_fuzz {

// Input: 4 bytes little-endian text_size (taken modulo 64 KiB + 1), then the stream.
// Decodes from an exact-size copy into an exact-size text_size + 59 buffer.
std::string CheckDecode(const std::uint8_t* data, std::size_t size);

// Input: a whole container, served as resource 169 by a one-resource source, loaded
// with a slack of 1024 by an allocator that refuses more than 64 KiB + slack.
std::string CheckLoadImage(const std::uint8_t* data, std::size_t size);

}  // namespace tessel_fuzz
