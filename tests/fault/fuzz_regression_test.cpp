// Every input that ever made tests/fuzz/fuzz_whole_run fail is kept here as a named
// test, replayed through the same checks (tests/fault/hostile_run.h). The fuzzer has
// found no failure so far; the scripts below pin the harness on its edges: each reply
// mode, each writer, and runs that go all the way to the restart. A writer that
// answers everything must also end up updated: a harness whose runs all failed
// soundly would keep every rule.

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "tests/fault/hostile_run.h"

namespace {

struct SScript {
    const char* name;
    std::vector<std::uint8_t> bytes;
};

std::vector<std::uint8_t> Honest(std::uint8_t writer, std::size_t replies) {
    std::vector<std::uint8_t> script(1 + replies, 0);
    script[0] = writer;
    return script;
}

const SScript kHarnessEdges[] = {
    {"empty", {}},
    {"writer_only", {0x00}},
    {"unplugged_after_identify", {0x00, 0x00, 0x07}},
    {"short_read_of_identify", {0x00, 0x02, 0x1E}},
    {"raw_identify_claiming_huge_payload",
     {0x00, 0x03, 0x20, 0x00, 0x43, 0x56, 0, 0, 0, 0, 0x01, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0x10, 0,
      0,    0,    0,    0,    0,    0,    0, 0, 0, 0, 0,    0,    0,    0,    0,    0,    0,    0}},
    {"read_back_length_edited_to_max", {0x00, 0, 0, 0, 0, 0, 0, 0, 0x04, 0x01, 0xFF, 0xFF, 0xFF, 0xFF}},
    {"info_block_cut_short", {0x00, 0, 0, 0, 0x05, 0x08, 0x00}},
    {"info_block_geometry_edited", {0x00, 0, 0, 0, 0x04, 0x01, 0x00, 0x00, 0x10, 0x00}},
    {"every_write_fails", {0x00, 0x18, 0x18, 0x18, 0x18}},
    {"junk_after_every_reply", {0x00, 0x06, 0x04, 1, 2, 3, 4, 0x06, 0x00, 0x06, 0xFF}},
};

TEST(FuzzRegression, WholeRunHarnessEdges_KeepEveryRule) {
    for (const SScript& script : kHarnessEdges) {
        SCOPED_TRACE(script.name);
        EXPECT_EQ(hostile_run::CheckWholeRun(script.bytes.data(), script.bytes.size()), "");
    }
}

using hostile_run::EBootImage;

// Scripts whose writer answers every request, and what it must be left with.
struct SHonestCase {
    const char* name;
    std::uint8_t writer;  // byte 0 of the script
    bool updated;         // both images (or the application alone) verified, then restarted
    EBootImage bootImage;
    std::uint32_t downloads;
};

void PrintTo(const SHonestCase& c, std::ostream* out) {
    *out << c.name;
}

class HonestWriter : public ::testing::TestWithParam<SHonestCase> {};

TEST_P(HonestWriter, IsUpdatedVerifiedAndRestarted) {
    const SHonestCase& c = GetParam();
    const std::vector<std::uint8_t> script = Honest(c.writer, 40);
    const hostile_run::SWholeRun run = hostile_run::RunWholeScript(script.data(), script.size());

    EXPECT_EQ("", run.failure);
    EXPECT_EQ(c.bootImage, run.writer.bootImage);
    EXPECT_EQ(c.updated, run.writer.applicationImageInMemory);
    EXPECT_EQ(c.downloads, run.writer.downloads);
    EXPECT_EQ(c.downloads, run.writer.downloadsMatchingCrc);
    EXPECT_EQ(c.updated, run.writer.restartReceived);
    EXPECT_EQ(c.updated, run.writer.dialogFinished);
}

INSTANTIATE_TEST_SUITE_P(Scripts, HonestWriter,
                         ::testing::Values(
                             // An outdated current boot loader: the boot image goes to 0x40000 as it is.
                             SHonestCase{"CurrentBootLoader", 0, true, EBootImage::At40000, 2},
                             // An early boot loader: erased, then laid out at 0 with header and reserve.
                             SHonestCase{"EarlyBootLoader", 1, true, EBootImage::LaidOutAt0, 2},
                             // In boot mode the boot loader's own build (3000) counts: an early one.
                             SHonestCase{"BootMode", 2, true, EBootImage::LaidOutAt0, 2},
                             // A newer application: the user is asked; no changes nothing, yes updates the
                             // application alone (the boot loader is up to date).
                             SHonestCase{"DowngradeDeclined", 3, false, EBootImage::None, 0},
                             SHonestCase{"DowngradeAccepted", 7, true, EBootImage::None, 1}),
                         [](const ::testing::TestParamInfo<SHonestCase>& param) {
                             return std::string(param.param.name);
                         });

}  // namespace
