#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "tools/firmware_gen.h"
#include "tools/lzari_packer.h"
#include "tools/picture_format.h"

namespace {

using Generator = std::function<std::vector<std::uint8_t>()>;

struct SStandIn {
    std::string name;
    Generator generate;
    std::size_t size;
};

const std::vector<SStandIn>& StandIns() {
    static const std::vector<SStandIn> stand_ins{
        {"application", GenerateApplicationImage, 3198584},
        {"boot", GenerateBootImage, 133488},
        {"picture", GeneratePicture, 385088},
    };
    return stand_ins;
}

TEST(StandInImages, EachImage_HasTheSizeTheProgramCarriesAndIsTheSameOnEveryRun) {
    for (const auto& stand_in : StandIns()) {
        SCOPED_TRACE(stand_in.name);
        const auto first = stand_in.generate();
        EXPECT_EQ(first.size(), stand_in.size);
        EXPECT_TRUE(first == stand_in.generate()) << "two runs gave different bytes";
    }
}

// Neither zeros nor noise: code-like images pack to roughly a third to a half.
TEST(StandInImages, CodeImages_PackLikeFirmware) {
    const SStandIn code_images[] = {StandIns()[0], StandIns()[1]};
    for (const auto& stand_in : code_images) {
        SCOPED_TRACE(stand_in.name);
        const auto raw = stand_in.generate();
        const double ratio = static_cast<double>(PackLzari(raw).size()) / static_cast<double>(raw.size());
        EXPECT_GT(ratio, 0.30);
        EXPECT_LT(ratio, 0.55);
    }
}

TEST(StandInImages, Picture_HeaderDescribesAn800x480PictureWithFullPalette) {
    const auto picture = GeneratePicture();
    const auto info = ParsePicture(picture);
    ASSERT_TRUE(info.has_value());
    EXPECT_EQ(info->width, 800u);
    EXPECT_EQ(info->height, 480u);
    EXPECT_EQ(info->palette_entries, 256u);
    EXPECT_EQ(info->palette_offset, 64u);
    EXPECT_EQ(info->pixel_offset, 64u + 1024u);
    EXPECT_EQ(info->stride, 800u);
    for (std::size_t i = 32; i < 64; ++i) {
        EXPECT_EQ(picture[i], 0) << "reserved header byte " << i;
    }
}

TEST(StandInImages, Picture_UsesManyDistinctColoursAndPaletteEntries) {
    const auto picture = GeneratePicture();
    std::set<std::uint32_t> colours;
    for (std::size_t entry = 0; entry < 256; ++entry) {
        const std::size_t at = 64 + 4 * entry;
        EXPECT_EQ(picture[at + 3], 0) << "palette entry " << entry;
        colours.insert(picture[at] | (picture[at + 1] << 8) | (picture[at + 2] << 16));
    }
    const std::set<std::uint8_t> used(picture.begin() + 1088, picture.end());
    EXPECT_GT(colours.size(), 200u);
    EXPECT_GT(used.size(), 150u);
}

}  // namespace
