#include <gtest/gtest.h>

#include <string_view>
#include <vector>

#include "tools/raw_crc32.h"

namespace {

std::span<const std::uint8_t> Bytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

struct SCrcCase {
    std::string_view text;
    std::uint32_t crc;
};

TEST(RawCrc32, KnownInputs_GiveRegisterWithoutFinalComplement) {
    const SCrcCase cases[] = {
        {"", 0xFFFFFFFFu},
        {"abc", 0xCADBBE3Du},
        {"123456789", 0x340BC6D9u},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(RawCrc32(Bytes(c.text)), c.crc);
    }
}

TEST(RawCrc32, SplitInput_ContinuesFromTheRegister) {
    const std::string_view text = "123456789";
    const std::uint32_t head = RawCrc32(Bytes(text.substr(0, 4)));
    EXPECT_EQ(RawCrc32(Bytes(text.substr(4)), head), 0x340BC6D9u);
}

}  // namespace
