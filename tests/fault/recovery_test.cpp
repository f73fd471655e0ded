// Interrupted updates: a full update of a Solenne with an old application is cut off at
// every one of its requests (the link drops just before that request reaches the
// writer, so it and everything after it are lost), the writer is switched off and on
// again (sim/sim_power_cycle.h) and the updater is run again, as a user would, with a
// fresh job. What the writer comes back as, and whether a second run can still reach
// it, is worked out here from the power-cycle rules and the requests that reached the
// writer before the cut; the second run must then leave the writer verified and
// restarted wherever it can still be reached.
// TESSEL_VERBOSE=1 prints the table: cut point -> power-up -> second run.

#include <gtest/gtest.h>

#include <cstdio>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "sim/sim_power_cycle.h"
#include "tests/fault/fault_run.h"
#include "update/catalogue.h"
#include "usb/usb_codes.h"
#include "usb/usb_header.h"

namespace {

constexpr std::uint32_t OLD_APP = 0x02050000, OLD_APP_BUILD = 14000, OLD_BOOT = 0x01070000;
constexpr std::uint32_t EARLY_BOOT_BUILD_LIMIT = 3183;
// The fault images: the boot image takes the two-block layout, 0x40000 bytes at either
// load address, in four chunks of 64 KiB; the application (140000 bytes) three.
constexpr std::uint32_t BOOT_CHUNKS = 4;
constexpr std::uint32_t APPLICATION_CHUNKS = 3;

// What the images of this build stand for.
SCarriedFirmware Carried() {
    const SMachineInfo& row = LookupMachine(16);
    return {row.appVersion, row.appBuild, row.bootVersion, row.bootBuild};
}

struct SRequest {
    std::uint16_t command;
    std::uint32_t occurrence;
    bool operator==(const SRequest&) const = default;
};

std::string Name(const SRequest& request) {
    const char* name = "Unknown";
    switch (request.command) {
        case CMD_IDENTIFY:
            name = "Identify";
            break;
        case CMD_BOOT_VERSIONS:
            name = "BootVersions";
            break;
        case CMD_SHOW_TEXT:
            name = "ShowText";
            break;
        case CMD_ERASE:
            name = "Erase";
            break;
        case CMD_INFO_BLOCK:
            name = "InfoBlock";
            break;
        case CMD_SET_IMAGE_CRC:
            name = "SetImageCrc";
            break;
        case CMD_PROGRAM_BOOT:
            name = "ProgramBoot";
            break;
        case CMD_PROGRAM_APPLICATION:
            name = "ProgramApplication";
            break;
        case CMD_READ_MEMORY:
            name = "ReadMemory";
            break;
        case CMD_RESTART:
            name = "Restart";
            break;
        default:
            break;
    }
    return std::string(name) + " #" + std::to_string(request.occurrence);
}

// The requests of a full update in the order the writer gets them: identification, the
// boot stage (the early method erases 0x40000 first), the application stage, restart.
std::vector<SRequest> FullRunRequests(bool early) {
    std::vector<SRequest> requests = {{CMD_IDENTIFY, 1}, {CMD_BOOT_VERSIONS, 1}, {CMD_SHOW_TEXT, 1}};
    if (early) {
        requests.push_back({CMD_ERASE, 1});
    }
    requests.push_back({CMD_INFO_BLOCK, 1});
    requests.push_back({CMD_SET_IMAGE_CRC, 1});
    for (std::uint32_t i = 1; i <= BOOT_CHUNKS; ++i) {
        requests.push_back({CMD_PROGRAM_BOOT, i});
    }
    for (std::uint32_t i = 1; i <= 4; ++i) {
        requests.push_back({CMD_READ_MEMORY, i});
    }
    requests.push_back({CMD_SET_IMAGE_CRC, 2});
    requests.push_back({CMD_SHOW_TEXT, 2});
    for (std::uint32_t i = 1; i <= APPLICATION_CHUNKS; ++i) {
        requests.push_back({CMD_PROGRAM_APPLICATION, i});
    }
    for (std::uint32_t i = 5; i <= 7; ++i) {
        requests.push_back({CMD_READ_MEMORY, i});
    }
    requests.push_back({CMD_RESTART, 1});
    return requests;
}

std::vector<SRequest> Received(const CSimWriter& writer) {
    std::vector<SRequest> received;
    std::vector<std::uint32_t> counts(65536, 0);
    for (const SReceivedRequest& request : writer.Transcript()) {
        received.push_back({request.header.command, ++counts[request.header.command]});
    }
    return received;
}

// The requests a run's link got through to the writer.
std::vector<SUsbHeader> Taken(const CSimTransport& transport) {
    std::vector<SUsbHeader> taken;
    for (const CSimTransport::SCall& call : transport.Calls()) {
        if (call.kind == CSimTransport::ECall::Write && call.value > 0 &&
            call.bytes.size() >= USB_HEADER_SIZE) {
            taken.push_back(ReadUsbHeader(call.bytes.data()));
        }
    }
    return taken;
}

// What the power-cycle rules make of a writer that got `requests[0, cut)`.
struct SExpectedPowerUp {
    bool lost = false;
    std::string why;  // the rule that decides, for the table
    SWriterIdentity identity;
};

SExpectedPowerUp ExpectAfterCut(std::uint32_t madeBootBuild, const std::vector<SRequest>& requests,
                                std::size_t cut) {
    const bool early = madeBootBuild <= EARLY_BOOT_BUILD_LIMIT;
    std::uint32_t bootChunks = 0, applicationChunks = 0;
    for (std::size_t i = 0; i < cut; ++i) {
        bootChunks += requests[i].command == CMD_PROGRAM_BOOT ? 1 : 0;
        applicationChunks += requests[i].command == CMD_PROGRAM_APPLICATION ? 1 : 0;
    }
    const SCarriedFirmware carried = Carried();
    SExpectedPowerUp expected;
    if (early && bootChunks > 0 && bootChunks < BOOT_CHUNKS) {
        expected.lost = true;
        expected.why = "boot block holds part of the new layout: lost";
        return expected;
    }
    // Every chunk of a download follows the announcement of its CRC, and the link sends
    // the image it announced: a download with all its chunks is a verified one.
    const bool newBoot = bootChunks == BOOT_CHUNKS;
    const std::uint32_t bootVersion = newBoot ? carried.bootVersion : OLD_BOOT;
    const std::uint32_t bootBuild = newBoot ? carried.bootBuild : madeBootBuild;
    std::string loader = newBoot          ? "new loader"
                         : bootChunks > 0 ? "old loader (boot block copy)"
                                          : "old loader";
    SWriterIdentity& id = expected.identity;
    id = {16, OLD_APP, 0, OLD_APP_BUILD, bootVersion, bootBuild, 0, 0};
    if (applicationChunks == APPLICATION_CHUNKS) {
        id.version = carried.applicationVersion;
        id.build = carried.applicationBuild;
        expected.why = loader + ", new application";
    } else if (applicationChunks > 0) {
        id.bootMode = 1;
        id.version = bootVersion;
        id.build = bootBuild;
        expected.why = loader + ", boot mode";
    } else {
        expected.why = loader + ", old application";
    }
    return expected;
}

struct SRecoveryCase {
    const char* name;
    std::uint32_t madeBootBuild;
    std::vector<std::string> lost;  // the cut points no run can recover from
};

void PrintTo(const SRecoveryCase& c, std::ostream* out) {
    *out << c.name;
}

class Recovery : public ::testing::TestWithParam<SRecoveryCase> {};

TEST_P(Recovery, CutAtEveryRequest_SecondRunRecoversWhereTheWriterStillStarts) {
    const SRecoveryCase& c = GetParam();
    const bool early = c.madeBootBuild <= EARLY_BOOT_BUILD_LIMIT;
    const std::vector<SRequest> requests = FullRunRequests(early);
    {
        SFaultRun uncut(Solenne(c.madeBootBuild));
        uncut.Run();
        ASSERT_TRUE(uncut.Succeeded());
        ASSERT_EQ(requests, Received(uncut.writer)) << "the cut points are not the requests of a full run";
    }

    const SCarriedFirmware carried = Carried();
    const SWriterIdentity updated{16,
                                  carried.applicationVersion,
                                  0,
                                  carried.applicationBuild,
                                  carried.bootVersion,
                                  carried.bootBuild,
                                  0,
                                  0};
    std::vector<std::string> lost;
    if (Verbose()) {
        std::printf("\n%s\n%-3s %-22s %-48s %s\n", c.name, "K", "cut before", "power-up", "second run");
    }
    for (std::size_t cut = 0; cut < requests.size(); ++cut) {
        const SRequest& at = requests[cut];
        SCOPED_TRACE("cut before request " + std::to_string(cut + 1) + ", " + Name(at));
        const SExpectedPowerUp expected = ExpectAfterCut(c.madeBootBuild, requests, cut);

        SFaultRun first(Solenne(c.madeBootBuild), {{at.command, at.occurrence, EFaultKind::Gone, 0}});
        first.Run();
        EXPECT_EQ(std::vector<std::string>{}, first.InvariantBreaches());
        // The run does not wait on the restart's reply: only a cut there goes unnoticed.
        EXPECT_EQ(at.command == CMD_RESTART, first.Succeeded()) << first.Outcome();

        const bool starts = first.writer.PowerCycle(carried);
        EXPECT_EQ(!expected.lost, starts) << expected.why;
        if (starts) {
            EXPECT_EQ(expected.identity, first.writer.Identity()) << expected.why;
        } else {
            lost.push_back(Name(at));
        }

        SFaultRun second(Solenne(c.madeBootBuild));
        second.writer = std::move(first.writer);
        second.Run();
        const std::vector<SUsbHeader> taken = Taken(second.transport);
        if (!starts) {
            EXPECT_EQ(
                "Unable to open a connection with your steno machine.\n"
                "Please make sure the writer is turned On and the USB cable is firmly connected",
                second.Outcome());
            EXPECT_TRUE(taken.empty());
        } else {
            EXPECT_EQ(std::vector<std::string>{}, second.InvariantBreaches());
            EXPECT_TRUE(second.Succeeded()) << second.Outcome();
            EXPECT_TRUE(second.host.CallsOf("AskYesNo").empty()) << "a question before the second run";
            EXPECT_TRUE(second.writer.Summary().restarted);
            // The boot stage is due unless the new loader runs; it takes the early method
            // while an early loader runs.
            const SWriterIdentity& found = expected.identity;
            std::vector<SUsbHeader> bootChunks;
            for (const SUsbHeader& request : taken) {
                if (request.command == CMD_PROGRAM_BOOT) {
                    bootChunks.push_back(request);
                }
            }
            const bool bootDue = found.mainBootBuild != carried.bootBuild;
            EXPECT_EQ(bootDue ? BOOT_CHUNKS : 0u, bootChunks.size());
            if (!bootChunks.empty()) {
                EXPECT_EQ(found.mainBootBuild <= EARLY_BOOT_BUILD_LIMIT ? 0u : 0x40000u,
                          bootChunks[0].parameter[1]);
            }
            EXPECT_TRUE(second.writer.PowerCycle(carried));
            EXPECT_EQ(updated, second.writer.Identity()) << "after the second run and another power cycle";
        }
        if (Verbose()) {
            std::printf("%-3zu %-22s %-48s %s\n", cut + 1, Name(at).c_str(), expected.why.c_str(),
                        second.Succeeded() ? "success" : second.Outcome().substr(0, 40).c_str());
        }
    }
    EXPECT_EQ(c.lost, lost);
    if (Verbose()) {
        std::printf("%zu cut points, %zu recovered, %zu lost\n", requests.size(),
                    requests.size() - lost.size(), lost.size());
    }
}

// The early method rewrites the boot block: a cut before its second, third or last chunk
// leaves part of the new layout there, and a writer cannot start from that. A cut before
// the first chunk leaves the old loader whole (only 0x40000 is erased, which an early
// loader never uses); after the last one the new loader is whole. The current method
// rewrites only the main boot area, which the boot block's copy survives.
INSTANTIATE_TEST_SUITE_P(
    Methods, Recovery,
    ::testing::Values(
        SRecoveryCase{"EarlyBootLoader", 3183, {"ProgramBoot #2", "ProgramBoot #3", "ProgramBoot #4"}},
        SRecoveryCase{"CurrentBootLoader", 8000, {}}),
    [](const ::testing::TestParamInfo<SRecoveryCase>& param) { return std::string(param.param.name); });

}  // namespace
