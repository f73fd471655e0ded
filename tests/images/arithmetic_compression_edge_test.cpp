// The decoder's edge cases, on streams made for them by the test
// encoder, and the rejected arguments.

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "images/arithmetic_compression.h"
#include "tests/images/test_encoder.h"
#include "tests/images/test_support.h"

namespace {

using tessel_test::CTestLzariEncoder;
using tessel_test::CTokenExpander;
using tessel_test::ExactCopy;
using tessel_test::ExactFilled;

constexpr std::uint8_t kSentinel = 0xA5;

struct SDecoded {
    std::uint32_t written = 0;
    std::vector<std::uint8_t> bytes;  // the whole text_size + 59 buffer
};

// Decodes from an exact-size copy into an exact-size text_size + 59 buffer.
SDecoded DecodeExact(CArithmeticCompression& decoder, const std::vector<std::uint8_t>& stream,
                     std::uint32_t textSize) {
    const auto in = ExactCopy(stream);
    auto out = ExactFilled(textSize + 59, kSentinel);
    SDecoded result;
    result.written = decoder.Decode(in.data(), static_cast<std::uint32_t>(in.size), out.data(), textSize);
    result.bytes.assign(out.data(), out.data() + out.size);
    return result;
}

std::vector<std::uint8_t> Prefix(const SDecoded& decoded, std::size_t count) {
    return {decoded.bytes.begin(), decoded.bytes.begin() + static_cast<std::ptrdiff_t>(count)};
}

TEST(LzariEdge, MatchBeforeAnyLiteralCopiesSpaces) {
    CTestLzariEncoder encoder;
    encoder.Match(3, 0);  // ring byte 4035
    CArithmeticCompression decoder;
    const auto decoded = DecodeExact(decoder, encoder.Finish(), 3);
    EXPECT_EQ(decoded.written, 3u);
    EXPECT_EQ(Prefix(decoded, 3), std::vector<std::uint8_t>(3, 0x20));
}

TEST(LzariEdge, LongestMatchBeforeAnyLiteralCopiesSixtySpaces) {
    CTestLzariEncoder encoder;
    encoder.Match(60, 59);  // ring bytes 3976 .. 4035
    CArithmeticCompression decoder;
    const auto decoded = DecodeExact(decoder, encoder.Finish(), 60);
    EXPECT_EQ(decoded.written, 60u);
    EXPECT_EQ(Prefix(decoded, 60), std::vector<std::uint8_t>(60, 0x20));
}

TEST(LzariEdge, LiteralThenOverlappingMatchAtDistanceOneRepeatsIt) {
    CTestLzariEncoder encoder;
    encoder.Literal(0x41);
    encoder.Match(5, 0);
    CArithmeticCompression decoder;
    const auto decoded = DecodeExact(decoder, encoder.Finish(), 6);
    EXPECT_EQ(decoded.written, 6u);
    EXPECT_EQ(Prefix(decoded, 6), std::vector<std::uint8_t>(6, 0x41));
}

TEST(LzariEdge, OverlappingMatchRepeatsAPattern) {
    CTestLzariEncoder encoder;
    encoder.Literal('x');
    encoder.Literal('y');
    encoder.Match(7, 1);  // distance 2
    CArithmeticCompression decoder;
    const auto decoded = DecodeExact(decoder, encoder.Finish(), 9);
    EXPECT_EQ(decoded.written, 9u);
    const std::vector<std::uint8_t> expected = {'x', 'y', 'x', 'y', 'x', 'y', 'x', 'y', 'x'};
    EXPECT_EQ(Prefix(decoded, 9), expected);
}

// The last 60 ring bytes start as zero at every Decode, also after a decode that
// filled the whole ring with other bytes.
TEST(LzariEdge, RingTailStartsAsZeroOnEveryDecode) {
    CTestLzariEncoder tail;
    tail.Match(60, 4095);  // start = 4036 - 4095 - 1 = ring byte 4036
    const auto tailStream = tail.Finish();

    CTestLzariEncoder filler;
    for (int i = 0; i < 5000; ++i) {
        filler.Literal(static_cast<std::uint8_t>(0x80 + i % 7));
    }
    CArithmeticCompression decoder;
    for (int round = 0; round < 2; ++round) {
        const auto decoded = DecodeExact(decoder, tailStream, 60);
        EXPECT_EQ(decoded.written, 60u);
        EXPECT_EQ(Prefix(decoded, 60), std::vector<std::uint8_t>(60, 0x00));
        CTestLzariEncoder copy = filler;
        const auto dirty = DecodeExact(decoder, copy.Finish(), 5000);
        EXPECT_EQ(dirty.written, 5000u);
    }
}

// A match is copied whole even where it passes text_size: at most 59 bytes more, and
// the result says how many were written.
TEST(LzariEdge, LastMatchPastTextSizeWritesAndReportsAtMostFiftyNineMore) {
    CTestLzariEncoder encoder;
    encoder.Literal(0x41);
    encoder.Match(60, 0);
    CArithmeticCompression decoder;
    const auto decoded = DecodeExact(decoder, encoder.Finish(), 2);
    EXPECT_EQ(decoded.written, 61u);
    EXPECT_EQ(decoded.bytes, std::vector<std::uint8_t>(61, 0x41));
}

TEST(LzariEdge, FirstMatchPastTextSizeOfOne) {
    CTestLzariEncoder encoder;
    encoder.Match(60, 0);
    CArithmeticCompression decoder;
    const auto decoded = DecodeExact(decoder, encoder.Finish(), 1);
    EXPECT_EQ(decoded.written, 60u);
    EXPECT_EQ(Prefix(decoded, 60), std::vector<std::uint8_t>(60, 0x20));
}

// Of several indices with the decoded symbol's frequency the lowest takes the decoded
// code. Codes that start tied (all frequency 1) are decoded repeatedly, in an order
// that moves them around; a wrong choice of index decodes other bytes.
TEST(LzariEdge, TieOfEqualFrequenciesMovesTheCodeToTheLowestIndex) {
    const std::vector<std::uint8_t> text = {'b',  'a',  'b', 'c', 'a',  'c', 'b', 'd', 'd', 'a', 0xFF,
                                            0x00, 0xFF, 'a', 'd', 0x00, 'b', 'c', 'e', 'e', 'e', 0x00};
    CTestLzariEncoder encoder;
    for (std::uint8_t byte : text) {
        encoder.Literal(byte);
    }
    CArithmeticCompression decoder;
    const auto decoded = DecodeExact(decoder, encoder.Finish(), static_cast<std::uint32_t>(text.size()));
    EXPECT_EQ(decoded.written, text.size());
    EXPECT_EQ(Prefix(decoded, text.size()), text);
}

// 32,454 codes bring the total from 314 to 32,767 (the first halving happens while
// updating the 32,454th code); a skewed sequence around that point decodes only when
// the decoder halves on exactly the same update as the encoder.
TEST(LzariEdge, HalvingAtTotalOf32767RoundTrips) {
    for (const std::uint32_t count : {32453u, 32454u, 32455u, 32456u, 70000u}) {
        SCOPED_TRACE(count);
        std::mt19937 random(count);
        CTestLzariEncoder encoder;
        std::vector<std::uint8_t> text;
        for (std::uint32_t i = 0; i < count; ++i) {
            // Mostly one byte, some others: many frequencies stay 1 through the halving.
            const std::uint32_t roll = random() % 100;
            const auto byte = static_cast<std::uint8_t>(roll < 80   ? 0x33
                                                        : roll < 95 ? random() % 8
                                                                    : random());
            encoder.Literal(byte);
            text.push_back(byte);
        }
        // A few codes just after the halving, some of them rare ones.
        for (std::uint8_t byte : {0x33, 0xEE, 0x01, 0x33, 0x7F}) {
            encoder.Literal(byte);
            text.push_back(byte);
        }
        CArithmeticCompression decoder;
        const auto decoded = DecodeExact(decoder, encoder.Finish(), static_cast<std::uint32_t>(text.size()));
        EXPECT_EQ(decoded.written, text.size());
        EXPECT_EQ(Prefix(decoded, text.size()), text);
    }
}

// Random literals and matches of every length and position (0 .. 4095, beyond what the
// real encoder makes) decode to what the ring model says, with halvings on the way.
TEST(LzariEdge, RandomTokenSequencesRoundTrip) {
    for (std::uint32_t seed = 1; seed <= 8; ++seed) {
        SCOPED_TRACE(seed);
        std::mt19937 random(seed);
        CTestLzariEncoder encoder;
        CTokenExpander expander;
        const std::uint32_t tokens = 20000 + random() % 30000;
        for (std::uint32_t i = 0; i < tokens; ++i) {
            if (random() % 3 == 0) {
                const std::uint32_t length = 3 + random() % 58;
                const std::uint32_t position = random() % 2 == 0 ? random() % 16 : random() % 4096;
                encoder.Match(length, position);
                expander.Match(length, position);
            } else {
                const auto byte = static_cast<std::uint8_t>(random() % 4 == 0 ? random() : random() % 16);
                encoder.Literal(byte);
                expander.Literal(byte);
            }
        }
        const auto& expected = expander.Bytes();
        CArithmeticCompression decoder;
        const auto decoded =
            DecodeExact(decoder, encoder.Finish(), static_cast<std::uint32_t>(expected.size()));
        EXPECT_EQ(decoded.written, expected.size());
        EXPECT_EQ(Prefix(decoded, expected.size()), expected);
    }
}

TEST(LzariEdge, RejectedArgumentsReturnZeroAndWriteNothing) {
    const std::vector<std::uint8_t> stream = {0x12, 0x34, 0x56, 0x78};
    std::vector<std::uint8_t> out(100, kSentinel);
    const std::vector<std::uint8_t> untouched(100, kSentinel);
    CArithmeticCompression decoder;
    EXPECT_EQ(decoder.Decode(stream.data(), 0, out.data(), 10), 0u);
    EXPECT_EQ(decoder.Decode(stream.data(), 4, out.data(), 0), 0u);
    EXPECT_EQ(decoder.Decode(nullptr, 4, out.data(), 10), 0u);
    EXPECT_EQ(decoder.Decode(stream.data(), 4, nullptr, 10), 0u);
    EXPECT_EQ(decoder.Decode(nullptr, 0, nullptr, 0), 0u);
    EXPECT_EQ(out, untouched);
}

TEST(LzariEdge, FreshObjectRejectsBeforeAnyDecode) {
    CArithmeticCompression decoder;
    std::uint8_t out = kSentinel;
    EXPECT_EQ(decoder.Decode(nullptr, 0, &out, 1), 0u);
    EXPECT_EQ(out, kSentinel);
}

}  // namespace
