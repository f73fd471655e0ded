// Every fault the simulated writer can produce, at every request of a full update,
// one whole run each; each run is held against what the rules say it must do
// (rules_oracle), and against what every run must keep (SFaultRun::InvariantBreaches).
// TESSEL_VERBOSE=1 prints the table: request x fault -> outcome.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <iostream>

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

// Plays every fault at every site and returns the number of runs.
std::uint32_t PlayMatrix(std::uint32_t mainBootBuild, const std::vector<SSite>& sites) {
    const SFaultImages& images = SFaultImages::Get();
    const rules_oracle::SRunSetup setup{mainBootBuild, static_cast<std::uint32_t>(images.boot.size()),
                                        static_cast<std::uint32_t>(images.application.size())};
    std::uint32_t runs = 0;
    std::uint32_t allocations = 0;
    if (Verbose()) {
        std::printf("\nmain boot build %u\n%-18s %-16s %-26s %s\n", mainBootBuild, "request", "fault",
                    "outcome", "held");
    }
    for (const SSite& site : sites) {
        std::vector<SFault> faults = kAnyRequestFaults;
        if (site.command == CMD_READ_MEMORY) {
            faults.insert(faults.end(), kReadBackFaults.begin(), kReadBackFaults.end());
        }
        for (SFault fault : faults) {
            fault.command = site.command;
            fault.occurrence = site.occurrence;
            const std::string label = rules_oracle::CommandName(site.command) + " #" +
                                      std::to_string(site.occurrence) + ", " + rules_oracle::FaultName(fault);
            SCOPED_TRACE(label);
            SFaultRun run(Solenne(mainBootBuild), {fault});
            run.Run();
            const SExpectedRun expected = rules_oracle::Expect(setup, fault);
            const std::vector<std::string> differences = Differences(run, mainBootBuild, expected);
            EXPECT_TRUE(differences.empty()) << Join(differences);
            ++runs;
            allocations += run.allocator.Allocations();
            if (Verbose()) {
                std::printf("%-18s %-16s %-26s %s\n",
                            (rules_oracle::CommandName(site.command) + " #" + std::to_string(site.occurrence))
                                .c_str(),
                            rules_oracle::FaultName(fault).c_str(), ShortOutcome(run.Outcome()).c_str(),
                            differences.empty() ? "yes" : Join(differences).c_str());
            }
        }
    }
    if (Verbose()) {
        std::printf("%u runs, %u buffers allocated and released\n", runs, allocations);
    }
    return runs;
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

// Without any fault the oracle and the program agree on a plain update.
TEST(FaultMatrix, NoFault_FullUpdateAsTheRulesSay) {
    const SFaultImages& images = SFaultImages::Get();
    const rules_oracle::SRunSetup setup{3183, static_cast<std::uint32_t>(images.boot.size()),
                                        static_cast<std::uint32_t>(images.application.size())};
    SFaultRun run(Solenne(3183));
    run.Run();
    const SExpectedRun expected = rules_oracle::Expect(setup, {});
    EXPECT_TRUE(expected.success);
    EXPECT_EQ(Differences(run, 3183, expected), std::vector<std::string>{});
}

}  // namespace
