#include "tests/images/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

namespace tessel_test {

std::optional<std::filesystem::path> VectorDir() {
    const char* shared = std::getenv("TESSEL_SHARED_DIR");
    if (shared == nullptr || *shared == '\0') {
        ADD_FAILURE() << "TESSEL_SHARED_DIR is not set; the LZARI vectors cannot be found";
        return std::nullopt;
    }
    const std::filesystem::path dir = std::filesystem::path(shared) / "lzari-vectors";
    if (!std::filesystem::is_directory(dir)) {
        ADD_FAILURE() << "no vector folder at " << dir;
        return std::nullopt;
    }
    return dir;
}

std::optional<std::vector<std::uint8_t>> ReadFile(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        ADD_FAILURE() << "cannot read " << path;
        return std::nullopt;
    }
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

std::vector<SManifestRow> ReadManifest() {
    std::vector<SManifestRow> rows;
    const auto dir = VectorDir();
    if (!dir) {
        return rows;
    }
    std::ifstream file(*dir / "MANIFEST.tsv");
    if (!file) {
        ADD_FAILURE() << "cannot read MANIFEST.tsv";
        return rows;
    }
    std::string line;
    std::getline(file, line);  // column names
    while (std::getline(file, line)) {
        if (line.empty()) {
            continue;
        }
        std::vector<std::string> fields;
        std::stringstream stream(line);
        std::string field;
        while (std::getline(stream, field, '\t')) {
            fields.push_back(field);
        }
        if (fields.size() < 6) {
            ADD_FAILURE() << "short manifest line: " << line;
            continue;
        }
        SManifestRow row;
        row.file = fields[0];
        row.rawBytes = static_cast<std::uint32_t>(std::stoul(fields[1]));
        row.packedBytes = static_cast<std::uint32_t>(std::stoul(fields[2]));
        row.crc32JamRaw = static_cast<std::uint32_t>(std::stoul(fields[5], nullptr, 16));
        rows.push_back(row);
    }
    return rows;
}

SExactBytes ExactCopy(std::span<const std::uint8_t> bytes) {
    SExactBytes copy;
    copy.size = bytes.size();
    // An empty copy still gets a (never read) byte, so its pointer is not null.
    copy.bytes = std::make_unique<std::uint8_t[]>(std::max<std::size_t>(bytes.size(), 1));
    std::copy(bytes.begin(), bytes.end(), copy.bytes.get());
    return copy;
}

SExactBytes ExactFilled(std::size_t size, std::uint8_t fill) {
    SExactBytes block;
    block.size = size;
    block.bytes = std::make_unique<std::uint8_t[]>(std::max<std::size_t>(size, 1));
    std::fill(block.bytes.get(), block.bytes.get() + size, fill);
    return block;
}

std::uint32_t ReadLittleEndian32(const std::uint8_t* bytes) {
    return static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8) |
           (static_cast<std::uint32_t>(bytes[2]) << 16) | (static_cast<std::uint32_t>(bytes[3]) << 24);
}

std::vector<std::uint8_t> Container(std::uint32_t storedLength, std::span<const std::uint8_t> stream) {
    // Sized once and filled in place: growing a four-byte vector by the stream makes
    // GCC 12 at -O3 report a memcpy out of bounds that cannot happen.
    std::vector<std::uint8_t> bytes(4 + stream.size());
    for (std::size_t i = 0; i < 4; ++i) {
        bytes[i] = static_cast<std::uint8_t>(storedLength >> (8 * i));
    }
    std::copy(stream.begin(), stream.end(), bytes.begin() + 4);
    return bytes;
}

void CTestResources::Add(std::uint32_t id, std::span<const std::uint8_t> bytes) {
    m_blocks[id] = ExactCopy(bytes);
}

std::optional<std::span<const std::uint8_t>> CTestResources::Find(std::uint32_t id) const {
    const auto it = m_blocks.find(id);
    if (it == m_blocks.end()) {
        return std::nullopt;
    }
    return std::span<const std::uint8_t>(it->second.data(), it->second.size);
}

std::optional<SImageRecord> CTestResources::FindRecord(std::uint32_t id) const {
    const auto it = m_records.find(id);
    if (it == m_records.end()) {
        return std::nullopt;
    }
    return it->second;
}

}  // namespace tessel_test
