#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "images/crc32.h"
#include "images/firmware_image.h"
#include "tests/images/test_support.h"

namespace {

using tessel_test::CCountingAllocator;
using tessel_test::CFailingAllocator;
using tessel_test::Container;
using tessel_test::CTestResources;

constexpr std::uint32_t kId = IDR_BOOT_IMAGE;
constexpr std::uint32_t kBootSlack = 256;

struct SVector {
    std::vector<std::uint8_t> raw;
    std::vector<std::uint8_t> container;
    std::uint32_t crc = 0;
};

SVector LoadVector(const char* name) {
    SVector vector;
    const auto dir = tessel_test::VectorDir();
    if (!dir) {
        return vector;
    }
    auto raw = tessel_test::ReadFile(*dir / name);
    auto packed = tessel_test::ReadFile(*dir / (std::string(name) + ".lzari"));
    if (raw && packed) {
        vector.raw = std::move(*raw);
        vector.container = std::move(*packed);
        CCrc32 crc;
        crc.Update(vector.raw.data(), vector.raw.size());
        vector.crc = crc.Value();
    }
    return vector;
}

std::uint32_t CrcOfImage(const SFirmwareImage& image) {
    CCrc32 crc;
    crc.Update(image.data.get(), image.length);
    return crc.Value();
}

TEST(LoadFirmwareImage, NormalLoadUnpacksTheStoredLength) {
    const auto vector = LoadVector("09_code_133488.bin");
    ASSERT_FALSE(vector.container.empty());
    CTestResources resources;
    resources.Add(kId, vector.container);
    resources.AddRecord(kId, {static_cast<std::uint32_t>(vector.raw.size()), vector.crc});
    CCountingAllocator allocator;
    CArithmeticCompression decoder;

    const auto image = LoadFirmwareImage(decoder, kId, kBootSlack, resources, allocator);
    ASSERT_FALSE(image.Empty());
    EXPECT_EQ(allocator.calls, 1);
    EXPECT_EQ(allocator.lastSize, 133488u + kBootSlack);
    EXPECT_EQ(image.storedLength, 133488u);
    EXPECT_EQ(image.length, 133488u);
    EXPECT_EQ(image.capacity, 133488u + kBootSlack);
    EXPECT_TRUE(std::equal(vector.raw.begin(), vector.raw.end(), image.data.get()));
    EXPECT_EQ(CrcOfImage(image), 0x63879902u);
    EXPECT_TRUE(IsRecordedImage(image, CrcOfImage(image), kId, resources));
}

TEST(LoadFirmwareImage, OneDecoderServesTwoLoads) {
    const auto boot = LoadVector("09_code_133488.bin");
    const auto app = LoadVector("10_image_385088.bin");
    ASSERT_FALSE(boot.container.empty());
    ASSERT_FALSE(app.container.empty());
    CTestResources resources;
    resources.Add(IDR_BOOT_IMAGE, boot.container);
    resources.Add(IDR_APPLICATION_IMAGE, app.container);
    CArithmeticCompression decoder;
    const auto first = LoadFirmwareImage(decoder, IDR_BOOT_IMAGE, 256, resources, SystemAllocator());
    const auto second = LoadFirmwareImage(decoder, IDR_APPLICATION_IMAGE, 1024, resources, SystemAllocator());
    ASSERT_FALSE(first.Empty());
    ASSERT_FALSE(second.Empty());
    EXPECT_EQ(CrcOfImage(first), boot.crc);
    EXPECT_EQ(CrcOfImage(second), app.crc);
    EXPECT_EQ(second.capacity, 385088u + 1024u);
}

TEST(LoadFirmwareImage, MissingResourceIsEmpty) {
    CTestResources resources;
    CCountingAllocator allocator;
    CArithmeticCompression decoder;
    const auto image = LoadFirmwareImage(decoder, kId, kBootSlack, resources, allocator);
    EXPECT_TRUE(image.Empty());
    EXPECT_EQ(image.length, 0u);
    EXPECT_EQ(image.capacity, 0u);
    EXPECT_EQ(allocator.calls, 0);
}

TEST(LoadFirmwareImage, ResourceShorterThanFourBytesIsEmpty) {
    for (std::size_t size = 0; size < 4; ++size) {
        SCOPED_TRACE(size);
        CTestResources resources;
        resources.Add(kId, std::vector<std::uint8_t>(size, 0));
        CCountingAllocator allocator;
        CArithmeticCompression decoder;
        EXPECT_TRUE(LoadFirmwareImage(decoder, kId, kBootSlack, resources, allocator).Empty());
        EXPECT_EQ(allocator.calls, 0);
    }
}

TEST(LoadFirmwareImage, LengthPlusSlackBeyond32BitsIsEmpty) {
    CTestResources resources;
    resources.Add(kId, Container(0xFFFFFFFFu - kBootSlack + 1, std::vector<std::uint8_t>{1, 2, 3}));
    resources.Add(kId + 1, Container(0xFFFFFFFFu, std::vector<std::uint8_t>{1, 2, 3}));
    CFailingAllocator allocator;
    CArithmeticCompression decoder;
    EXPECT_TRUE(LoadFirmwareImage(decoder, kId, kBootSlack, resources, allocator).Empty());
    EXPECT_TRUE(LoadFirmwareImage(decoder, kId + 1, kBootSlack, resources, allocator).Empty());
    EXPECT_EQ(allocator.calls, 0);
}

TEST(LoadFirmwareImage, LengthPlusSlackOfExactly32BitsIsAttempted) {
    CTestResources resources;
    resources.Add(kId, Container(0xFFFFFFFFu - kBootSlack, std::vector<std::uint8_t>{1, 2, 3}));
    CFailingAllocator allocator;  // so the test never holds 4 GiB
    CArithmeticCompression decoder;
    EXPECT_TRUE(LoadFirmwareImage(decoder, kId, kBootSlack, resources, allocator).Empty());
    EXPECT_EQ(allocator.calls, 1);
    EXPECT_EQ(allocator.lastSize, 0xFFFFFFFFu);
}

TEST(LoadFirmwareImage, SlackTooSmallForAnOverrunIsEmpty) {
    CTestResources resources;
    resources.Add(kId, Container(10, std::vector<std::uint8_t>{1, 2, 3}));
    CCountingAllocator allocator;
    CArithmeticCompression decoder;
    EXPECT_TRUE(LoadFirmwareImage(decoder, kId, 58, resources, allocator).Empty());
    EXPECT_EQ(allocator.calls, 0);
    const auto image = LoadFirmwareImage(decoder, kId, 59, resources, allocator);
    EXPECT_FALSE(image.Empty());
    EXPECT_GE(image.length, 10u);
    EXPECT_LE(image.length, image.capacity);
}

TEST(LoadFirmwareImage, AllocationFailureIsEmptyAndUnpacksNothing) {
    const auto vector = LoadVector("03_abc.txt");
    ASSERT_FALSE(vector.container.empty());
    CTestResources resources;
    resources.Add(kId, vector.container);
    CFailingAllocator allocator;
    CArithmeticCompression decoder;
    const auto image = LoadFirmwareImage(decoder, kId, kBootSlack, resources, allocator);
    EXPECT_TRUE(image.Empty());
    EXPECT_EQ(allocator.calls, 1);
    EXPECT_EQ(allocator.lastSize, 3u + kBootSlack);
    EXPECT_EQ(image.length, 0u);
    EXPECT_EQ(image.capacity, 0u);
    EXPECT_FALSE(IsRecordedImage(image, 0xCADBBE3Du, kId, resources));
}

TEST(LoadFirmwareImage, StoredLengthZeroIsAnEmptyImageWithTheStartCrc) {
    CTestResources resources;
    resources.Add(kId, std::vector<std::uint8_t>{0, 0, 0, 0});
    resources.AddRecord(kId, {0, 0xFFFFFFFFu});
    CArithmeticCompression decoder;
    const auto image = LoadFirmwareImage(decoder, kId, kBootSlack, resources, SystemAllocator());
    ASSERT_FALSE(image.Empty());
    EXPECT_EQ(image.length, 0u);
    EXPECT_EQ(image.storedLength, 0u);
    EXPECT_EQ(image.capacity, kBootSlack);
    EXPECT_EQ(CrcOfImage(image), 0xFFFFFFFFu);
    EXPECT_TRUE(IsRecordedImage(image, CrcOfImage(image), kId, resources));
}

TEST(LoadFirmwareImage, LengthWithoutStreamUnpacksNothing) {
    CTestResources resources;
    resources.Add(kId, Container(100, {}));
    resources.AddRecord(kId, {100, 0x12345678u});
    CArithmeticCompression decoder;
    const auto image = LoadFirmwareImage(decoder, kId, kBootSlack, resources, SystemAllocator());
    ASSERT_FALSE(image.Empty());
    EXPECT_EQ(image.length, 0u);
    EXPECT_EQ(image.storedLength, 100u);
    EXPECT_FALSE(IsRecordedImage(image, 0x12345678u, kId, resources));
}

// IsRecordedImage over an image built by hand, one condition broken at a time.
class IsRecordedImageTest : public ::testing::Test {
protected:
    void SetUp() override {
        image.data = SystemAllocator().Allocate(16 + 64);
        image.capacity = 16 + 64;
        image.length = 16;
        image.storedLength = 16;
        resources.AddRecord(kId, {16, 0xABCDEF01u});
    }
    SFirmwareImage image;
    CTestResources resources;
};

TEST_F(IsRecordedImageTest, TrueWhenEverythingAgrees) {
    EXPECT_TRUE(IsRecordedImage(image, 0xABCDEF01u, kId, resources));
}

TEST_F(IsRecordedImageTest, FalseWhenUnpackedLengthDiffersFromStored) {
    image.length = 17;  // a damaged stream's last match ran past the stored length
    EXPECT_FALSE(IsRecordedImage(image, 0xABCDEF01u, kId, resources));
}

TEST_F(IsRecordedImageTest, FalseWhenStoredLengthDiffersFromRecord) {
    image.length = 15;
    image.storedLength = 15;
    EXPECT_FALSE(IsRecordedImage(image, 0xABCDEF01u, kId, resources));
}

TEST_F(IsRecordedImageTest, FalseWhenCrcDiffers) {
    EXPECT_FALSE(IsRecordedImage(image, 0xABCDEF00u, kId, resources));
}

TEST_F(IsRecordedImageTest, FalseWithoutRecord) {
    EXPECT_FALSE(IsRecordedImage(image, 0xABCDEF01u, kId + 1, resources));
}

TEST_F(IsRecordedImageTest, FalseForAnEmptyResult) {
    image.data.reset();
    EXPECT_FALSE(IsRecordedImage(image, 0xABCDEF01u, kId, resources));
}

}  // namespace
