#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/tools/vector_files.h"
#include "tools/file_io.h"
#include "tools/lzari_packer.h"

namespace {

struct SVector {
    std::string name;
    std::size_t raw_bytes = 0;
    std::size_t packed_bytes = 0;
};

// MANIFEST.tsv: a heading line, then name, raw size, packed size, ... per vector.
std::vector<SVector> ReadManifest(const std::string& path) {
    std::vector<SVector> vectors;
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        SVector vector;
        std::string raw;
        std::string packed;
        if (std::getline(fields, vector.name, '\t') && std::getline(fields, raw, '\t') &&
            std::getline(fields, packed, '\t')) {
            vector.raw_bytes = std::stoul(raw);
            vector.packed_bytes = std::stoul(packed);
            vectors.push_back(vector);
        }
    }
    return vectors;
}

std::string FirstDifference(const std::vector<std::uint8_t>& got, const std::vector<std::uint8_t>& want) {
    const auto [a, b] = std::mismatch(got.begin(), got.end(), want.begin(), want.end());
    return "sizes " + std::to_string(got.size()) + " / " + std::to_string(want.size()) +
           ", first difference at " + std::to_string(a - got.begin());
}

TEST(LzariPacker, EveryVector_PacksByteForByteLikeThePublishedEncoder) {
    const std::string shared = SharedDir();
    ASSERT_FALSE(shared.empty()) << "TESSEL_SHARED_DIR is not set";
    const std::string folder = shared + "/lzari-vectors/";
    const auto vectors = ReadManifest(folder + "MANIFEST.tsv");
    ASSERT_FALSE(vectors.empty()) << "no vectors listed in " << folder << "MANIFEST.tsv";

    for (const auto& vector : vectors) {
        SCOPED_TRACE(vector.name);
        const auto raw = ReadWholeFile(folder + vector.name);
        const auto packed = ReadWholeFile(folder + vector.name + ".lzari");
        ASSERT_TRUE(raw && packed) << "vector files missing";
        ASSERT_EQ(raw->size(), vector.raw_bytes);
        ASSERT_EQ(packed->size(), vector.packed_bytes);

        const auto got = PackLzari(*raw);
        EXPECT_TRUE(got == *packed) << FirstDifference(got, *packed);
    }
}

TEST(LzariPacker, EmptyInput_IsTheLengthFieldAlone) {
    EXPECT_EQ(PackLzari({}), (std::vector<std::uint8_t>{0, 0, 0, 0}));
}

TEST(LzariPacker, LengthField_IsLittleEndianRawSize) {
    const std::vector<std::uint8_t> raw(0x012345, 'x');
    const auto packed = PackLzari(raw);
    ASSERT_GE(packed.size(), 4u);
    EXPECT_EQ(packed[0], 0x45);
    EXPECT_EQ(packed[1], 0x23);
    EXPECT_EQ(packed[2], 0x01);
    EXPECT_EQ(packed[3], 0x00);
}

// The packer keeps no state between calls: packing after another input gives the
// same bytes as packing first.
TEST(LzariPacker, SecondCall_GivesSameBytesAsFirst) {
    std::vector<std::uint8_t> text;
    for (int i = 0; i < 5000; ++i) {
        text.push_back(static_cast<std::uint8_t>("steno writer "[i % 13]));
    }
    const auto first = PackLzari(text);
    (void)PackLzari(std::vector<std::uint8_t>(7000, 0xFF));
    EXPECT_EQ(PackLzari(text), first);
}

}  // namespace
