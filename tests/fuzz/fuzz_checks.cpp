#include "tests/fuzz/fuzz_checks.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <span>

#include "images/arithmetic_compression.h"
#include "images/crc32.h"
#include "images/firmware_image.h"

namespace tessel_fuzz {

namespace {

// 64 KiB passes the ring 16 times and the first halving (about 32,000 codes); a
// larger output would only slow each run.
constexpr std::uint32_t kMaxTextSize = 1u << 16;
constexpr std::uint8_t kUnwritten = 0xA5;

std::uint32_t ReadLittleEndian32(const std::uint8_t* bytes) {
    return static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8) |
           (static_cast<std::uint32_t>(bytes[2]) << 16) | (static_cast<std::uint32_t>(bytes[3]) << 24);
}

// One decoder for every input, as the update job uses one for both images: state left
// by one input must not change what the next one gives.
CArithmeticCompression& SharedDecoder() {
    static CArithmeticCompression decoder;
    return decoder;
}

class COneResource final : public IResourceSource {
public:
    COneResource(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}
    std::optional<std::span<const std::uint8_t>> Find(std::uint32_t id) const override {
        if (id != IDR_APPLICATION_IMAGE) {
            return std::nullopt;
        }
        return std::span<const std::uint8_t>(m_data, m_size);
    }
    std::optional<SImageRecord> FindRecord(std::uint32_t id) const override {
        if (id != IDR_APPLICATION_IMAGE) {
            return std::nullopt;
        }
        return SImageRecord{1000, 0x12345678u};
    }

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
};

// Keeps a fuzzer from asking for gigabytes; larger requests take the failure path.
class CBoundedAllocator final : public IAllocator {
public:
    explicit CBoundedAllocator(std::size_t limit) : m_limit(limit) {}
    ByteBuffer Allocate(std::size_t size) override {
        if (size > m_limit) {
            return nullptr;
        }
        auto buffer = std::make_unique<std::uint8_t[]>(size);
        std::fill(buffer.get(), buffer.get() + size, kUnwritten);
        return buffer;
    }

private:
    std::size_t m_limit;
};

}  // namespace

std::string CheckDecode(const std::uint8_t* data, std::size_t size) {
    if (size < 4) {
        return {};
    }
    const std::uint32_t textSize = ReadLittleEndian32(data) % (kMaxTextSize + 1);
    const std::size_t streamSize = size - 4;
    // Exact-size heap copies: a read past in_size or a write past text_size + 59 is a
    // heap overflow that AddressSanitizer reports.
    auto stream = std::make_unique<std::uint8_t[]>(std::max<std::size_t>(streamSize, 1));
    std::copy(data + 4, data + size, stream.get());
    const std::size_t outSize = std::size_t{textSize} + 59;
    auto out = std::make_unique<std::uint8_t[]>(outSize);
    std::fill(out.get(), out.get() + outSize, kUnwritten);

    const std::uint32_t written =
        SharedDecoder().Decode(stream.get(), static_cast<std::uint32_t>(streamSize), out.get(), textSize);
    if (streamSize == 0 || textSize == 0) {
        if (written != 0) {
            return "a rejected argument gave a nonzero result";
        }
        if (!std::all_of(out.get(), out.get() + outSize, [](std::uint8_t b) { return b == kUnwritten; })) {
            return "a rejected argument wrote output";
        }
        return {};
    }
    if (written < textSize) {
        return "fewer bytes than text_size";
    }
    if (written > textSize + 59) {
        return "more than text_size + 59 bytes";
    }
    if (!std::all_of(out.get() + written, out.get() + outSize,
                     [](std::uint8_t b) { return b == kUnwritten; })) {
        return "wrote beyond the reported count";
    }
    return {};
}

std::string CheckLoadImage(const std::uint8_t* data, std::size_t size) {
    constexpr std::uint32_t kSlack = 1024;
    const COneResource resources(data, size);
    CBoundedAllocator allocator(kMaxTextSize + kSlack);
    const SFirmwareImage image =
        LoadFirmwareImage(SharedDecoder(), IDR_APPLICATION_IMAGE, kSlack, resources, allocator);
    if (image.Empty()) {
        if (image.length != 0 || image.capacity != 0) {
            return "an empty result reports bytes";
        }
        return {};
    }
    if (size < 4 || image.storedLength != ReadLittleEndian32(data)) {
        return "stored length not the container's";
    }
    if (image.capacity != image.storedLength + kSlack) {
        return "capacity is not stored length + slack";
    }
    if (image.length > image.capacity) {
        return "length beyond capacity";
    }
    const bool intactSize = image.length == image.storedLength;
    if (image.storedLength > 0 && size > 4 &&
        (image.length < image.storedLength || image.length > image.storedLength + 59)) {
        return "length outside stored length .. stored length + 59";
    }
    if ((size == 4 || image.storedLength == 0) && image.length != 0) {
        return "bytes unpacked from nothing";
    }
    CCrc32 crc;
    crc.Update(image.data.get(), image.length);
    const bool recorded = IsRecordedImage(image, crc.Value(), IDR_APPLICATION_IMAGE, resources);
    if (recorded != (intactSize && image.storedLength == 1000 && crc.Value() == 0x12345678u)) {
        return "IsRecordedImage disagrees with its conditions";
    }
    if (!std::all_of(image.data.get() + image.length, image.data.get() + image.capacity,
                     [](std::uint8_t b) { return b == kUnwritten; })) {
        return "wrote beyond the reported length";
    }
    return {};
}

}  // namespace tessel_fuzz
