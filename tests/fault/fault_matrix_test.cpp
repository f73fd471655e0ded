// Every fault the simulated writer can produce, at every request of a full update,
// one whole run each; each run is held against what the rules say it must do
// (rules_oracle), and against what every run must keep (SFaultRun::InvariantBreaches).
// Writers that report other boot geometries meet the faults where the geometry
// matters: the information block, the boot download and its read-back.
// TESSEL_VERBOSE=1 prints the table: request x fault -> outcome.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <map>
#include <ostream>
#include <set>

#include "tests/fault/fault_run.h"
#include "tests/fault/rules_oracle.h"
#include "usb/usb_codes.h"

namespace {

using rules_oracle::SExpectedRun;

// The faults every request can meet.
const std::vector<SFault> kAnyRequestFaults = {
    {0, 0, EFaultKind::NoReply, 0},     {0, 0, EFaultKind::ShortReply, 1},
    {0, 0, EFaultKind::ShortReply, 31}, {0, 0, EFaultKind::WrongCommand, 0x4242},
    {0, 0, EFaultKind::ErrorReply, 3},  {0, 0, EFaultKind::ErrorReply, 0x44},
    {0, 0, EFaultKind::WriteFails, 2},  // the third attempt gets through
    {0, 0, EFaultKind::WriteFails, 3},  {0, 0, EFaultKind::Gone, 0},
    {0, 0, EFaultKind::Stalls, 0},  // a writer that stops taking data: bounded, then gone
};
// What only a read-back can meet: a corrupted block, another address, another length.
const std::vector<SFault> kReadBackFaults = {
    {0, 0, EFaultKind::FlipByte, 5},
    {0, 0, EFaultKind::OtherAddress, 0x10},
    {0, 0, EFaultKind::ShortBlock, 1},
};

struct SSite {
    std::uint16_t command;
    std::uint32_t occurrence;
};

// The requests of a full update of the Solenne with the fault images, in the order the
// writer gets them: four boot chunks (two 128 KiB blocks), four boot read-back pieces,
// three application chunks and three pieces.
std::vector<SSite> FullUpdateSites(bool early) {
    std::vector<SSite> sites = {{CMD_IDENTIFY, 1}, {CMD_BOOT_VERSIONS, 1}, {CMD_SHOW_TEXT, 1}};
    if (early) {
        sites.push_back({CMD_ERASE, 1});
    }
    sites.push_back({CMD_INFO_BLOCK, 1});
    sites.push_back({CMD_SET_IMAGE_CRC, 1});
    for (std::uint32_t i = 1; i <= 4; ++i) {
        sites.push_back({CMD_PROGRAM_BOOT, i});
    }
    for (std::uint32_t i = 1; i <= 4; ++i) {
        sites.push_back({CMD_READ_MEMORY, i});
    }
    sites.push_back({CMD_SET_IMAGE_CRC, 2});
    sites.push_back({CMD_SHOW_TEXT, 2});
    for (std::uint32_t i = 1; i <= 3; ++i) {
        sites.push_back({CMD_PROGRAM_APPLICATION, i});
    }
    for (std::uint32_t i = 5; i <= 7; ++i) {
        sites.push_back({CMD_READ_MEMORY, i});
    }
    sites.push_back({CMD_RESTART, 1});
    return sites;
}

std::uint32_t Count(const std::vector<std::string>& lines, const std::string& text) {
    return static_cast<std::uint32_t>(std::count(lines.begin(), lines.end(), text));
}

// The requests the writer received, by the fields the oracle gives them.
std::vector<rules_oracle::SRequest> Received(const CSimWriter& writer) {
    std::vector<rules_oracle::SRequest> requests;
    for (const SReceivedRequest& request : writer.Transcript()) {
        const std::uint32_t* p = request.header.parameter;
        switch (request.header.command) {
            case CMD_ERASE:
            case CMD_READ_MEMORY:
                requests.push_back({request.header.command, p[0], p[1], 0});
                break;
            case CMD_PROGRAM_BOOT:
            case CMD_PROGRAM_APPLICATION:
                requests.push_back({request.header.command, p[1], p[2], p[3], p[4], p[0]});
                break;
            default:
                requests.push_back({request.header.command});
                break;
        }
    }
    return requests;
}

// The first place where two request lists part, described.
std::string RequestsDiffer(const std::vector<rules_oracle::SRequest>& got,
                           const std::vector<rules_oracle::SRequest>& expected) {
    const auto name = [](const std::vector<rules_oracle::SRequest>& list, std::size_t i) {
        return i < list.size() ? rules_oracle::RequestName(list[i]) : std::string("nothing");
    };
    for (std::size_t i = 0; i < std::max(got.size(), expected.size()); ++i) {
        if (i >= got.size() || i >= expected.size() || !(got[i] == expected[i])) {
            return "request " + std::to_string(i + 1) + " is " + name(got, i) + ", expected " +
                   name(expected, i) + " (" + std::to_string(got.size()) + " requests, expected " +
                   std::to_string(expected.size()) + ")";
        }
    }
    return {};
}

// Where the run differs from what the rules expect.
std::vector<std::string> Differences(const SFaultRun& run, std::uint32_t mainBootBuild,
                                     const SExpectedRun& expected) {
    std::vector<std::string> differences = run.InvariantBreaches();
    const auto differ = [&](bool different, const std::string& what) {
        if (different) {
            differences.push_back(what);
        }
    };
    const auto boxes = run.host.CallsOf("MessageOk");
    differ(boxes.size() != 1 || boxes[0].text != expected.box,
           "box \"" + run.Outcome() + "\", expected \"" + expected.box + "\"");
    differ(run.Succeeded() != expected.success, "success and failure swapped");

    const std::vector<std::string> lines = run.host.LogLines();
    if (expected.success) {
        differ(Count(lines, "Successfully updated the Solenne.") != 1, "the success line is not logged once");
    } else {
        differ(lines.empty() || lines.back() != expected.box, "the failure is not the last log line");
    }
    differ(Count(lines, "USB found Solenne(16), Main Boot Ver. 1.07.00, Build " +
                            std::to_string(mainBootBuild) + "\n") != (expected.mainBootLineLogged ? 1u : 0u),
           "main boot line");
    differ(Count(lines, BOOT_ANNOUNCEMENT) != expected.bootAttempts, "boot announcements");
    const auto attemptLines = static_cast<std::uint32_t>(std::count_if(
        lines.begin(), lines.end(), [](const std::string& line) { return line.rfind("Attempt ", 0) == 0; }));
    differ(attemptLines != (expected.applicationAttempts > 1 ? expected.applicationAttempts - 1 : 0),
           "application attempt lines");

    differ(run.writer.DisplayLines() != expected.display, "writer display");
    std::vector<rules_oracle::SErase> erases;
    for (const SReceivedRequest& request : run.writer.RequestsOf(CMD_ERASE)) {
        erases.push_back({request.header.parameter[0], request.header.parameter[1]});
    }
    differ(erases != expected.erases, "erases");
    const auto bootChunks = run.writer.RequestsOf(CMD_PROGRAM_BOOT);
    differ(!bootChunks.empty() && (bootChunks[0].header.parameter[1] == 0) != expected.earlyMethod,
           "boot method");
    differ(run.RestartWritten() != expected.restartRequested, "restart request");
    differ(run.writer.Summary().restarted != expected.restartReachedWriter, "restart at the writer");
    const auto notices = run.host.CallsOf("ShowNotice");
    differ(expected.notice.empty() ? !notices.empty()
                                   : notices.size() != 1 || notices[0].text != expected.notice,
           "restart notice");
    differ(run.writer.DisplayClears() != (expected.displayClearedAtEnd ? 1u : 0u),
           "display cleared at the end");
    const std::string requests = RequestsDiffer(Received(run.writer), expected.requests);
    differ(!requests.empty(), requests);
    return differences;
}

std::string Join(const std::vector<std::string>& parts) {
    std::string joined;
    for (const std::string& part : parts) {
        joined += (joined.empty() ? "" : "; ") + part;
    }
    return joined;
}

std::string ShortOutcome(const std::string& outcome) {
    if (outcome == "success") {
        return outcome;
    }
    if (outcome.find("open files") != std::string::npos) {
        return "error: close open files";
    }
    const std::size_t code = outcome.find("Error Code ");
    return code == std::string::npos ? outcome : "error " + outcome.substr(code + 11);
}

rules_oracle::SRunSetup FaultImagesSetup(std::uint32_t mainBootBuild) {
    const SFaultImages& images = SFaultImages::Get();
    rules_oracle::SRunSetup setup;
    setup.mainBootBuild = mainBootBuild;
    setup.bootImageLength = static_cast<std::uint32_t>(images.boot.size());
    setup.applicationImageLength = static_cast<std::uint32_t>(images.application.size());
    return setup;
}

std::string SiteName(const SFault& fault) {
    if (fault.command == 0) {
        return "-";
    }
    return rules_oracle::CommandName(fault.command) + " #" + std::to_string(fault.occurrence);
}

// The outcome for the table, with the boot attempts when there was more than one.
std::string TableOutcome(const SFaultRun& run) {
    const std::uint32_t attempts = Count(run.host.LogLines(), BOOT_ANNOUNCEMENT);
    const std::string outcome = ShortOutcome(run.Outcome());
    return attempts > 1 ? outcome + ", " + std::to_string(attempts) + " boot attempts" : outcome;
}

std::string FaultLabel(const SFault& fault) {
    return fault.command == 0 ? std::string("none") : rules_oracle::FaultName(fault);
}

// Plays each fault in a whole run of its own against a writer of this setup, holds the
// run against the rules, and returns the number of runs.
std::uint32_t PlayRuns(const rules_oracle::SRunSetup& setup, const std::vector<SFault>& faults) {
    std::uint32_t allocations = 0;
    if (Verbose()) {
        std::printf("\nmain boot build %u, reported boot block 0x%X, reserve %u\n%-18s %-18s %-36s %s\n",
                    setup.mainBootBuild, setup.reportedBlockSize, setup.reportedReserve, "request", "fault",
                    "outcome", "held");
    }
    for (const SFault& fault : faults) {
        SCOPED_TRACE(SiteName(fault) + ", " + FaultLabel(fault));
        SFaultRun run(Solenne(setup.mainBootBuild), {fault});
        run.writer.Behaviour().reportedBootBlockSize = setup.reportedBlockSize;
        run.writer.Behaviour().reportedBootReserve = setup.reportedReserve;
        run.Run();
        const SExpectedRun expected = rules_oracle::Expect(setup, fault);
        const std::vector<std::string> differences = Differences(run, setup.mainBootBuild, expected);
        EXPECT_TRUE(differences.empty()) << Join(differences);
        allocations += run.allocator.Allocations();
        if (Verbose()) {
            std::printf("%-18s %-18s %-36s %s\n", SiteName(fault).c_str(), FaultLabel(fault).c_str(),
                        TableOutcome(run).c_str(), differences.empty() ? "yes" : Join(differences).c_str());
        }
    }
    if (Verbose()) {
        std::printf("%zu runs, %u buffers allocated and released\n", faults.size(), allocations);
    }
    return static_cast<std::uint32_t>(faults.size());
}

SFault At(SFault fault, std::uint16_t command, std::uint32_t occurrence) {
    fault.command = command;
    fault.occurrence = occurrence;
    return fault;
}

// Every fault at every site and returns the number of runs.
std::uint32_t PlayMatrix(std::uint32_t mainBootBuild, const std::vector<SSite>& sites) {
    std::vector<SFault> faults;
    for (const SSite& site : sites) {
        for (const SFault& fault : kAnyRequestFaults) {
            faults.push_back(At(fault, site.command, site.occurrence));
        }
        if (site.command == CMD_READ_MEMORY) {
            for (const SFault& fault : kReadBackFaults) {
                faults.push_back(At(fault, site.command, site.occurrence));
            }
        }
    }
    return PlayRuns(FaultImagesSetup(mainBootBuild), faults);
}

TEST(FaultMatrix, EarlyBootLoader_EveryFaultAtEveryRequest_EndsAsTheRulesSay) {
    const auto sites = FullUpdateSites(true);
    EXPECT_EQ(sites.size() * kAnyRequestFaults.size() + 7 * kReadBackFaults.size(), PlayMatrix(3183, sites));
}

// With a current boot loader the boot versions decide the method: a fault on them makes
// the loader count as an early one, and the run erases and lays the image out.
// The boot read-back comes from 0x40000 then, verified from its first byte.
TEST(FaultMatrix, CurrentBootLoader_FaultsWhereTheMethodMatters_EndAsTheRulesSay) {
    std::vector<SSite> sites = {{CMD_BOOT_VERSIONS, 1}};
    for (std::uint32_t i = 1; i <= 4; ++i) {
        sites.push_back({CMD_READ_MEMORY, i});
    }
    PlayMatrix(8000, sites);
}

// Without any fault the oracle and the program agree on a plain update, and the oracle
// sends what the table of sites above says a full update sends.
TEST(FaultMatrix, NoFault_FullUpdateAsTheRulesSay) {
    const rules_oracle::SRunSetup setup = FaultImagesSetup(3183);
    SFaultRun run(Solenne(3183));
    run.Run();
    const SExpectedRun expected = rules_oracle::Expect(setup, {});
    EXPECT_TRUE(expected.success);
    EXPECT_EQ(Differences(run, 3183, expected), std::vector<std::string>{});

    std::vector<std::string> oracleSites;
    std::map<std::uint16_t, std::uint32_t> occurrences;
    for (const rules_oracle::SRequest& request : expected.requests) {
        oracleSites.push_back(SiteName({request.command, ++occurrences[request.command]}));
    }
    std::vector<std::string> tableSites;
    for (const SSite& site : FullUpdateSites(true)) {
        tableSites.push_back(SiteName({site.command, site.occurrence}));
    }
    EXPECT_EQ(tableSites, oracleSites);
}

// A boot geometry reported by the writer, and what the rules make of it for the
// 130000-byte boot image. At address 0 the layout holds 2B - R - 8 bytes and takes a
// second block once the image passes B - R - 8; elsewhere it holds 2B. Reserve 0 keeps
// the default of 2048. The read-back is always two blocks.
struct SGeometryCase {
    const char* name;
    std::uint32_t mainBootBuild;  // 3183: early boot loader, layout at 0; 8000: current, at 0x40000
    std::uint32_t blockSize, reserve;
    bool holdsImage;               // false: the stage fails with 111 and no chunk goes out
    std::uint32_t bootChunks;      // per attempt: the layout in pieces of 64 KiB
    std::uint32_t bootReadPieces;  // per attempt: 2B in pieces of 64 KiB
};

void PrintTo(const SGeometryCase& c, std::ostream* out) {
    *out << c.name;
}

constexpr std::uint32_t EARLY = 3183, CURRENT = 8000;

const SGeometryCase kGeometries[] = {
    // 64 KiB blocks: two of them, less the header and a 1024-byte reserve, hold 130040.
    {"EarlySmallBlocksSmallReserve", EARLY, 0x10000, 1024, true, 2, 2},
    // ...but with the default reserve only 129016: too small at address 0.
    {"EarlySmallBlocksDefaultReserve", EARLY, 0x10000, 0, false, 0, 0},
    {"CurrentSmallBlocksDefaultReserve", CURRENT, 0x10000, 0, true, 2, 2},
    // Default blocks: a 1024 reserve leaves 130040 in the first block, one block is
    // enough; a 4096 reserve leaves 126968, so the image spills into the second.
    {"EarlyDefaultBlocksSmallReserve", EARLY, 0x20000, 1024, true, 2, 4},
    {"EarlyDefaultBlocksLargeReserve", EARLY, 0x20000, 4096, true, 4, 4},
    {"CurrentDefaultBlocksSmallReserve", CURRENT, 0x20000, 1024, true, 2, 4},
    // 256 KiB blocks: one block holds the image; the read-back is 512 KiB.
    {"EarlyLargeBlocksLargeReserve", EARLY, 0x40000, 4096, true, 4, 8},
    {"CurrentLargeBlocksDefaultReserve", CURRENT, 0x40000, 0, true, 4, 8},
    // 32 KiB blocks: 64 KiB in all, the image cannot fit at any address.
    {"EarlyBlocksTooSmall", EARLY, 0x8000, 1024, false, 0, 0},
    {"CurrentBlocksTooSmall", CURRENT, 0x8000, 0, false, 0, 0},
};

// Faults of the information block that change what the link takes from it: cuts that
// lose the top byte of the reserve word, the whole word (the default reserve stays),
// the top byte of the block word too, both words, everything; inverted bytes of the
// block word (never a power of two then) and of the reserve word.
const std::vector<SFault> kInfoBlockFaults = {
    {0, 0, EFaultKind::NoReply, 0},     {0, 0, EFaultKind::ErrorReply, 0x44},
    {0, 0, EFaultKind::ShortBlock, 1},  {0, 0, EFaultKind::ShortBlock, 4},
    {0, 0, EFaultKind::ShortBlock, 5},  {0, 0, EFaultKind::ShortBlock, 8},
    {0, 0, EFaultKind::ShortBlock, 44}, {0, 0, EFaultKind::FlipByte, 36},
    {0, 0, EFaultKind::FlipByte, 38},   {0, 0, EFaultKind::FlipByte, 40},
    {0, 0, EFaultKind::FlipByte, 41},   {0, 0, EFaultKind::FlipByte, 42},
};

// Read-back offsets of attempt 1 where the layout has its edges: header, first part,
// reserve (the reported one and the default one), second block, end of the image,
// end of the read-back.
std::vector<std::uint32_t> EdgeOffsets(const SGeometryCase& c, std::uint32_t n) {
    const std::uint32_t b = c.blockSize;
    const std::uint32_t r = c.reserve != 0 ? c.reserve : 2048;
    std::set<std::uint32_t> offsets = {0, n - 1, n, 2 * b - 1};
    if (c.mainBootBuild <= EARLY) {
        const std::uint32_t firstPart = b - r - 8;
        for (std::uint32_t offset :
             {7u, 8u, 8 + std::min(n, firstPart) - 1, b - r - 1, b - r, b - 2049, b - 2048, b - 1, b}) {
            offsets.insert(offset);
        }
        if (n > firstPart) {
            offsets.insert(b + (n - firstPart) - 1);
            offsets.insert(b + (n - firstPart));
        }
    }
    std::vector<std::uint32_t> inRange;
    for (std::uint32_t offset : offsets) {
        if (offset < 2 * b) {
            inRange.push_back(offset);
        }
    }
    return inRange;
}

class GeometryMatrix : public ::testing::TestWithParam<SGeometryCase> {};

// The rules' own count of the boot requests of a fault-free run agrees with the
// table; then each fault where the geometry matters, against the oracle.
TEST_P(GeometryMatrix, FaultsWhereTheGeometryMatters_EndAsTheRulesSay) {
    const SGeometryCase& c = GetParam();
    rules_oracle::SRunSetup setup = FaultImagesSetup(c.mainBootBuild);
    setup.reportedBlockSize = c.blockSize;
    setup.reportedReserve = c.reserve;

    const SExpectedRun plain = rules_oracle::Expect(setup, {});
    EXPECT_EQ(c.holdsImage, plain.success);
    if (!c.holdsImage) {
        EXPECT_EQ("Unable to program your writer.  Error Code 111", plain.box);
    }
    // The boot stage's requests: those before the first application chunk.
    std::uint32_t bootChunks = 0, bootReadPieces = 0;
    for (const rules_oracle::SRequest& request : plain.requests) {
        if (request.command == CMD_PROGRAM_APPLICATION) {
            break;
        }
        bootChunks += request.command == CMD_PROGRAM_BOOT ? 1 : 0;
        bootReadPieces += request.command == CMD_READ_MEMORY ? 1 : 0;
    }
    EXPECT_EQ(c.bootChunks, bootChunks);
    EXPECT_EQ(c.bootReadPieces, bootReadPieces);

    std::vector<SFault> faults = {{}};  // no fault at all
    for (const SFault& fault : kInfoBlockFaults) {
        faults.push_back(At(fault, CMD_INFO_BLOCK, 1));
    }
    if (c.holdsImage) {
        for (std::uint32_t chunk : {1u, c.bootChunks}) {
            faults.push_back({CMD_PROGRAM_BOOT, chunk, EFaultKind::NoReply, 0});
            faults.push_back({CMD_PROGRAM_BOOT, chunk, EFaultKind::ErrorReply, 3});
        }
        faults.push_back({CMD_READ_MEMORY, c.bootReadPieces, EFaultKind::NoReply, 0});
        faults.push_back({CMD_READ_MEMORY, c.bootReadPieces, EFaultKind::OtherAddress, 0x10});
        faults.push_back({CMD_READ_MEMORY, c.bootReadPieces, EFaultKind::ShortBlock, 1});
        for (std::uint32_t offset : EdgeOffsets(c, setup.bootImageLength)) {
            faults.push_back({CMD_READ_MEMORY, 1 + offset / 0x10000, EFaultKind::FlipByte, offset % 0x10000});
        }
    }
    PlayRuns(setup, faults);
}

INSTANTIATE_TEST_SUITE_P(Reported, GeometryMatrix, ::testing::ValuesIn(kGeometries),
                         [](const ::testing::TestParamInfo<SGeometryCase>& param) {
                             return std::string(param.param.name);
                         });

}  // namespace
