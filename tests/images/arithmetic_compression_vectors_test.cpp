// Every shared vector unpacks exactly, from an exact-size copy of its stream, with
// nothing written past the stored length.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <memory>
#include <string>
#include <vector>

#include "images/arithmetic_compression.h"
#include "images/crc32.h"
#include "tests/images/test_support.h"

namespace {

using tessel_test::ExactCopy;
using tessel_test::ExactFilled;

constexpr std::uint8_t kSentinel = 0xA5;
constexpr std::uint32_t kGuard = 64;  // sentinel bytes beyond text_size + 59

// The vectors MANIFEST.tsv lists, so each is its own named test.
const char* const kVectors[] = {
    "01_empty.bin",
    "02_one_byte.bin",
    "03_abc.txt",
    "04_spaces_4036.bin",
    "05_pattern_10000.bin",
    "06_random_65536.bin",
    "07_text_300000.txt",
    "08_binary_3198584.bin",
    "09_code_133488.bin",
    "10_image_385088.bin",
    "11_halving_literals_1000000.bin",
    "12_run_ff_1048576.bin",
    "13_overlap_X_then_Y_10000.bin",
    "14_len59.txt",
    "15_len60.txt",
    "16_len61.txt",
    "17_len4097_text.txt",
    "18_mirror_edge_a.bin",
    "19_mirror_edge_b.bin",
    "20_stale_tail.bin",
    "21_halving_len3_tokens_600000.bin",
};

TEST(LzariVectors, ManifestListsExactlyTheTestedVectors) {
    const auto rows = tessel_test::ReadManifest();
    std::vector<std::string> listed;
    for (const auto& row : rows) {
        listed.push_back(row.file);
    }
    const std::vector<std::string> tested(std::begin(kVectors), std::end(kVectors));
    EXPECT_EQ(listed, tested);
}

class LzariVector : public ::testing::TestWithParam<const char*> {};

TEST_P(LzariVector, DecodesExactlyAndWritesNothingBeyond) {
    const auto dir = tessel_test::VectorDir();
    ASSERT_TRUE(dir);
    const std::string name = GetParam();
    const auto raw = tessel_test::ReadFile(*dir / name);
    const auto packed = tessel_test::ReadFile(*dir / (name + ".lzari"));
    ASSERT_TRUE(raw && packed);
    ASSERT_GE(packed->size(), 4u);
    const std::uint32_t stored = tessel_test::ReadLittleEndian32(packed->data());
    ASSERT_EQ(stored, raw->size());

    const auto stream = ExactCopy(std::span(*packed).subspan(4));
    auto out = ExactFilled(stored + 59 + kGuard, kSentinel);
    CArithmeticCompression decoder;
    const std::uint32_t written =
        decoder.Decode(stream.data(), static_cast<std::uint32_t>(stream.size), out.data(), stored);
    EXPECT_EQ(written, stored);
    EXPECT_TRUE(std::equal(raw->begin(), raw->end(), out.data()));
    EXPECT_TRUE(std::all_of(out.data() + stored, out.data() + out.size, [](std::uint8_t b) {
        return b == kSentinel;
    })) << "bytes written past the stored length";
}

TEST_P(LzariVector, CrcOfRawMatchesManifest) {
    const auto dir = tessel_test::VectorDir();
    ASSERT_TRUE(dir);
    const std::string name = GetParam();
    const auto rows = tessel_test::ReadManifest();
    const auto row = std::find_if(rows.begin(), rows.end(), [&](const auto& r) { return r.file == name; });
    ASSERT_NE(row, rows.end());
    const auto raw = tessel_test::ReadFile(*dir / name);
    const auto packed = tessel_test::ReadFile(*dir / (name + ".lzari"));
    ASSERT_TRUE(raw && packed);
    EXPECT_EQ(raw->size(), row->rawBytes);
    EXPECT_EQ(packed->size(), row->packedBytes);
    CCrc32 crc;
    crc.Update(raw->data(), raw->size());
    EXPECT_EQ(crc.Value(), row->crc32JamRaw);
}

// Bits past the end read as 0: the streams need up to 2 bytes beyond their last one,
// and handing those over as zero bytes changes nothing.
TEST_P(LzariVector, ExplicitZeroBytesPastTheEndChangeNothing) {
    const auto dir = tessel_test::VectorDir();
    ASSERT_TRUE(dir);
    const std::string name = GetParam();
    const auto packed = tessel_test::ReadFile(*dir / (name + ".lzari"));
    ASSERT_TRUE(packed);
    const std::uint32_t stored = tessel_test::ReadLittleEndian32(packed->data());
    if (stored == 0 || stored > 400000) {
        return;  // nothing to decode, or large enough to be covered by the test above
    }
    std::vector<std::uint8_t> padded(packed->begin() + 4, packed->end());
    padded.insert(padded.end(), {0, 0, 0});
    const auto exact = ExactCopy(std::span(*packed).subspan(4));
    std::vector<std::uint8_t> a(stored + 59), b(stored + 59);
    CArithmeticCompression decoder;
    EXPECT_EQ(decoder.Decode(exact.data(), static_cast<std::uint32_t>(exact.size), a.data(), stored), stored);
    EXPECT_EQ(decoder.Decode(padded.data(), static_cast<std::uint32_t>(padded.size()), b.data(), stored),
              stored);
    EXPECT_EQ(a, b);
}

std::string VectorTestName(const ::testing::TestParamInfo<const char*>& info) {
    std::string name = info.param;
    std::replace_if(
        name.begin(), name.end(), [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); }, '_');
    return name;
}

INSTANTIATE_TEST_SUITE_P(Shared, LzariVector, ::testing::ValuesIn(kVectors), VectorTestName);

// The job's one decoder serves the boot image and then the application image: a
// decoder that already unpacked other streams gives what a fresh one gives.
TEST(LzariVectors, OneObjectDecodesSeveralStreamsLikeFreshOnes) {
    const auto dir = tessel_test::VectorDir();
    ASSERT_TRUE(dir);
    const char* const order[] = {"07_text_300000.txt", "10_image_385088.bin", "18_mirror_edge_a.bin",
                                 "09_code_133488.bin", "07_text_300000.txt",  "03_abc.txt"};
    CArithmeticCompression shared;
    for (const char* name : order) {
        SCOPED_TRACE(name);
        const auto packed = tessel_test::ReadFile(*dir / (std::string(name) + ".lzari"));
        ASSERT_TRUE(packed);
        const std::uint32_t stored = tessel_test::ReadLittleEndian32(packed->data());
        const auto stream = ExactCopy(std::span(*packed).subspan(4));
        std::vector<std::uint8_t> reused(stored + 59), fresh(stored + 59);
        CArithmeticCompression freshDecoder;
        const auto size = static_cast<std::uint32_t>(stream.size);
        EXPECT_EQ(shared.Decode(stream.data(), size, reused.data(), stored), stored);
        EXPECT_EQ(freshDecoder.Decode(stream.data(), size, fresh.data(), stored), stored);
        EXPECT_EQ(reused, fresh);
    }
}

}  // namespace
