#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "tools/picture_format.h"

namespace {

void Put16(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value) {
    bytes[at] = static_cast<std::uint8_t>(value);
    bytes[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

void Put32(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value) {
    Put16(bytes, at, value & 0xFFFF);
    Put16(bytes, at + 2, value >> 16);
}

// A 2 x 2 picture with a 2-entry palette: red and green; the last pixel names entry 5,
// which does not exist.
std::vector<std::uint8_t> TinyPicture() {
    std::vector<std::uint8_t> bytes(64 + 8 + 4, 0);
    bytes[0] = 'P';
    bytes[1] = 'I';
    bytes[2] = 'C';
    bytes[3] = '8';
    Put16(bytes, 4, 64);
    Put16(bytes, 6, 1);
    Put16(bytes, 8, 2);
    Put16(bytes, 10, 2);
    Put16(bytes, 12, 8);
    Put16(bytes, 14, 2);
    Put32(bytes, 16, 64);
    Put32(bytes, 20, 72);
    Put32(bytes, 24, 4);
    Put32(bytes, 28, 2);
    bytes[64] = 255;      // entry 0: red
    bytes[64 + 5] = 255;  // entry 1: green
    bytes[72] = 0;
    bytes[73] = 1;
    bytes[74] = 1;
    bytes[75] = 5;
    return bytes;
}

TEST(PictureFormat, TinyPicture_ConvertsToPpmWithMissingEntriesBlack) {
    const auto bytes = TinyPicture();
    const auto info = ParsePicture(bytes);
    ASSERT_TRUE(info.has_value());
    const std::string head = "P6\n2 2\n255\n";
    std::vector<std::uint8_t> want(head.begin(), head.end());
    for (const std::uint8_t value : {255, 0, 0, 0, 255, 0, 0, 255, 0, 0, 0, 0}) {
        want.push_back(value);
    }
    EXPECT_EQ(PictureToPpm(bytes, *info), want);
}

TEST(PictureFormat, BrokenHeaders_AreRejected) {
    struct SCase {
        std::string name;
        std::function<void(std::vector<std::uint8_t>&)> damage;
    };
    const SCase cases[] = {
        {"shorter than the header", [](auto& b) { b.resize(63); }},
        {"wrong magic", [](auto& b) { b[0] = 'X'; }},
        {"not 8 bits per pixel", [](auto& b) { Put16(b, 12, 4); }},
        {"no width", [](auto& b) { Put16(b, 8, 0); }},
        {"more than 256 palette entries", [](auto& b) { Put16(b, 14, 257); }},
        {"palette past the end", [](auto& b) { Put32(b, 16, 70); }},
        {"pixels past the end", [](auto& b) { Put32(b, 20, 73); }},
        {"stride below width", [](auto& b) { Put32(b, 28, 1); }},
        {"offset that wraps in 32 bits", [](auto& b) { Put32(b, 20, 0xFFFFFFFEu); }},
        {"last row past the end", [](auto& b) { b.resize(75); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto bytes = TinyPicture();
        c.damage(bytes);
        EXPECT_FALSE(ParsePicture(bytes).has_value());
    }
}

}  // namespace
