#include "tools/version_resource.h"

#include <string_view>

namespace {

constexpr std::size_t kBlockHeaderSize = 6;  // wLength, wValueLength, wType
constexpr std::size_t kFixedInfoSize = 52;   // VS_FIXEDFILEINFO
constexpr std::uint32_t kFixedInfoSignature = 0xFEEF04BDu;
constexpr std::size_t kProductVersionOffset = 16;  // dwProductVersionMS; LS follows
constexpr std::string_view kKey = "VS_VERSION_INFO";

std::uint16_t U16(std::span<const std::uint8_t> bytes, std::size_t offset) {
    return static_cast<std::uint16_t>(bytes[offset] | (bytes[offset + 1] << 8));
}

std::uint32_t U32(std::span<const std::uint8_t> bytes, std::size_t offset) {
    return static_cast<std::uint32_t>(U16(bytes, offset)) |
           (static_cast<std::uint32_t>(U16(bytes, offset + 2)) << 16);
}

}  // namespace

std::optional<ProductVersion> ReadProductVersion(std::span<const std::uint8_t> record, std::string& error) {
    if (record.size() < kBlockHeaderSize) {
        error = "version record too short (" + std::to_string(record.size()) + " bytes)";
        return std::nullopt;
    }
    const std::size_t block_length = U16(record, 0);
    const std::size_t value_length = U16(record, 2);
    if (block_length < kBlockHeaderSize || block_length > record.size()) {
        error = "version block length " + std::to_string(block_length) + " does not fit its record of " +
                std::to_string(record.size()) + " bytes";
        return std::nullopt;
    }
    const std::span<const std::uint8_t> block = record.first(block_length);
    // The key is UTF-16, NUL-terminated; compare it without leaving the block.
    std::size_t at = kBlockHeaderSize;
    for (const char expected : kKey) {
        if (at + 2 > block.size() || U16(block, at) != static_cast<std::uint8_t>(expected)) {
            error = "version block has no VS_VERSION_INFO key";
            return std::nullopt;
        }
        at += 2;
    }
    if (at + 2 > block.size() || U16(block, at) != 0) {
        error = "version block has no VS_VERSION_INFO key";
        return std::nullopt;
    }
    at += 2;
    const std::size_t value = (at + 3) & ~std::size_t{3};  // the value starts on a 32-bit boundary
    if (value_length < kFixedInfoSize || value > block.size() || block.size() - value < kFixedInfoSize) {
        error = "version block has no room for its fixed file information";
        return std::nullopt;
    }
    if (U32(block, value) != kFixedInfoSignature) {
        error = "fixed file information lacks its signature 0xFEEF04BD";
        return std::nullopt;
    }
    const std::uint32_t most = U32(block, value + kProductVersionOffset);
    const std::uint32_t least = U32(block, value + kProductVersionOffset + 4);
    return ProductVersion{static_cast<std::uint16_t>(most >> 16), static_cast<std::uint16_t>(most),
                          static_cast<std::uint16_t>(least >> 16), static_cast<std::uint16_t>(least)};
}

std::string FormatProductVersion(const ProductVersion& version) {
    return std::to_string(version[0]) + "." + std::to_string(version[1]) + "." + std::to_string(version[2]) +
           "." + std::to_string(version[3]);
}
