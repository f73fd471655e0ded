#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "tests/tools/bitwise_crc32.h"
#include "tools/image_report.h"
#include "tools/lzari_packer.h"

namespace {

class CFakeResources final : public IResourceSource {
public:
    std::optional<std::span<const std::uint8_t>> Find(std::uint32_t id) const override {
        const auto it = containers.find(id);
        if (it == containers.end()) {
            return std::nullopt;
        }
        return std::span<const std::uint8_t>(it->second);
    }
    std::optional<SImageRecord> FindRecord(std::uint32_t id) const override {
        const auto it = records.find(id);
        return it == records.end() ? std::nullopt : std::optional<SImageRecord>(it->second);
    }

    std::map<std::uint32_t, std::vector<std::uint8_t>> containers;
    std::map<std::uint32_t, SImageRecord> records;
};

std::vector<std::uint8_t> SampleImage() {
    std::vector<std::uint8_t> image;
    for (std::uint32_t i = 0; i < 3000; ++i) {
        image.push_back(static_cast<std::uint8_t>((i * 7) ^ (i >> 4)));
    }
    return image;
}

struct SReportCase {
    std::string name;
    bool carried;
    std::optional<SImageRecord> record;
    bool expect_matches;
    std::string expect_status;
};

class ImageReport : public ::testing::Test {
protected:
    SImageReport Inspect(std::uint32_t id) {
        SFirmwareImage image;
        return InspectImage(decoder, resources, SystemAllocator(), id, image);
    }

    CArithmeticCompression decoder;
    CFakeResources resources;
    const std::vector<std::uint8_t> raw = SampleImage();
    const SImageRecord true_record{static_cast<std::uint32_t>(raw.size()), BitwiseCrc32(raw)};
};

TEST_F(ImageReport, RecordCases_ReportMatchOnlyForTheRecordedImage) {
    const SReportCase cases[] = {
        {"recorded", true, true_record, true, " ok\n"},
        {"other crc", true, SImageRecord{true_record.length, true_record.crc ^ 1u}, false, "MISMATCH"},
        {"other length", true, SImageRecord{true_record.length + 1, true_record.crc}, false, "MISMATCH"},
        {"no record", true, std::nullopt, false, "NO RECORD"},
        {"not carried", false, true_record, false, "not carried"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        resources.containers.clear();
        resources.records.clear();
        if (c.carried) {
            resources.containers[IDR_BOOT_IMAGE] = PackLzari(raw);
        }
        if (c.record) {
            resources.records[IDR_BOOT_IMAGE] = *c.record;
        }
        const SImageReport report = Inspect(IDR_BOOT_IMAGE);
        EXPECT_EQ(report.found, c.carried);
        EXPECT_EQ(report.matches, c.expect_matches);
        if (c.carried) {
            EXPECT_EQ(report.unpacked_length, raw.size());
            EXPECT_EQ(report.crc, true_record.crc);
        }
        EXPECT_NE(FormatReport(report).find(c.expect_status), std::string::npos) << FormatReport(report);
    }
}

TEST_F(ImageReport, ContainerShorterThanItsLength_IsFoundButNotLoaded) {
    resources.containers[IDR_PICTURE] = {1, 2, 3};
    resources.records[IDR_PICTURE] = true_record;
    const SImageReport report = Inspect(IDR_PICTURE);
    EXPECT_TRUE(report.found);
    EXPECT_FALSE(report.loaded);
    EXPECT_FALSE(report.matches);
    EXPECT_NE(FormatReport(report).find("cannot be unpacked"), std::string::npos);
}

// The whole chain of the build: generated or supplied raw image, packer, carried
// container, decoder, record.
TEST(BuiltInImages, EveryCarriedImage_UnpacksToItsRecordedImage) {
    CArithmeticCompression decoder;
    for (const std::uint32_t id : kCarriedImageIds) {
        SCOPED_TRACE(id);
        SFirmwareImage image;
        const SImageReport report = InspectImage(decoder, BuiltInResources(), SystemAllocator(), id, image);
        EXPECT_TRUE(report.matches) << FormatReport(report);
    }
}

}  // namespace
