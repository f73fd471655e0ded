#include <gtest/gtest.h>

#include <ostream>

#include "app/build_string.h"

namespace {

class CFixedVersionRecord final : public IVersionRecord {
public:
    explicit CFixedVersionRecord(std::optional<SProductVersion> version) : m_version(version) {}
    std::optional<SProductVersion> ReadProductVersion() override {
        ++reads;
        return m_version;
    }
    int reads = 0;

private:
    std::optional<SProductVersion> m_version;
};

struct SBuildCase {
    const char* name;
    std::optional<SProductVersion> version;
    const char* expected;
};

void PrintTo(const SBuildCase& c, std::ostream* out) {
    *out << c.name;
}

class BuildString : public ::testing::TestWithParam<SBuildCase> {};

TEST_P(BuildString, FormsTheBuildFromTheProductVersion) {
    CFixedVersionRecord record(GetParam().version);
    EXPECT_EQ(GetBuildString(record), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, BuildString,
    ::testing::Values(
        SBuildCase{"ReleaseBuild", SProductVersion{{2, 14186, 0, 0}}, "14186"},
        SBuildCase{"Beta", SProductVersion{{2, 14186, 0, 3}}, "14186 Beta 3"},
        // The fourth component is tested first, so the third does not show.
        SBuildCase{"BetaHidesTheThirdComponent", SProductVersion{{2, 14186, 5, 3}}, "14186 Beta 3"},
        // The first component never shows.
        SBuildCase{"FirstComponentNeverShows", SProductVersion{{3, 14186, 0, 0}}, "14186"},
        SBuildCase{"BuildZero", SProductVersion{{1, 0, 0, 0}}, "0"},
        SBuildCase{"NoVersionRecord", std::nullopt, "0"},
        // Dotted form: second, third, and the fourth component (0).
        SBuildCase{"ThirdComponentGivesTheDottedForm", SProductVersion{{2, 14186, 5, 0}}, "14186.5.0"},
        SBuildCase{"LargestComponents", SProductVersion{{0, 65535, 65535, 65535}}, "65535 Beta 65535"}),
    [](const ::testing::TestParamInfo<SBuildCase>& param) { return param.param.name; });

TEST(BuildStringReading, ReadsTheRecordAfreshAtEveryCall) {
    CFixedVersionRecord record(SProductVersion{{2, 14186, 0, 0}});
    GetBuildString(record);
    GetBuildString(record);
    EXPECT_EQ(record.reads, 2);
}

TEST(SystemVersionRecordTest, CarriesTheVersionOfTheBuild) {
    const std::optional<SProductVersion> version = SystemVersionRecord().ReadProductVersion();
    ASSERT_TRUE(version.has_value());
    EXPECT_EQ(version->component[0], 2);
    EXPECT_EQ(version->component[1], 14186);
    EXPECT_EQ(GetBuildString(SystemVersionRecord()), "14186");
}

}  // namespace
