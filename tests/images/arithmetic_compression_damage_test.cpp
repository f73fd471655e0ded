// Damaged streams (bit flips, truncation, garbage, a wrong length) of many seeds: the
// decoder never reads past in_size (exact-size input copies, AddressSanitizer), never
// writes past text_size + 59 (exact-size output and a sentinel guard beyond it),
// produces at least text_size bytes and reports exactly what it wrote.

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "images/arithmetic_compression.h"
#include "tests/images/test_support.h"

namespace {

using tessel_test::ExactCopy;
using tessel_test::ExactFilled;

constexpr std::uint8_t kSentinel = 0xA5;
constexpr std::uint32_t kGuard = 64;

// Decodes twice, with a guarded and with an exact-size output buffer, and checks the
// decoder's contract on both.
void CheckContract(CArithmeticCompression& decoder, const std::vector<std::uint8_t>& stream,
                   std::uint32_t textSize) {
    const auto in = ExactCopy(stream);
    const auto inSize = static_cast<std::uint32_t>(in.size);

    auto guarded = ExactFilled(std::size_t{textSize} + 59 + kGuard, kSentinel);
    const std::uint32_t written = decoder.Decode(in.data(), inSize, guarded.data(), textSize);
    if (inSize == 0 || textSize == 0) {
        EXPECT_EQ(written, 0u);
    } else {
        EXPECT_GE(written, textSize);
        EXPECT_LE(written, textSize + 59);
    }
    // Bytes are written in order from the start, so none at or after the result.
    EXPECT_TRUE(std::all_of(guarded.data() + std::min<std::size_t>(written, guarded.size),
                            guarded.data() + guarded.size, [](std::uint8_t b) { return b == kSentinel; }))
        << "wrote beyond what it reported";

    auto exact = ExactFilled(std::size_t{textSize} + 59, kSentinel);
    EXPECT_EQ(decoder.Decode(in.data(), inSize, exact.data(), textSize), written);
    EXPECT_TRUE(std::equal(exact.data(), exact.data() + exact.size, guarded.data()))
        << "the same stream decoded differently on the same object";
}

std::vector<std::uint8_t> LoadStream(const char* name, std::uint32_t& stored) {
    const auto dir = tessel_test::VectorDir();
    if (!dir) {
        return {};
    }
    const auto packed = tessel_test::ReadFile(*dir / (std::string(name) + ".lzari"));
    if (!packed || packed->size() < 4) {
        ADD_FAILURE() << "no stream " << name;
        return {};
    }
    stored = tessel_test::ReadLittleEndian32(packed->data());
    return {packed->begin() + 4, packed->end()};
}

struct SDamageCase {
    const char* vector;
    std::uint32_t seeds;
};

// Middle-sized streams keep the sanitizer build quick; many seeds each.
const SDamageCase kCases[] = {
    {"17_len4097_text.txt", 300}, {"05_pattern_10000.bin", 300}, {"13_overlap_X_then_Y_10000.bin", 200},
    {"20_stale_tail.bin", 300},   {"09_code_133488.bin", 25},
};

TEST(LzariDamage, RandomBitFlips) {
    CArithmeticCompression decoder;
    for (const auto& item : kCases) {
        std::uint32_t stored = 0;
        const auto stream = LoadStream(item.vector, stored);
        ASSERT_FALSE(stream.empty());
        for (std::uint32_t seed = 0; seed < item.seeds; ++seed) {
            SCOPED_TRACE(std::string(item.vector) + " seed " + std::to_string(seed));
            std::mt19937 random(seed);
            auto damaged = stream;
            const std::uint32_t flips = 1 + random() % 8;
            for (std::uint32_t i = 0; i < flips; ++i) {
                damaged[random() % damaged.size()] ^= static_cast<std::uint8_t>(1u << (random() % 8));
            }
            CheckContract(decoder, damaged, stored);
        }
    }
}

TEST(LzariDamage, Truncation) {
    CArithmeticCompression decoder;
    for (const auto& item : kCases) {
        std::uint32_t stored = 0;
        const auto stream = LoadStream(item.vector, stored);
        ASSERT_FALSE(stream.empty());
        for (std::uint32_t seed = 0; seed < item.seeds; ++seed) {
            SCOPED_TRACE(std::string(item.vector) + " seed " + std::to_string(seed));
            std::mt19937 random(seed);
            // Small cuts near the end most often, any length sometimes.
            const std::size_t keep =
                seed % 2 == 0 ? stream.size() - std::min<std::size_t>(stream.size(), 1 + random() % 8)
                              : random() % stream.size();
            const std::vector<std::uint8_t> cut(stream.begin(),
                                                stream.begin() + static_cast<std::ptrdiff_t>(keep));
            CheckContract(decoder, cut, stored);
        }
    }
}

TEST(LzariDamage, WrongStoredLength) {
    CArithmeticCompression decoder;
    std::uint32_t stored = 0;
    const auto stream = LoadStream("17_len4097_text.txt", stored);
    ASSERT_FALSE(stream.empty());
    for (std::uint32_t textSize : {1u, 2u, 59u, 60u, 61u, 4096u, 4098u, 10000u, 200000u}) {
        SCOPED_TRACE(textSize);
        CheckContract(decoder, stream, textSize);
    }
}

TEST(LzariDamage, Garbage) {
    CArithmeticCompression decoder;
    for (std::uint32_t seed = 0; seed < 400; ++seed) {
        SCOPED_TRACE(seed);
        std::mt19937 random(seed);
        std::vector<std::uint8_t> garbage(1 + random() % 3000);
        const std::uint32_t style = seed % 4;
        for (auto& byte : garbage) {
            // Uniform bytes, all ones, all zeros (matches of the longest length at the
            // farthest position and the like), and sparse bits.
            byte = style == 0   ? static_cast<std::uint8_t>(random())
                   : style == 1 ? 0xFF
                   : style == 2 ? 0x00
                                : static_cast<std::uint8_t>(random() % 16 == 0 ? 1u << (random() % 8) : 0);
        }
        const std::uint32_t textSize = 1 + random() % 20000;
        CheckContract(decoder, garbage, textSize);
    }
}

}  // namespace
