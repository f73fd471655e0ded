#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "tests/tools/synthetic_pe.h"
#include "tools/pe_resources.h"
#include "tools/version_resource.h"

namespace {

constexpr std::uint32_t kHighBit = 0x80000000u;

std::vector<std::uint8_t> Filler(std::size_t size, std::uint8_t seed) {
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<std::uint8_t>(seed + i * 13);
    }
    return bytes;
}

// The resources of the shipped program: three images and a version record. The
// order of this list is the order of SSyntheticPe::resources.
std::vector<SSyntheticResource> ShippedResources() {
    return {
        {kResourceTypeRcData, 169, 0x0409, Filler(301, 1)},
        {kResourceTypeRcData, 170, 0x0409, Filler(77, 2)},
        {kResourceTypeRcData, 171, 0x0409, Filler(5, 3)},
        {kResourceTypeVersion, kVersionRecordName, 0x0409, BuildVersionRecord({2, 14186, 0, 0})},
    };
}
constexpr std::size_t kBoot = 1;     // index of RCDATA 170
constexpr std::size_t kVersion = 3;  // index of the version record

// An exact-size heap copy, so that AddressSanitizer sees a read one byte past the end.
class CExactCopy {
public:
    explicit CExactCopy(const std::vector<std::uint8_t>& bytes)
        : m_size(bytes.size()), m_bytes(std::make_unique<std::uint8_t[]>(bytes.size())) {
        std::copy(bytes.begin(), bytes.end(), m_bytes.get());
    }
    std::span<const std::uint8_t> Span() const { return {m_bytes.get(), m_size}; }

private:
    std::size_t m_size;
    std::unique_ptr<std::uint8_t[]> m_bytes;
};

bool Within(std::span<const std::uint8_t> part, std::span<const std::uint8_t> file) {
    return part.data() >= file.data() && part.data() + part.size() <= file.data() + file.size();
}

// Opens the file and looks up every shipped resource: the first error met, or "".
std::string FirstError(std::span<const std::uint8_t> file) {
    std::string error;
    const auto pe = CPeResources::Open(file, error);
    if (!pe) {
        return error.empty() ? "(Open failed without a message)" : error;
    }
    for (const auto& resource : ShippedResources()) {
        const SPeResource found = pe->Find(resource.type, resource.name);
        if (!found.error.empty()) {
            return found.bytes ? "(bytes returned with an error)" : found.error;
        }
        if (found.bytes && !Within(*found.bytes, file)) {
            return "(bytes outside the file)";
        }
    }
    return "";
}

class PeFormats : public ::testing::TestWithParam<EPeFormat> {};

TEST_P(PeFormats, EveryResource_IsFoundWithItsBytes) {
    const auto resources = ShippedResources();
    const SSyntheticPe pe = BuildSyntheticPe(resources, GetParam());
    const CExactCopy file(pe.bytes);
    std::string error;
    const auto reader = CPeResources::Open(file.Span(), error);
    ASSERT_TRUE(reader) << error;
    for (const auto& resource : resources) {
        SCOPED_TRACE(resource.name);
        const SPeResource found = reader->Find(resource.type, resource.name);
        EXPECT_EQ(found.error, "");
        ASSERT_TRUE(found.bytes);
        EXPECT_TRUE(std::equal(found.bytes->begin(), found.bytes->end(), resource.bytes.begin(),
                               resource.bytes.end()));
    }
}

