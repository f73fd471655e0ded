#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "images/crc32.h"

namespace {

std::uint32_t CrcOf(const char* text) {
    CCrc32 crc;
    crc.Update(reinterpret_cast<const std::uint8_t*>(text), std::strlen(text));
    return crc.Value();
}

TEST(Crc32, NoBytesGivesTheStartValue) {
    CCrc32 crc;
    EXPECT_EQ(crc.Value(), 0xFFFFFFFFu);
    crc.Update(nullptr, 0);
    EXPECT_EQ(crc.Value(), 0xFFFFFFFFu);
}

TEST(Crc32, KnownValuesAreJamCrc) {
    EXPECT_EQ(CrcOf("abc"), 0xCADBBE3Du);
    EXPECT_EQ(CrcOf("123456789"), 0x340BC6D9u);
    // The complement of the zlib CRC-32 of the same bytes.
    EXPECT_EQ(~CrcOf("123456789"), 0xCBF43926u);
}

TEST(Crc32, TableEntries) {
    CCrc32 crc;
    EXPECT_EQ(CCrc32::TableEntry(0), 0x00000000u);
    EXPECT_EQ(CCrc32::TableEntry(1), 0x77073096u);
    EXPECT_EQ(CCrc32::TableEntry(128), 0xEDB88320u);
    EXPECT_EQ(CCrc32::TableEntry(255), 0x2D02EF8Du);
}

TEST(Crc32, ASecondObjectSeesTheSameTable) {
    CCrc32 first;
    const std::uint32_t entry = CCrc32::TableEntry(77);
    CCrc32 second;
    EXPECT_EQ(CCrc32::TableEntry(77), entry);
    EXPECT_EQ(CrcOf("abc"), 0xCADBBE3Du);
}

TEST(Crc32, OneUpdateEqualsSeveral) {
    std::vector<std::uint8_t> bytes(10007);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<std::uint8_t>(i * 131 + (i >> 7));
    }
    CCrc32 whole;
    whole.Update(bytes.data(), bytes.size());
    for (std::size_t step : {1u, 3u, 7u, 64u, 1000u, 4096u}) {
        SCOPED_TRACE(step);
        CCrc32 pieces;
        for (std::size_t at = 0; at < bytes.size(); at += step) {
            pieces.Update(bytes.data() + at, std::min(step, bytes.size() - at));
        }
        EXPECT_EQ(pieces.Value(), whole.Value());
    }
}

TEST(Crc32, ResetStartsOver) {
    CCrc32 crc;
    crc.Update(reinterpret_cast<const std::uint8_t*>("xyz"), 3);
    crc.Reset();
    EXPECT_EQ(crc.Value(), 0xFFFFFFFFu);
    crc.Update(reinterpret_cast<const std::uint8_t*>("abc"), 3);
    EXPECT_EQ(crc.Value(), 0xCADBBE3Du);
}

TEST(Crc32, AnotherStartValueStartsThere) {
    CCrc32 zero(0);
    EXPECT_EQ(zero.Value(), 0u);
    // A register that continues where "ab" left off gives the CRC of "abc".
    CCrc32 ab;
    ab.Update(reinterpret_cast<const std::uint8_t*>("ab"), 2);
    CCrc32 continued(ab.Value());
    continued.Update(reinterpret_cast<const std::uint8_t*>("c"), 1);
    EXPECT_EQ(continued.Value(), 0xCADBBE3Du);
    // One byte from 0: the register is the table entry of that byte.
    const std::uint8_t one = 1;
    zero.Update(&one, 1);
    EXPECT_EQ(zero.Value(), 0x77073096u);
    // Reset returns to the standard start, not to the constructor's value.
    zero.Reset();
    EXPECT_EQ(zero.Value(), 0xFFFFFFFFu);
}

}  // namespace

// Update takes eight bytes per step: every length and alignment must agree with the
// register computed one bit at a time.
TEST(Crc32, EveryLengthAndAlignmentMatchesABitwiseRegister) {
    std::vector<std::uint8_t> bytes(80);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<std::uint8_t>(i * 37 + 11);
    }
    for (std::size_t start = 0; start < 8; ++start) {
        for (std::size_t length = 0; start + length <= bytes.size(); ++length) {
            std::uint32_t expected = 0xFFFFFFFFu;
            for (std::size_t i = start; i < start + length; ++i) {
                expected ^= bytes[i];
                for (int bit = 0; bit < 8; ++bit) {
                    expected = (expected & 1u) != 0 ? (expected >> 1) ^ 0xEDB88320u : expected >> 1;
                }
            }
            CCrc32 crc;
            crc.Update(bytes.data() + start, length);
            ASSERT_EQ(expected, crc.Value()) << start << " " << length;
        }
    }
}
