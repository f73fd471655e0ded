// The boot geometry comes from the writer's information block. A writer reporting
// larger blocks than the default makes the read-back buffer grow to two of them; one
// whose blocks cannot hold the image gets nothing sent and the run fails.

#include <gtest/gtest.h>

#include <ostream>

#include "tests/fault/fault_run.h"
#include "usb/usb_codes.h"

namespace {

struct SGeometryCase {
    const char* name;
    std::uint32_t blockSize;
    bool success;
    std::uint32_t bootChunks;
    std::uint32_t bootReadPieces;
};

void PrintTo(const SGeometryCase& c, std::ostream* out) {
    *out << c.name;
}

class ReportedGeometry : public ::testing::TestWithParam<SGeometryCase> {};

TEST_P(ReportedGeometry, ReadBackFollowsTheBlocksOrTheRunFailsSoundly) {
    const SGeometryCase& c = GetParam();
    SFaultRun run(Solenne(8000));
    run.writer.Behaviour().reportedBootBlockSize = c.blockSize;
    run.Run();

    EXPECT_EQ(run.InvariantBreaches(), std::vector<std::string>{});
    EXPECT_EQ(c.success, run.Succeeded()) << run.Outcome();
    if (!c.success) {
        EXPECT_EQ("Unable to program your writer.  Error Code 111", run.Outcome());
    }
    EXPECT_EQ(c.bootChunks, run.writer.RequestsOf(CMD_PROGRAM_BOOT).size());
    // The boot read-back: the reads before the first application chunk.
    std::uint32_t bootPieces = 0;
    for (const SReceivedRequest& request : run.writer.Transcript()) {
        if (request.header.command == CMD_PROGRAM_APPLICATION) {
            break;
        }
        bootPieces += request.header.command == CMD_READ_MEMORY ? 1 : 0;
    }
    EXPECT_EQ(c.bootReadPieces, bootPieces);
}

INSTANTIATE_TEST_SUITE_P(Table, ReportedGeometry,
                         ::testing::Values(
                             // 256 KiB blocks: one-block layout of 4 chunks, 512 KiB read back.
                             SGeometryCase{"LargerBlocks", 0x40000, true, 4, 8},
                             // 32 KiB blocks hold 64 KiB, less than the 130000-byte image.
                             SGeometryCase{"BlocksTooSmallForTheImage", 0x8000, false, 0, 0}),
                         [](const auto& param) { return std::string(param.param.name); });

}  // namespace
