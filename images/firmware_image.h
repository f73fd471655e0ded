#pragma once

#include <cstdint>

#include "images/arithmetic_compression.h"
#include "images/byte_buffer.h"
#include "images/resource_source.h"

// One unpacked image, owned by the stage that loaded it.
struct SFirmwareImage {
    ByteBuffer data;                 // image bytes followed by the slack; null when loading failed
    std::uint32_t capacity = 0;      // bytes in data: stored length + slack
    std::uint32_t length = 0;        // bytes the decoder wrote
    std::uint32_t storedLength = 0;  // the length the container declares

    bool Empty() const { return data == nullptr; }
};

// Finds resource `id`, allocates its stored length + `slack` bytes and unpacks it with
// `decoder`. Empty result when the resource is missing, shorter than 4 bytes, when
// length + slack does not fit in 32 bits, when slack is below 59 (the most a damaged
// stream may write beyond the stored length), or when the allocation fails; an empty
// result has unpacked nothing. Never reads outside the resource. A stored length of 0
// gives a non-empty image of length 0.
SFirmwareImage LoadFirmwareImage(CArithmeticCompression& decoder, std::uint32_t id, std::uint32_t slack,
                                 const IResourceSource& resources, IAllocator& allocator);

// True when `image` is exactly the one the build recorded for `id`: it unpacked to its
// stored length, that length is the recorded one and its CRC-32 register (`crc`,
// computed by the caller over the `length` bytes) is the recorded value. False for an
// empty (failed) load and when the build made no record for `id`.
bool IsRecordedImage(const SFirmwareImage& image, std::uint32_t crc, std::uint32_t id,
                     const IResourceSource& resources);
