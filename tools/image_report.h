#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "images/arithmetic_compression.h"
#include "images/byte_buffer.h"
#include "images/firmware_image.h"
#include "images/resource_source.h"

// What a release engineer needs to know of one carried image: is it there, how big is
// it packed and unpacked, and is what it unpacks to the image the build recorded.
struct SImageReport {
    std::uint32_t id = 0;
    bool found = false;
    std::size_t packed_size = 0;  // container bytes, length field included
    bool loaded = false;          // false: too short to hold a length, or no memory
    std::uint32_t stored_length = 0;
    std::uint32_t unpacked_length = 0;
    std::uint32_t crc = 0;  // CRC-32 register of the first min(unpacked, stored) bytes
    std::optional<SImageRecord> record;
    bool matches = false;  // unpacked to its stored length with the recorded length and CRC
};

// The ids a build carries, in the order they are listed.
constexpr std::array<std::uint32_t, 3> kCarriedImageIds{IDR_APPLICATION_IMAGE, IDR_BOOT_IMAGE, IDR_PICTURE};

// Room beyond the stored length for what a damaged stream may write.
constexpr std::uint32_t kInspectSlack = 1024;

// Unpacks image `id` into `image` and reports on it.
SImageReport InspectImage(CArithmeticCompression& decoder, const IResourceSource& resources,
                          IAllocator& allocator, std::uint32_t id, SFirmwareImage& image);

// Column titles and one line per report, for `image-inspect list`.
std::string ReportHeading();
std::string FormatReport(const SImageReport& report);

struct SImageListing {
    std::string table;  // heading and one report line per carried id
    bool all_match = false;
};

// Inspects every carried id of `resources` in turn.
SImageListing ListCarriedImages(CArithmeticCompression& decoder, const IResourceSource& resources,
                                IAllocator& allocator);
