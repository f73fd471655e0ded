// Every input that ever made tests/fuzz/fuzz_whole_run fail is kept here as a named
// test, replayed through the same checks (tests/fault/hostile_run.h). The fuzzer has
// found no failure so far; the scripts below pin the harness on its edges: each reply
// mode, each writer, and runs that go all the way to the restart.

#include <gtest/gtest.h>

#include <cstdint>
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
    {"honest_current_boot_loader", Honest(0, 40)},
    {"honest_early_boot_loader", Honest(1, 40)},
    {"honest_boot_mode", Honest(2, 40)},
    {"downgrade_declined", Honest(3, 40)},
    {"downgrade_accepted", Honest(7, 40)},
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

}  // namespace
