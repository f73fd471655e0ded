#include "tools/picture_format.h"

#include <algorithm>
#include <string>

namespace {

constexpr std::uint8_t kMagic[4] = {'P', 'I', 'C', '8'};

void Put16(std::span<std::uint8_t> at, std::uint32_t value) {
    at[0] = static_cast<std::uint8_t>(value);
    at[1] = static_cast<std::uint8_t>(value >> 8);
}

void Put32(std::span<std::uint8_t> at, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i) {
        at[i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

std::uint32_t Get16(std::span<const std::uint8_t> bytes, std::size_t offset) {
    return static_cast<std::uint32_t>(bytes[offset]) | (static_cast<std::uint32_t>(bytes[offset + 1]) << 8);
}

std::uint32_t Get32(std::span<const std::uint8_t> bytes, std::size_t offset) {
    return Get16(bytes, offset) | (Get16(bytes, offset + 2) << 16);
}

}  // namespace

void WritePictureHeader(std::span<std::uint8_t, kPictureHeaderSize> header) {
    std::fill(header.begin(), header.end(), std::uint8_t{0});
    std::copy(std::begin(kMagic), std::end(kMagic), header.begin());
    Put16(header.subspan(4), kPictureHeaderSize);
    Put16(header.subspan(6), 1);
    Put16(header.subspan(8), kPictureWidth);
    Put16(header.subspan(10), kPictureHeight);
    Put16(header.subspan(12), 8);
    Put16(header.subspan(14), kPicturePaletteEntries);
    Put32(header.subspan(16), kPicturePaletteOffset);
    Put32(header.subspan(20), kPicturePixelOffset);
    Put32(header.subspan(24), kPictureWidth * kPictureHeight);
    Put32(header.subspan(28), kPictureWidth);
}

std::optional<SPictureInfo> ParsePicture(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < kPictureHeaderSize ||
        !std::equal(std::begin(kMagic), std::end(kMagic), bytes.begin())) {
        return std::nullopt;
    }
    SPictureInfo info;
    info.width = Get16(bytes, 8);
    info.height = Get16(bytes, 10);
    info.palette_entries = Get16(bytes, 14);
    info.palette_offset = Get32(bytes, 16);
    info.pixel_offset = Get32(bytes, 20);
    info.stride = Get32(bytes, 28);
    if (Get16(bytes, 12) != 8 || info.width == 0 || info.height == 0 || info.palette_entries > 256 ||
        info.stride < info.width) {
        return std::nullopt;
    }
    // 64-bit sums: no field combination can wrap around.
    const std::uint64_t palette_end = std::uint64_t{info.palette_offset} + 4ull * info.palette_entries;
    const std::uint64_t pixel_end =
        std::uint64_t{info.pixel_offset} + std::uint64_t{info.stride} * (info.height - 1) + info.width;
    if (palette_end > bytes.size() || pixel_end > bytes.size()) {
        return std::nullopt;
    }
    return info;
}

std::vector<std::uint8_t> PictureToPpm(std::span<const std::uint8_t> bytes, const SPictureInfo& info) {
    const std::string head =
        "P6\n" + std::to_string(info.width) + " " + std::to_string(info.height) + "\n255\n";
    std::vector<std::uint8_t> ppm(head.begin(), head.end());
    ppm.reserve(ppm.size() + 3ull * info.width * info.height);
    for (std::uint32_t y = 0; y < info.height; ++y) {
        const std::size_t row = info.pixel_offset + std::size_t{info.stride} * y;
        for (std::uint32_t x = 0; x < info.width; ++x) {
            const std::uint32_t index = bytes[row + x];
            for (std::uint32_t channel = 0; channel < 3; ++channel) {
                ppm.push_back(index < info.palette_entries ? bytes[info.palette_offset + 4 * index + channel]
                                                           : 0);
            }
        }
    }
    return ppm;
}
