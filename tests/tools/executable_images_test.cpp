#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "tests/tools/bitwise_crc32.h"
#include "tests/tools/synthetic_pe.h"
#include "tools/executable_images.h"
#include "tools/image_report.h"
#include "tools/lzari_packer.h"
#include "tools/pe_resources.h"

namespace {

class CRecords final : public IResourceSource {
public:
    std::optional<std::span<const std::uint8_t>> Find(std::uint32_t) const override { return std::nullopt; }
    std::optional<SImageRecord> FindRecord(std::uint32_t id) const override {
        const auto it = records.find(id);
        return it == records.end() ? std::nullopt : std::optional<SImageRecord>(it->second);
    }
    std::map<std::uint32_t, SImageRecord> records;
};

std::vector<std::uint8_t> RawImage(std::uint32_t id) {
    std::vector<std::uint8_t> raw(500 + id);
    for (std::size_t i = 0; i < raw.size(); ++i) {
        raw[i] = static_cast<std::uint8_t>((i * id) ^ (i >> 3));
    }
    return raw;
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// A synthetic program carrying three packed images and a version record, checked
// against the records of those very images unless a test changes them.
class ExecutableListing : public ::testing::TestWithParam<EPeFormat> {
protected:
    ExecutableListing() {
        for (const std::uint32_t id : kCarriedImageIds) {
            const auto raw = RawImage(id);
            resources.push_back({kResourceTypeRcData, id, 0x0409, PackLzari(raw)});
            records.records[id] = {static_cast<std::uint32_t>(raw.size()), BitwiseCrc32(raw)};
        }
        resources.push_back(
            {kResourceTypeVersion, kVersionRecordName, 0x0409, BuildVersionRecord({2, 14186, 0, 0})});
    }

    SExecutableListing List() {
        pe = BuildSyntheticPe(resources, GetParam());
        return ListExecutable(decoder, pe.bytes, records, SystemAllocator());
    }

    CArithmeticCompression decoder;
    std::vector<SSyntheticResource> resources;
    CRecords records;
    SSyntheticPe pe;
};

TEST_P(ExecutableListing, TheBuildsImagesAndAVersionRecord_ListAsMatching) {
    const SExecutableListing listing = List();
    EXPECT_TRUE(listing.ok) << listing.table;
    EXPECT_TRUE(listing.errors.empty());
    for (const std::uint32_t id : kCarriedImageIds) {
        const auto raw = RawImage(id);
        char line[64];
        std::snprintf(line, sizeof line, "%4u  %10zu  %10zu", static_cast<unsigned>(id),
                      PackLzari(raw).size(), raw.size());
        EXPECT_TRUE(Contains(listing.table, line)) << line << "\n" << listing.table;
    }
    EXPECT_EQ(std::count(listing.table.begin(), listing.table.end(), '\n'), 5) << listing.table;
    EXPECT_TRUE(Contains(listing.table, "  ok\nproduct version 2.14186.0.0\n")) << listing.table;
}

TEST_P(ExecutableListing, AnImageThisBuildDidNotRecord_Fails) {
    records.records[IDR_BOOT_IMAGE].crc ^= 1;
    const SExecutableListing listing = List();
    EXPECT_FALSE(listing.ok);
    EXPECT_TRUE(Contains(listing.table, "MISMATCH")) << listing.table;
}

TEST_P(ExecutableListing, AMissingImage_IsListedAsNotCarriedAndFails) {
    resources.erase(resources.begin() + 2);  // the picture
    const SExecutableListing listing = List();
    EXPECT_FALSE(listing.ok);
    EXPECT_TRUE(Contains(listing.table, " 171  not carried")) << listing.table;
}

TEST_P(ExecutableListing, NoVersionRecord_Fails) {
    resources.pop_back();
    const SExecutableListing listing = List();
    EXPECT_FALSE(listing.ok);
    EXPECT_TRUE(Contains(listing.table, "product version unknown")) << listing.table;
    ASSERT_EQ(listing.errors.size(), 1u);
    EXPECT_TRUE(Contains(listing.errors[0], "no version record"));
}

TEST_P(ExecutableListing, AnUnreadableVersionRecord_FailsAndSaysWhy) {
    resources.back().bytes.resize(30);
    const SExecutableListing listing = List();
    EXPECT_FALSE(listing.ok);
    ASSERT_EQ(listing.errors.size(), 1u);
    EXPECT_TRUE(Contains(listing.errors[0], "version block length")) << listing.errors[0];
}

TEST_P(ExecutableListing, ADamagedPathToOneImage_NamesItAndFails) {
    pe = BuildSyntheticPe(resources, GetParam());
    Put32(pe.bytes, pe.resources[1].data_entry + 4, 0xFFFFFFF0u);
    const SExecutableListing listing = ListExecutable(decoder, pe.bytes, records, SystemAllocator());
    EXPECT_FALSE(listing.ok);
    EXPECT_TRUE(Contains(listing.table, " 170  not carried")) << listing.table;
    EXPECT_TRUE(Contains(listing.table, "product version 2.14186.0.0")) << listing.table;
    ASSERT_EQ(listing.errors.size(), 1u);
    EXPECT_TRUE(Contains(listing.errors[0], "resource 10/170")) << listing.errors[0];
}

TEST_P(ExecutableListing, UnreadableHeaders_ListNothingAndFail) {
    pe = BuildSyntheticPe(resources, GetParam());
    pe.bytes.resize(100);
    const SExecutableListing listing = ListExecutable(decoder, pe.bytes, records, SystemAllocator());
    EXPECT_FALSE(listing.ok);
    EXPECT_EQ(listing.table, "");
    ASSERT_EQ(listing.errors.size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Formats, ExecutableListing,
                         ::testing::Values(EPeFormat::kPe32Plus, EPeFormat::kPe32),
                         [](const ::testing::TestParamInfo<EPeFormat>& param) {
                             return param.param == EPeFormat::kPe32Plus ? std::string("Pe32Plus")
                                                                        : std::string("Pe32");
                         });

}  // namespace
