#include "images/firmware_image.h"

#include <cstddef>
#include <limits>
#include <utility>

namespace {

std::uint32_t ReadLittleEndian32(const std::uint8_t* bytes) {
    return static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8) |
           (static_cast<std::uint32_t>(bytes[2]) << 16) | (static_cast<std::uint32_t>(bytes[3]) << 24);
}

constexpr std::size_t kLengthBytes = 4;

}  // namespace

SFirmwareImage LoadFirmwareImage(CArithmeticCompression& decoder, std::uint32_t id, std::uint32_t slack,
                                 const IResourceSource& resources, IAllocator& allocator) {
    SFirmwareImage image;
    const auto found = resources.Find(id);
    if (!found || found->size() < kLengthBytes) {
        return image;
    }
    const std::span<const std::uint8_t> bytes = *found;
    const std::uint32_t stored = ReadLittleEndian32(bytes.data());
    // A damaged stream may overrun the stored length by F - 1 bytes, so a smaller slack
    // could not hold what Decode is allowed to write.
    if (slack < CArithmeticCompression::F - 1) {
        return image;
    }
    if (stored > std::numeric_limits<std::uint32_t>::max() - slack) {
        return image;
    }
    const std::uint32_t capacity = stored + slack;
    ByteBuffer buffer = allocator.Allocate(capacity);
    if (buffer == nullptr) {
        return image;
    }
    // The stream runs to the end of the resource; a resource beyond 4 GiB is read only
    // as far as a 32-bit size reaches, never past its end.
    const std::size_t streamBytes = bytes.size() - kLengthBytes;
    const std::uint32_t inSize = streamBytes > std::numeric_limits<std::uint32_t>::max()
                                     ? std::numeric_limits<std::uint32_t>::max()
                                     : static_cast<std::uint32_t>(streamBytes);
    image.length = decoder.Decode(bytes.data() + kLengthBytes, inSize, buffer.get(), stored);
    image.data = std::move(buffer);
    image.capacity = capacity;
    image.storedLength = stored;
    return image;
}

bool IsRecordedImage(const SFirmwareImage& image, std::uint32_t crc, std::uint32_t id,
                     const IResourceSource& resources) {
    if (image.Empty() || image.length != image.storedLength) {
        return false;
    }
    const auto record = resources.FindRecord(id);
    return record && record->length == image.storedLength && record->crc == crc;
}
