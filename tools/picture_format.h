#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

// The stand-in picture format: one byte per pixel with a 256-entry palette, laid out
// as the program carries its picture (64 + 1024 + 800 * 480 = 385,088 bytes).
//
// Header, 64 bytes, every field little-endian:
//   offset  size  field
//        0     4  magic "PIC8"
//        4     2  header size in bytes (64)
//        6     2  format version (1)
//        8     2  width in pixels (800)
//       10     2  height in pixels (480)
//       12     2  bits per pixel (8)
//       14     2  palette entries (256)
//       16     4  palette offset (64)
//       20     4  pixel offset (1088)
//       24     4  pixel bytes (384,000)
//       28     4  row stride in bytes (800)
//       32    32  reserved, zero
// Palette: entries of 4 bytes each, red, green, blue, 0.
// Pixels: rows from top to bottom, each pixel a palette index.

constexpr std::uint32_t kPictureWidth = 800;
constexpr std::uint32_t kPictureHeight = 480;
constexpr std::uint32_t kPictureHeaderSize = 64;
constexpr std::uint32_t kPicturePaletteEntries = 256;
constexpr std::uint32_t kPicturePaletteOffset = kPictureHeaderSize;
constexpr std::uint32_t kPicturePixelOffset = kPicturePaletteOffset + 4 * kPicturePaletteEntries;
constexpr std::uint32_t kPictureSize = kPicturePixelOffset + kPictureWidth * kPictureHeight;

struct SPictureInfo {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t palette_entries = 0;
    std::uint32_t palette_offset = 0;
    std::uint32_t pixel_offset = 0;
    std::uint32_t stride = 0;
};

// Writes the header for an 800 x 480 picture with a full palette.
void WritePictureHeader(std::span<std::uint8_t, kPictureHeaderSize> header);

// Reads and checks a header: nothing when the bytes are not such a picture or when a
// palette or pixel area would lie outside them.
std::optional<SPictureInfo> ParsePicture(std::span<const std::uint8_t> bytes);

// Binary PPM (P6) of a parsed picture, for people to look at; pixels that name a
// missing palette entry come out black.
std::vector<std::uint8_t> PictureToPpm(std::span<const std::uint8_t> bytes, const SPictureInfo& info);
