#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "images/resource_source.h"
#include "tests/tools/bitwise_crc32.h"
#include "tools/file_io.h"
#include "tools/lzari_packer.h"

namespace {

struct SCarried {
    std::uint32_t id;
    std::string raw_path;
};

const SCarried kCarried[] = {
    {IDR_APPLICATION_IMAGE, TESSEL_RAW_APPLICATION},
    {IDR_BOOT_IMAGE, TESSEL_RAW_BOOT},
    {IDR_PICTURE, TESSEL_RAW_PICTURE},
};

TEST(BuiltInResources, Records_HoldLengthAndCrcOfTheRawFilesThatWerePacked) {
    for (const auto& carried : kCarried) {
        SCOPED_TRACE(carried.raw_path);
        const auto raw = ReadWholeFile(carried.raw_path);
        ASSERT_TRUE(raw.has_value());
        const auto record = BuiltInResources().FindRecord(carried.id);
        ASSERT_TRUE(record.has_value());
        EXPECT_EQ(record->length, raw->size());
        EXPECT_EQ(record->crc, BitwiseCrc32(*raw));
    }
}

TEST(BuiltInResources, Containers_AreThePackedRawFiles) {
    for (const auto& carried : kCarried) {
        SCOPED_TRACE(carried.raw_path);
        const auto raw = ReadWholeFile(carried.raw_path);
        ASSERT_TRUE(raw.has_value());
        const auto container = BuiltInResources().Find(carried.id);
        ASSERT_TRUE(container.has_value());
        const auto packed = PackLzari(*raw);
        EXPECT_TRUE(std::equal(container->begin(), container->end(), packed.begin(), packed.end()));
    }
}

TEST(BuiltInResources, OtherIds_AreNotCarried) {
    for (const std::uint32_t id : {0u, 1u, 168u, 172u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(id);
        EXPECT_FALSE(BuiltInResources().Find(id).has_value());
        EXPECT_FALSE(BuiltInResources().FindRecord(id).has_value());
    }
}

}  // namespace