TEST_P(PeFormats, ResourcesNotListed_AreAbsentWithoutError) {
    const SSyntheticPe pe = BuildSyntheticPe(ShippedResources(), GetParam());
    const CExactCopy file(pe.bytes);
    std::string error;
    const auto reader = CPeResources::Open(file.Span(), error);
    ASSERT_TRUE(reader) << error;
    const std::pair<std::uint32_t, std::uint32_t> absent[] = {
        {kResourceTypeRcData, 168}, {kResourceTypeRcData, 172}, {kResourceTypeVersion, 2}, {3, 169}};
    for (const auto& [type, name] : absent) {
        SCOPED_TRACE(std::to_string(type) + "/" + std::to_string(name));
        const SPeResource found = reader->Find(type, name);
        EXPECT_FALSE(found.bytes);
        EXPECT_EQ(found.error, "");
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, PeFormats, ::testing::Values(EPeFormat::kPe32Plus, EPeFormat::kPe32),
                         [](const ::testing::TestParamInfo<EPeFormat>& param) {
                             return param.param == EPeFormat::kPe32Plus ? std::string("Pe32Plus")
                                                                        : std::string("Pe32");
                         });

TEST(PeResources, NoResourceDirectory_OpensAndFindsNothing) {
    SSyntheticPe pe = BuildSyntheticPe(ShippedResources(), EPeFormat::kPe32Plus);
    Put32(pe.bytes, pe.resource_data_directory, 0);
    Put32(pe.bytes, pe.resource_data_directory + 4, 0);
    const CExactCopy file(pe.bytes);
    std::string error;
    const auto reader = CPeResources::Open(file.Span(), error);
    ASSERT_TRUE(reader) << error;
    const SPeResource found = reader->Find(kResourceTypeRcData, 169);
    EXPECT_FALSE(found.bytes);
    EXPECT_EQ(found.error, "");
}

// A string-named entry holds an offset, not an id, even when the offset's value is one.
TEST(PeResources, StringNamedEntry_IsNotTakenForTheIdItsOffsetSpells) {
    SSyntheticPe pe = BuildSyntheticPe(ShippedResources(), EPeFormat::kPe32Plus);
    Put32(pe.bytes, pe.resources[kBoot].name_entry, kHighBit | 170);
    const CExactCopy file(pe.bytes);
    std::string error;
    const auto reader = CPeResources::Open(file.Span(), error);
    ASSERT_TRUE(reader) << error;
    EXPECT_FALSE(reader->Find(kResourceTypeRcData, 170).bytes);
    EXPECT_TRUE(reader->Find(kResourceTypeRcData, 171).bytes);
}

// ---- Damaged and hostile files ---------------------------------------------------------

struct SDamage {
    const char* name;
    std::function<void(SSyntheticPe&)> damage;
    const char* expected_error;  // a part of the message that names what is wrong
    const char* also_expected = "";
};

void PrintTo(const SDamage& d, std::ostream* out) {
    *out << d.name;
}

void Truncate(SSyntheticPe& pe, std::size_t size) {
    pe.bytes.resize(size);
}

const SDamage kDamages[] = {
    // Truncated headers.
    {"Empty", [](SSyntheticPe& pe) { Truncate(pe, 0); }, "too short for a DOS header"},
    {"CutInDosHeader", [](SSyntheticPe& pe) { Truncate(pe, 0x3E); }, "too short for a DOS header"},
    {"CutInPeSignature", [](SSyntheticPe& pe) { Truncate(pe, pe.pe_header + 2); }, "lies outside the file"},
    {"CutInCoffHeader", [](SSyntheticPe& pe) { Truncate(pe, pe.pe_header + 10); }, "COFF header runs past"},
    {"CutInOptionalHeader", [](SSyntheticPe& pe) { Truncate(pe, pe.optional_header + 100); },
     "optional header (240 bytes) runs past"},
    {"CutInSectionTable", [](SSyntheticPe& pe) { Truncate(pe, pe.section_table + 50); },
     "section table (2 sections) runs past"},
    {"CutInResourceDirectory", [](SSyntheticPe& pe) { Truncate(pe, pe.resource_directory + 8); },
     "resource directory (RVA 0x3000"},
    {"CutInLastData", [](SSyntheticPe& pe) { Truncate(pe, pe.resources[kVersion].data + 3); },
     "lies outside the file"},
    // Wrong magic numbers.
    {"WrongDosMagic", [](SSyntheticPe& pe) { pe.bytes[1] = 'X'; }, "no MZ signature"},
    {"WrongPeSignature", [](SSyntheticPe& pe) { pe.bytes[pe.pe_header + 1] = 'X'; },
     "no PE signature at 0x40"},
    {"WrongOptionalMagic", [](SSyntheticPe& pe) { Put16(pe.bytes, pe.optional_header, 0x0107); },
     "unknown optional header magic 0x107"},
    // Headers that point outside the file or their own bounds.
    {"PeOffsetNearFourGiB", [](SSyntheticPe& pe) { Put32(pe.bytes, 0x3C, 0xFFFFFFFEu); },
     "lies outside the file"},
    {"OptionalHeaderTooSmallForItsFields", [](SSyntheticPe& pe) { Put16(pe.bytes, pe.pe_header + 20, 64); },
     "too short (64 bytes) for its fixed fields"},
    {"OptionalHeaderEndsBeforeResourceEntry",
     [](SSyntheticPe& pe) { Put16(pe.bytes, pe.pe_header + 20, 112 + 16); },
     "too short for the resource directory entry"},
    {"SectionCountBeyondTheFile", [](SSyntheticPe& pe) { Put16(pe.bytes, pe.pe_header + 6, 0xFFFF); },
     "section table (65535 sections) runs past"},
    {"ResourceDirectoryInNoSection",
     [](SSyntheticPe& pe) { Put32(pe.bytes, pe.resource_data_directory, 0x9000); }, "lies in no section"},
    {"ResourceDirectoryNearFourGiB",
     [](SSyntheticPe& pe) { Put32(pe.bytes, pe.resource_data_directory, 0xFFFFFFF0u); },
     "lies in no section"},
    {"ResourceDirectoryLongerThanItsSection",
     [](SSyntheticPe& pe) { Put32(pe.bytes, pe.resource_data_directory + 4, 0xFFFFFFFFu); },
     "runs past the end of its section"},
    {"ResourceDirectoryTooSmallForItsRoot",
     [](SSyntheticPe& pe) { Put32(pe.bytes, pe.resource_data_directory + 4, 8); }, "too small for its root"},
    {"ResourceSectionDataOutsideTheFile",
     [](SSyntheticPe& pe) { Put32(pe.bytes, pe.resource_section_header + 20, 0xFFFFFF00u); },
     "lies outside the file"},
    // A damaged resource tree.
    {"RootEntriesRunPastTheDirectory",
     [](SSyntheticPe& pe) { Put16(pe.bytes, pe.resource_directory + 14, 0xFFFF); },
     "65535 entries of the resource directory at 0x0 run past"},
    {"TypeDirectoryOutsideTheResourceData",
     [](SSyntheticPe& pe) { Put32(pe.bytes, pe.resources[kBoot].type_entry + 4, kHighBit | 0x7FFFFFF0u); },
     "directory at 0x7FFFFFF0 lies outside"},
    {"DataEntryOutsideTheResourceData",
     [](SSyntheticPe& pe) { Put32(pe.bytes, pe.resources[kBoot].language_entry + 4, 0x7FFFFFF0u); },
     "data entry at 0x7FFFFFF0 lies outside"},
    {"DataSizeRunsPastItsSection",
     [](SSyntheticPe& pe) { Put32(pe.bytes, pe.resources[kBoot].data_entry + 4, 0xFFFFFFFFu); },
     "resource 10/170: data (RVA", "4294967295 bytes) runs past the end of its section"},
    {"DataRvaInNoSection", [](SSyntheticPe& pe) { Put32(pe.bytes, pe.resources[kBoot].data_entry, 0x100); },
     "resource 10/170: data (RVA 0x100", "lies in no section"},
    {"DataPastTheEndOfTheFile",
     [](SSyntheticPe& pe) {
         // The directory covers the tree only, so the data alone lies past the cut.
         Put32(pe.bytes, pe.resource_data_directory + 4, pe.tree_size);
         Truncate(pe, pe.resources[kVersion].data + 3);
     },
     "resource 16/1: data (RVA", "lies outside the file"},
    {"TypeEntryLoopsToTheRoot",
     [](SSyntheticPe& pe) { Put32(pe.bytes, pe.resources[kBoot].type_entry + 4, kHighBit); },
     "loops back to an ancestor"},
    {"NameEntryLoopsToTheRoot",
     [](SSyntheticPe& pe) { Put32(pe.bytes, pe.resources[kBoot].name_entry + 4, kHighBit); },
     "loops back to an ancestor"},
    {"NameEntryLoopsToItsOwnDirectory",
     [](SSyntheticPe& pe) {
         Put32(pe.bytes, pe.resources[kBoot].name_entry + 4, kHighBit | pe.resources[kBoot].type_directory);
     },
     "loops back to an ancestor"},
    {"LanguageEntryLeadsDeeper",
     [](SSyntheticPe& pe) {
         Put32(pe.bytes, pe.resources[kBoot].language_entry + 4,
               kHighBit | pe.resources[kVersion].name_directory);
     },
     "deeper than 3 levels"},
    {"LanguageEntryLeadsBackToTheRoot",
     [](SSyntheticPe& pe) { Put32(pe.bytes, pe.resources[kBoot].language_entry + 4, kHighBit); },
     "deeper than 3 levels"},
    {"DataEntryAtTheTypeLevel",
     [](SSyntheticPe& pe) {
         Put32(pe.bytes, pe.resources[kBoot].type_entry + 4, pe.resources[kBoot].data_entry_offset);
     },
     "a data entry stands where level 2"},
    {"DataEntryAtTheNameLevel",
     [](SSyntheticPe& pe) {
         Put32(pe.bytes, pe.resources[kBoot].name_entry + 4, pe.resources[kBoot].data_entry_offset);
     },
     "a data entry stands where level 3"},
};

class DamagedPe : public ::testing::TestWithParam<SDamage> {};

TEST_P(DamagedPe, IsRefusedWithAMessageThatNamesTheFault) {
    SSyntheticPe pe = BuildSyntheticPe(ShippedResources(), EPeFormat::kPe32Plus);
    ASSERT_EQ(FirstError(CExactCopy(pe.bytes).Span()), "");
    GetParam().damage(pe);
    const CExactCopy file(pe.bytes);
    const std::string error = FirstError(file.Span());
    EXPECT_NE(error.find(GetParam().expected_error), std::string::npos) << error;
    EXPECT_NE(error.find(GetParam().also_expected), std::string::npos) << error;
}

INSTANTIATE_TEST_SUITE_P(Table, DamagedPe, ::testing::ValuesIn(kDamages),
                         [](const ::testing::TestParamInfo<SDamage>& param) {
                             return std::string(param.param.name);
                         });

// Every cut of the file, headers, tree and data: an error, never a read past the cut.
TEST(DamagedPe, EveryTruncation_IsRefused) {
    const SSyntheticPe pe = BuildSyntheticPe(ShippedResources(), EPeFormat::kPe32Plus);
    for (std::size_t size = 0; size < pe.bytes.size(); ++size) {
        SCOPED_TRACE(size);
        const CExactCopy file(std::vector<std::uint8_t>(pe.bytes.begin(), pe.bytes.begin() + size));
        EXPECT_NE(FirstError(file.Span()), "");
    }
}

// ---- The version record ----------------------------------------------------------------

TEST(VersionRecord, ProductVersion_IsReadFromTheFixedPart) {
    const auto record = BuildVersionRecord({2, 14186, 7, 65535});
    std::string error;
    const auto version = ReadProductVersion(CExactCopy(record).Span(), error);
    ASSERT_TRUE(version) << error;
    EXPECT_EQ(FormatProductVersion(*version), "2.14186.7.65535");
}

struct SVersionDamage {
    const char* name;
    std::function<void(std::vector<std::uint8_t>&)> damage;
    const char* expected_error;
};

void PrintTo(const SVersionDamage& d, std::ostream* out) {
    *out << d.name;
}

const SVersionDamage kVersionDamages[] = {
    {"Empty", [](std::vector<std::uint8_t>& r) { r.clear(); }, "too short"},
    {"HeaderOnly", [](std::vector<std::uint8_t>& r) { r.resize(5); }, "too short"},
    {"BlockLongerThanRecord", [](std::vector<std::uint8_t>& r) { Put16(r, 0, 0xFFFF); }, "does not fit"},
    {"BlockShorterThanItsHeader", [](std::vector<std::uint8_t>& r) { Put16(r, 0, 4); }, "does not fit"},
    {"BlockEndsInItsKey", [](std::vector<std::uint8_t>& r) { Put16(r, 0, 20); }, "no VS_VERSION_INFO key"},
    {"WrongKey", [](std::vector<std::uint8_t>& r) { Put16(r, 8, 'T'); }, "no VS_VERSION_INFO key"},
    {"KeyNotTerminated", [](std::vector<std::uint8_t>& r) { Put16(r, 36, 'X'); }, "no VS_VERSION_INFO key"},
    {"ValueTooShort", [](std::vector<std::uint8_t>& r) { Put16(r, 2, 20); }, "no room for its fixed"},
    {"BlockEndsInTheValue", [](std::vector<std::uint8_t>& r) { Put16(r, 0, 60); }, "no room for its fixed"},
    {"RecordEndsInTheValue", [](std::vector<std::uint8_t>& r) { r.resize(60); }, "does not fit"},
    {"WrongSignature", [](std::vector<std::uint8_t>& r) { Put32(r, 40, 0xFEEF04BCu); },
     "lacks its signature"},
};

class DamagedVersionRecord : public ::testing::TestWithParam<SVersionDamage> {};

TEST_P(DamagedVersionRecord, IsRefusedWithAMessage) {
    auto record = BuildVersionRecord({2, 14186, 0, 0});
    GetParam().damage(record);
    std::string error;
    const auto version = ReadProductVersion(CExactCopy(record).Span(), error);
    EXPECT_FALSE(version);
    EXPECT_NE(error.find(GetParam().expected_error), std::string::npos) << error;
}

INSTANTIATE_TEST_SUITE_P(Table, DamagedVersionRecord, ::testing::ValuesIn(kVersionDamages),
                         [](const ::testing::TestParamInfo<SVersionDamage>& param) {
                             return std::string(param.param.name);
                         });

}  // namespace
