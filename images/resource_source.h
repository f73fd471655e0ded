#pragma once

#include <cstdint>
#include <optional>
#include <span>

// The resource seam: where the packed images of the build live. The Windows build
// finds them as RT_RCDATA resources of its own executable; the POSIX build serves the
// same container bytes from a table generated at build time.

constexpr std::uint32_t IDR_APPLICATION_IMAGE = 169;
constexpr std::uint32_t IDR_BOOT_IMAGE = 170;
constexpr std::uint32_t IDR_PICTURE = 171;

// What the build recorded of a raw image when it packed it, so a loader can tell that
// what it unpacked is exactly that image.
struct SImageRecord {
    std::uint32_t length = 0;  // raw length in bytes
    std::uint32_t crc = 0;     // CRC-32 register (start 0xFFFFFFFF, no final complement)
};

class IResourceSource {
public:
    virtual ~IResourceSource() = default;
    // The container bytes of resource `id`, valid for the life of the source; nothing
    // when there is no such resource.
    virtual std::optional<std::span<const std::uint8_t>> Find(std::uint32_t id) const = 0;
    // The record the build made for resource `id`; nothing when it made none.
    virtual std::optional<SImageRecord> FindRecord(std::uint32_t id) const = 0;
};

// The images this program carries (POSIX: generated table; Windows: own resources).
const IResourceSource& BuiltInResources();
