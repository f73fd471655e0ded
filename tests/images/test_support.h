#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "images/byte_buffer.h"
#include "images/resource_source.h"

// Helpers shared by the image tests: the shared vector folder, exact-size heap copies
// (so AddressSanitizer catches a read or write one byte past the end), a resource
// fixture and allocators that fail or count.
namespace tessel_test {

// The folder of the shared LZARI vectors, from TESSEL_SHARED_DIR. Records a test
// failure (not a skip) and returns nothing when the variable or the folder is missing.
std::optional<std::filesystem::path> VectorDir();

// The bytes of a file, or nothing (with a test failure) when it cannot be read.
std::optional<std::vector<std::uint8_t>> ReadFile(const std::filesystem::path& path);

struct SManifestRow {
    std::string file;
    std::uint32_t rawBytes = 0;
    std::uint32_t packedBytes = 0;
    std::uint32_t crc32JamRaw = 0;
};

// The rows of MANIFEST.tsv (header skipped); empty with a test failure when unreadable.
std::vector<SManifestRow> ReadManifest();

// A heap block of exactly `size` bytes: nothing around it belongs to the test.
struct SExactBytes {
    std::unique_ptr<std::uint8_t[]> bytes;
    std::size_t size = 0;

    std::uint8_t* data() const { return bytes.get(); }
};
SExactBytes ExactCopy(std::span<const std::uint8_t> bytes);
SExactBytes ExactFilled(std::size_t size, std::uint8_t fill);

std::uint32_t ReadLittleEndian32(const std::uint8_t* bytes);
std::vector<std::uint8_t> Container(std::uint32_t storedLength, std::span<const std::uint8_t> stream);

// An IResourceSource over a few blocks, each an exact-size heap copy.
class CTestResources final : public IResourceSource {
public:
    void Add(std::uint32_t id, std::span<const std::uint8_t> bytes);
    void AddRecord(std::uint32_t id, SImageRecord record) { m_records[id] = record; }

    std::optional<std::span<const std::uint8_t>> Find(std::uint32_t id) const override;
    std::optional<SImageRecord> FindRecord(std::uint32_t id) const override;

private:
    std::map<std::uint32_t, SExactBytes> m_blocks;
    std::map<std::uint32_t, SImageRecord> m_records;
};

// Refuses every allocation and counts the requests.
class CFailingAllocator final : public IAllocator {
public:
    ByteBuffer Allocate(std::size_t size) override {
        ++calls;
        lastSize = size;
        return nullptr;
    }
    int calls = 0;
    std::size_t lastSize = 0;
};

// Allocates with the system allocator and counts the requests.
class CCountingAllocator final : public IAllocator {
public:
    ByteBuffer Allocate(std::size_t size) override {
        ++calls;
        lastSize = size;
        return SystemAllocator().Allocate(size);
    }
    int calls = 0;
    std::size_t lastSize = 0;
};

}  // namespace tessel_test
