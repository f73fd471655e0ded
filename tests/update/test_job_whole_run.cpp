#include <gtest/gtest.h>

#include <functional>
#include <ostream>

#include "tests/update/run_fixture.h"
#include "usb/usb_codes.h"

namespace {

const char* const SUCCESS_BOX = "Successfully updated the Solenne.\n           Click OK to Exit.";
const char* const FAILURE_DISPLAY = "Failure in updating machine.";
const char* const OPEN_FILES_BOX =
    "Unable to program your writer.\nPlease close any open files on your Solenne";
const char* const MEMORY_BOX = "System too low on memory!";

SWriterIdentity CurrentSolenne() {
    return {16, 0x02050000, 0, 14000, 0x01080000, 8462, 0, 0};
}

CRecordingHost::SCall Log(const std::string& text) {
    return {"LogLine", text, "", 0};
}
CRecordingHost::SCall Status(const std::string& text) {
    return {"SetStatus", text, "", 0};
}
CRecordingHost::SCall Call(const std::string& operation) {
    return {operation, "", "", 0};
}

std::vector<CRecordingHost::SCall> SuccessTail() {
    return {Status("\n\n\n\n\n\nSolenne Updated."),
            Log("Successfully updated the Solenne."),
            {"MessageOk", SUCCESS_BOX, "Solenne/Brisa Update", MESSAGE_ICON_INFORMATION},
            Call("FinishDialog"),
            Call("RestoreStatus"),
            Call("CloseLog")};
}

std::vector<std::uint16_t> Repeat(std::uint16_t command, int times) {
    return std::vector<std::uint16_t>(times, command);
}

std::vector<std::uint16_t> Concat(std::initializer_list<std::vector<std::uint16_t>> parts) {
    std::vector<std::uint16_t> all;
    for (const auto& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

using WholeRun = RunFixture;

TEST_F(WholeRun, OldBootLoaderAndApplication_CurrentMethod_UpdatesVerifiesAndRestarts) {
    Run();

    const std::vector<SCall> expected = [] {
        std::vector<SCall> calls = {Call("OpenLog"),
                                    Log("USB found Solenne(16), App. Ver. 2.05.00, Build 14000\n"),
                                    Log("USB found Solenne(16), Main Boot Ver. 1.07.00, Build 8000\n"),
                                    Log(BOOT_ANNOUNCEMENT),
                                    Status(std::string("\n\n") + BOOT_ANNOUNCEMENT),
                                    Log(APPLICATION_ANNOUNCEMENT),
                                    Status(APPLICATION_STATUS)};
        for (const SCall& call : SuccessTail()) {
            calls.push_back(call);
        }
        return calls;
    }();
    EXPECT_EQ(expected, host.calls);

    EXPECT_EQ(Concat({{CMD_IDENTIFY, CMD_BOOT_VERSIONS, CMD_SHOW_TEXT, CMD_INFO_BLOCK, CMD_SET_IMAGE_CRC},
                      Repeat(CMD_PROGRAM_BOOT, 4),
                      Repeat(CMD_READ_MEMORY, 4),
                      {CMD_SET_IMAGE_CRC, CMD_SHOW_TEXT},
                      Repeat(CMD_PROGRAM_APPLICATION, 4),
                      Repeat(CMD_READ_MEMORY, 4),
                      {CMD_RESTART}}),
              Commands());
    EXPECT_EQ((std::vector<std::string>{"Programming Boot Code", "Programming Application Code"}),
              writer.DisplayLines());
    EXPECT_EQ(0u, writer.DisplayClears());  // the link was closed before the exit path
    EXPECT_EQ((std::vector<std::uint32_t>{100, 2000, 100}), clock.pauses);
    EXPECT_FALSE(transport.IsOpen());

    // The boot read-back: two blocks from 0x40000 in pieces of the transfer block size.
    const auto reads = writer.RequestsOf(CMD_READ_MEMORY);
    for (std::uint32_t i = 0; i < 4; ++i) {
        EXPECT_EQ(0x40000u + i * 0x10000u, reads[i].header.parameter[0]);
        EXPECT_EQ(0x10000u, reads[i].header.parameter[1]);
        EXPECT_EQ(MEMORY_SELECTOR_READ_BACK, reads[i].header.parameter[4]);
    }
    const STestImages& images = STestImages::Get();
    EXPECT_TRUE(MemoryHolds(0x40000, images.boot));
    EXPECT_TRUE(MemoryHolds(0x80000, images.application));
    ASSERT_EQ(2u, writer.Summary().downloads.size());
    for (const SDownloadRecord& download : writer.Summary().downloads) {
        EXPECT_TRUE(download.MatchesAnnouncement());
    }
    EXPECT_EQ(RawCrc(images.application), writer.RequestsOf(CMD_SET_IMAGE_CRC).back().header.parameter[0]);
    EXPECT_TRUE(writer.Summary().restarted);
    EXPECT_TRUE(writer.Violations().empty());
}

TEST_F(WholeRun, EarlyBootLoader_ErasesLaysOutAtZeroAndUndoesTheLayout) {
    writer.Identity() = OldSolenne(3183);
    Run();

    ASSERT_EQ(1u, host.CallsOf("FinishDialog").size());
    const auto commands = Commands();
    ASSERT_GE(commands.size(), 4u);
    EXPECT_EQ((std::vector<std::uint16_t>{CMD_SHOW_TEXT, CMD_ERASE, CMD_INFO_BLOCK, CMD_SET_IMAGE_CRC}),
              std::vector<std::uint16_t>(commands.begin() + 2, commands.begin() + 6));
    const auto erases = writer.RequestsOf(CMD_ERASE);
    ASSERT_EQ(1u, erases.size());
    EXPECT_EQ(0x40000u, erases[0].header.parameter[0]);
    EXPECT_EQ(0x40000u, erases[0].header.parameter[1]);
    for (const auto& chunk : writer.RequestsOf(CMD_PROGRAM_BOOT)) {
        EXPECT_EQ(0u, chunk.header.parameter[1]);
    }
    const auto reads = writer.RequestsOf(CMD_READ_MEMORY);
    for (std::uint32_t i = 0; i < 4; ++i) {
        EXPECT_EQ(i * 0x10000u, reads[i].header.parameter[0]);
    }
    // The writer holds the layout: header, first part, erased reserve, second part.
    const STestImages& images = STestImages::Get();
    const std::uint8_t* memory = writer.Memory().At(0);
    EXPECT_EQ(8u, ReadLittleEndian32(memory));
    EXPECT_EQ(0x20000u, ReadLittleEndian32(memory + 4));
    EXPECT_TRUE(MemoryHolds(8, std::vector<std::uint8_t>(images.boot.begin(), images.boot.begin() + 129016)));
    EXPECT_TRUE(MemoryHolds(129024, std::vector<std::uint8_t>(2048, 0xFF)));
    EXPECT_TRUE(
        MemoryHolds(131072, std::vector<std::uint8_t>(images.boot.begin() + 129016, images.boot.end())));
    EXPECT_TRUE(writer.Summary().restarted);
}

struct SDecisionCase {
    const char* title;
    SWriterIdentity identity;
    bool bootVersionsFail;
    enum { NONE, CURRENT, EARLY } method;
};

void PrintTo(const SDecisionCase& c, std::ostream* out) {
    *out << c.title;
}

class BootDecision : public RunFixture, public ::testing::WithParamInterface<SDecisionCase> {};

TEST_P(BootDecision, ChoosesWhetherAndHowToProgramTheBootLoader) {
    const SDecisionCase& c = GetParam();
    writer.Identity() = c.identity;
    if (c.bootVersionsFail) {
        writer.AddFault({CMD_BOOT_VERSIONS, 1, EFaultKind::NoReply, 0});
    }
    Run();

    ASSERT_EQ(1u, host.CallsOf("FinishDialog").size());
    const auto bootChunks = writer.RequestsOf(CMD_PROGRAM_BOOT);
    const auto boot = host.LogLines();
    EXPECT_EQ(c.method != SDecisionCase::NONE,
              std::find(boot.begin(), boot.end(), BOOT_ANNOUNCEMENT) != boot.end());
    switch (c.method) {
        case SDecisionCase::NONE:
            EXPECT_TRUE(bootChunks.empty());
            break;
        case SDecisionCase::CURRENT:
            ASSERT_FALSE(bootChunks.empty());
            EXPECT_EQ(0x40000u, bootChunks[0].header.parameter[1]);
            EXPECT_EQ(0u, CountOf(CMD_ERASE));
            break;
        case SDecisionCase::EARLY:
            ASSERT_FALSE(bootChunks.empty());
            EXPECT_EQ(0u, bootChunks[0].header.parameter[1]);
            EXPECT_EQ(1u, CountOf(CMD_ERASE));
            break;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, BootDecision,
    ::testing::Values(
        SDecisionCase{"Build3183EqualVersions",
                      {16, 0x02050000, 0, 14000, 0x01080000, 3183, 0, 0},
                      false,
                      SDecisionCase::EARLY},
        SDecisionCase{"CurrentAndUpToDate",
                      {16, 0x02050000, 0, 14000, 0x01080000, 8462, 0, 0},
                      false,
                      SDecisionCase::NONE},
        SDecisionCase{"OlderBuildOnly",
                      {16, 0x02050000, 0, 14000, 0x01080000, 8461, 0, 0},
                      false,
                      SDecisionCase::CURRENT},
        // An early main boot loader is replaced whatever a secondary one says.
        SDecisionCase{"EarlyMainBesideUpToDateSecondary",
                      {16, 0x02050000, 0, 14000, 0x01080000, 3183, 0x01080000, 8462},
                      false,
                      SDecisionCase::EARLY},
        // The secondary boot loader decides when present.
        SDecisionCase{"SecondaryUpToDate",
                      {16, 0x02050000, 0, 14000, 0x01070000, 8000, 0x01080000, 8462},
                      false,
                      SDecisionCase::NONE},
        SDecisionCase{"SecondaryOlderBuild",
                      {16, 0x02050000, 0, 14000, 0x01080000, 8462, 0x01090000, 8000},
                      false,
                      SDecisionCase::CURRENT},
        // In boot mode the reported version is the boot loader's own.
        SDecisionCase{"BootModeUpToDate", {16, 0x01080000, 1, 8462, 0, 0, 0, 0}, false, SDecisionCase::NONE},
        SDecisionCase{"BootModeEarly", {16, 0x01080000, 1, 3000, 0, 0, 0, 0}, false, SDecisionCase::EARLY},
        // Unknown boot loaders count as early ones.
        SDecisionCase{"BootVersionsFail",
                      {16, 0x02050000, 0, 14000, 0x01080000, 8462, 0, 0},
                      true,
                      SDecisionCase::EARLY}),
    [](const ::testing::TestParamInfo<SDecisionCase>& param) { return param.param.title; });

TEST_F(WholeRun, BootMismatchesTwiceThenMatch_SucceedsAfterThreeAttempts) {
    writer.AddReadCorruption({0x40000 + 77, 1});
    writer.AddReadCorruption({0x40000 + 77, 2});
    Run();

    ASSERT_EQ(1u, host.CallsOf("FinishDialog").size());
    const auto lines = host.LogLines();
    EXPECT_EQ(3, std::count(lines.begin(), lines.end(), BOOT_ANNOUNCEMENT));
    EXPECT_EQ((std::vector<std::string>{"Programming Boot Code", "Attempt 2 to Program Boot Code",
                                        "Attempt 3 to Program Boot Code", "Programming Application Code"}),
              writer.DisplayLines());
    EXPECT_EQ(12u, CountOf(CMD_PROGRAM_BOOT));
    EXPECT_TRUE(writer.Summary().restarted);
}

TEST_F(WholeRun, ApplicationMismatchOnceThenMatch_LogsOneAttemptLine) {
    writer.Identity() = CurrentSolenne();
    writer.AddReadCorruption({0x80000 + 5, 1});
    Run();

    ASSERT_EQ(1u, host.CallsOf("FinishDialog").size());
    const auto lines = host.LogLines();
    EXPECT_EQ(1, std::count(lines.begin(), lines.end(), APPLICATION_ANNOUNCEMENT));
    EXPECT_EQ(1, std::count(lines.begin(), lines.end(),
                            "Attempt 2 Sending software version 2.06.00 to Solenne..."));
    EXPECT_EQ(
        (std::vector<std::string>{"Programming Application Code", "Attempt 2 to Program Application Code"}),
        writer.DisplayLines());
    EXPECT_EQ(2u, CountOf(CMD_SET_IMAGE_CRC));
    EXPECT_EQ(8u, CountOf(CMD_PROGRAM_APPLICATION));
}

struct SFailureCase {
    const char* title;
    std::function<void(RunFixture&)> setUp;
    std::string box;
    bool logged;
    std::vector<std::string> display;
    bool applicationAreaErased;
    bool writerPresentAtEnd;
};

void PrintTo(const SFailureCase& c, std::ostream* out) {
    *out << c.title;
}

class FailedRun : public RunFixture, public ::testing::WithParamInterface<SFailureCase> {};

TEST_P(FailedRun, ReportsOnceLeavesThroughTheExitPathAndNeverRestarts) {
    const SFailureCase& c = GetParam();
    c.setUp(*this);
    Run();

    const auto boxes = host.CallsOf("MessageOk");
    ASSERT_EQ(1u, boxes.size());
    EXPECT_EQ(c.box, boxes[0].text);
    EXPECT_EQ("Error", boxes[0].caption);
    EXPECT_EQ(MESSAGE_ICON_STOP, boxes[0].icon);
    const auto lines = host.LogLines();
    EXPECT_EQ(c.logged, !lines.empty() && lines.back() == c.box);
    EXPECT_EQ(c.display, writer.DisplayLines());

    const auto erases = writer.RequestsOf(CMD_ERASE);
    const bool applicationErased = !erases.empty() && erases.back().header.parameter[0] == 0x80000 &&
                                   erases.back().header.parameter[1] == 0x20000;
    EXPECT_EQ(c.applicationAreaErased, applicationErased);
    EXPECT_EQ(0u, CountOf(CMD_RESTART));
    EXPECT_TRUE(host.CallsOf("FinishDialog").empty());

    // The exit path: an empty text, the link closed, the status restored, the log closed.
    ASSERT_GE(host.calls.size(), 2u);
    EXPECT_EQ(Call("RestoreStatus"), host.calls[host.calls.size() - 2]);
    EXPECT_EQ(Call("CloseLog"), host.calls.back());
    if (c.writerPresentAtEnd) {
        EXPECT_EQ(CMD_SHOW_TEXT, writer.Transcript().back().header.command);
        EXPECT_EQ(0u, writer.Transcript().back().header.length);
    }
    EXPECT_EQ((std::vector<std::uint32_t>{100, 2000, 100}), clock.pauses);
    EXPECT_FALSE(transport.IsOpen());
    EXPECT_TRUE(writer.Violations().empty());
}

void CurrentBootLoader(RunFixture& f) {
    f.writer.Identity() = CurrentSolenne();
}

INSTANTIATE_TEST_SUITE_P(
    Table, FailedRun,
    ::testing::Values(SFailureCase{"BootRefusedFilesOpen",
                                   [](RunFixture& f) { f.writer.Behaviour().programRefusal = 3; },
                                   OPEN_FILES_BOX,
                                   true,
                                   {"Programming Boot Code", FAILURE_DISPLAY},
                                   false,
                                   true},
                      SFailureCase{"ApplicationRefusedFilesOpen",
                                   [](RunFixture& f) {
                                       CurrentBootLoader(f);
                                       f.writer.Behaviour().programRefusal = 3;
                                   },
                                   OPEN_FILES_BOX,
                                   true,
                                   {"Programming Application Code", FAILURE_DISPLAY},
                                   false,
                                   true},
                      SFailureCase{
                          "ApplicationRefusedOtherCode",
                          [](RunFixture& f) {
                              CurrentBootLoader(f);
                              f.writer.AddFault({CMD_PROGRAM_APPLICATION, 2, EFaultKind::ErrorReply, 0x44});
                          },
                          "Unable to program your writer.  Error Code 68",
                          true,
                          {"Programming Application Code", FAILURE_DISPLAY},
                          false,
                          true},
                      SFailureCase{"BootChunkUnexpectedReply",
                                   [](RunFixture& f) {
                                       f.writer.AddFault({CMD_PROGRAM_BOOT, 2, EFaultKind::WrongCommand, 7});
                                   },
                                   "Unable to program your writer.  Error Code 111",
                                   true,
                                   {"Programming Boot Code", FAILURE_DISPLAY},
                                   false,
                                   true},
                      SFailureCase{"BootThreeMismatches",
                                   [](RunFixture& f) {
                                       for (std::uint32_t pass = 1; pass <= 3; ++pass) {
                                           f.writer.AddReadCorruption({0x40000 + 5, pass});
                                       }
                                   },
                                   "Unable to program your writer.  Error Code 6",
                                   true,
                                   {"Programming Boot Code", "Attempt 2 to Program Boot Code",
                                    "Attempt 3 to Program Boot Code", FAILURE_DISPLAY},
                                   false,
                                   true},
                      SFailureCase{"BootReadFailsInAttemptOne",
                                   [](RunFixture& f) {
                                       f.writer.AddFault({CMD_READ_MEMORY, 1, EFaultKind::NoReply, 0});
                                   },
                                   "Unable to program your writer.  Error Code 6",
                                   true,
                                   {"Programming Boot Code", FAILURE_DISPLAY},
                                   false,
                                   true},
                      SFailureCase{"ApplicationThreeMismatches",
                                   [](RunFixture& f) {
                                       CurrentBootLoader(f);
                                       for (std::uint32_t pass = 1; pass <= 3; ++pass) {
                                           f.writer.AddReadCorruption({0x80000 + 70000, pass});
                                       }
                                   },
                                   "Unable to program your writer.  Error Code 6",
                                   true,
                                   {"Programming Application Code", "Attempt 2 to Program Application Code",
                                    "Attempt 3 to Program Application Code", FAILURE_DISPLAY},
                                   true,
                                   true},
                      SFailureCase{"ApplicationReadFailsAfterTwoMismatches",
                                   [](RunFixture& f) {
                                       CurrentBootLoader(f);
                                       f.writer.AddReadCorruption({0x80000, 1});
                                       f.writer.AddReadCorruption({0x80000, 2});
                                       f.writer.AddFault({CMD_READ_MEMORY, 9, EFaultKind::NoReply, 0});
                                   },
                                   "Unable to program your writer.  Error Code 6",
                                   true,
                                   {"Programming Application Code", "Attempt 2 to Program Application Code",
                                    "Attempt 3 to Program Application Code", FAILURE_DISPLAY},
                                   false,
                                   true},
                      // Unplugged in the middle of the download: nothing reaches the writer any more.
                      SFailureCase{"WriterGoneMidDownload",
                                   [](RunFixture& f) {
                                       CurrentBootLoader(f);
                                       f.writer.AddFault({CMD_PROGRAM_APPLICATION, 2, EFaultKind::Gone, 0});
                                   },
                                   "Unable to program your writer.  Error Code 101",
                                   true,
                                   {"Programming Application Code"},
                                   false,
                                   false},
                      SFailureCase{"DamagedApplicationImage",
                                   [](RunFixture& f) {
                                       CurrentBootLoader(f);
                                       f.resources.containers[IDR_APPLICATION_IMAGE][5000] ^= 0x10;
                                   },
                                   "Unable to program your writer.  Error Code 12",
                                   true,
                                   {},
                                   false,
                                   true},
                      SFailureCase{"BootImageNotTheRecordedOne",
                                   [](RunFixture& f) { f.resources.records[IDR_BOOT_IMAGE].crc ^= 1; },
                                   "Unable to program your writer.  Error Code 12",
                                   true,
                                   {},
                                   false,
                                   true},
                      SFailureCase{"NoMemoryForTheBootImage",
                                   [](RunFixture& f) { f.allocator.failAt = 1; },
                                   MEMORY_BOX,
                                   false,
                                   {},
                                   false,
                                   true},
                      SFailureCase{"NoMemoryForTheBootReadBack",
                                   [](RunFixture& f) { f.allocator.failAt = 2; },
                                   MEMORY_BOX,
                                   false,
                                   {},
                                   false,
                                   true},
                      // The link's own layout buffer: the download reports no valid reply.
                      SFailureCase{"NoMemoryForTheBootLayout",
                                   [](RunFixture& f) { f.allocator.failAt = 3; },
                                   "Unable to program your writer.  Error Code 111",
                                   true,
                                   {"Programming Boot Code", FAILURE_DISPLAY},
                                   false,
                                   true},
                      SFailureCase{"NoMemoryForTheReserveCheck",
                                   [](RunFixture& f) {
                                       f.writer.Identity() = RunFixture::OldSolenne(3000);
                                       f.allocator.failAt = 4;
                                   },
                                   MEMORY_BOX,
                                   false,
                                   {"Programming Boot Code"},
                                   false,
                                   true},
                      SFailureCase{"NoMemoryForTheApplicationImage",
                                   [](RunFixture& f) { f.allocator.failAt = 4; },
                                   MEMORY_BOX,
                                   false,
                                   {"Programming Boot Code"},
                                   false,
                                   true},
                      SFailureCase{"NoMemoryForTheApplicationReadBack",
                                   [](RunFixture& f) { f.allocator.failAt = 5; },
                                   MEMORY_BOX,
                                   false,
                                   {"Programming Boot Code"},
                                   false,
                                   true}),
    [](const ::testing::TestParamInfo<SFailureCase>& param) { return param.param.title; });

// The boot geometry a writer reports (reserve 0: the default of 2048 stays), and what
// the rules make of it for the 133488-byte boot image: at address 0 the layout holds
// 2B - R - 8 bytes and spans two blocks once the image passes B - R - 8; at 0x40000 it
// holds 2B. The read-back is two blocks, whatever the layout.
struct SGeometryRunCase {
    const char* title;
    std::uint32_t mainBootBuild;  // at most 3183: early method, layout at 0
    std::uint32_t blockSize, reserve;
    std::uint32_t layoutSize;      // 0: the layout cannot hold the image, nothing goes out
    std::uint32_t readBackPieces;  // of 64 KiB
};

void PrintTo(const SGeometryRunCase& c, std::ostream* out) {
    *out << c.title;
}

// The layout by the rules: 0xFF everywhere but the image and, at address 0, the header
// words 8 and (two blocks) 0x20000, the image's first B - R - 8 bytes after them and
// the rest from the second block on.
std::vector<std::uint8_t> ExpectedBootLayout(const std::vector<std::uint8_t>& image, std::uint32_t b,
                                             std::uint32_t r, std::uint32_t address, std::uint32_t size) {
    std::vector<std::uint8_t> layout(size, 0xFF);
    if (address != 0) {
        std::copy(image.begin(), image.end(), layout.begin());
        return layout;
    }
    WriteLittleEndian32(layout.data(), 8);
    WriteLittleEndian32(layout.data() + 4, size > b ? 0x20000 : 0);
    const std::size_t firstPart = std::min<std::size_t>(image.size(), b - r - 8);
    std::copy(image.begin(), image.begin() + static_cast<std::ptrdiff_t>(firstPart), layout.begin() + 8);
    std::copy(image.begin() + static_cast<std::ptrdiff_t>(firstPart), image.end(), layout.begin() + b);
    return layout;
}

class ReportedBootGeometry : public RunFixture, public ::testing::WithParamInterface<SGeometryRunCase> {};

TEST_P(ReportedBootGeometry, LaysOutReadsBackAndVerifiesByTheWritersBlocks) {
    const SGeometryRunCase& c = GetParam();
    writer.Identity() = OldSolenne(c.mainBootBuild);
    writer.Behaviour().reportedBootBlockSize = c.blockSize;
    writer.Behaviour().reportedBootReserve = c.reserve;
    Run();

    const bool early = c.mainBootBuild <= 3183;
    const std::uint32_t address = early ? 0 : 0x40000;
    EXPECT_EQ(early ? 1u : 0u, CountOf(CMD_ERASE));
    EXPECT_TRUE(writer.Violations().empty());
    const auto boxes = host.CallsOf("MessageOk");
    ASSERT_EQ(1u, boxes.size());
    if (c.layoutSize == 0) {
        EXPECT_EQ("Unable to program your writer.  Error Code 111", boxes[0].text);
        EXPECT_EQ((std::vector<std::string>{"Programming Boot Code", FAILURE_DISPLAY}),
                  writer.DisplayLines());
        EXPECT_EQ(0u, CountOf(CMD_SET_IMAGE_CRC));
        EXPECT_EQ(0u, CountOf(CMD_PROGRAM_BOOT));
        EXPECT_EQ(0u, CountOf(CMD_READ_MEMORY));
        EXPECT_EQ(0u, CountOf(CMD_RESTART));
        return;
    }
    EXPECT_EQ(SUCCESS_BOX, boxes[0].text);
    const auto lines = host.LogLines();
    EXPECT_EQ(1, std::count(lines.begin(), lines.end(), BOOT_ANNOUNCEMENT));  // verified at once

    const auto chunks = writer.RequestsOf(CMD_PROGRAM_BOOT);
    ASSERT_EQ(c.layoutSize / 0x10000, chunks.size());
    for (const SReceivedRequest& chunk : chunks) {
        EXPECT_EQ(address, chunk.header.parameter[1]);
        EXPECT_EQ(c.layoutSize, chunk.header.parameter[2]);
    }
    // The boot read-back: the reads before the first application chunk.
    std::vector<std::uint32_t> readAddresses;
    for (const SReceivedRequest& request : writer.Transcript()) {
        if (request.header.command == CMD_PROGRAM_APPLICATION) {
            break;
        }
        if (request.header.command == CMD_READ_MEMORY) {
            readAddresses.push_back(request.header.parameter[0]);
            EXPECT_EQ(0x10000u, request.header.parameter[1]);
        }
    }
    ASSERT_EQ(c.readBackPieces, readAddresses.size());
    for (std::uint32_t i = 0; i < c.readBackPieces; ++i) {
        EXPECT_EQ(address + i * 0x10000, readAddresses[i]);
    }

    const STestImages& images = STestImages::Get();
    const std::uint32_t reserve = c.reserve != 0 ? c.reserve : 2048;
    EXPECT_TRUE(
        MemoryHolds(address, ExpectedBootLayout(images.boot, c.blockSize, reserve, address, c.layoutSize)));
    EXPECT_TRUE(MemoryHolds(0x80000, images.application));
    ASSERT_EQ(2u, writer.Summary().downloads.size());
    for (const SDownloadRecord& download : writer.Summary().downloads) {
        EXPECT_TRUE(download.MatchesAnnouncement());
    }
    EXPECT_TRUE(writer.Summary().restarted);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ReportedBootGeometry,
    ::testing::Values(
        // Early boot loaders. A 1024 reserve leaves 130040 bytes in the first block, a 4096
        // one 126968: both spill into the second block, as the default does.
        SGeometryRunCase{"EarlySmallReserve", 3183, 0x20000, 1024, 0x40000, 4},
        SGeometryRunCase{"EarlyLargeReserve", 3183, 0x20000, 4096, 0x40000, 4},
        SGeometryRunCase{"EarlyDefaultReserveKept", 3183, 0x20000, 0, 0x40000, 4},
        // A reserve of 96 KiB leaves 32760 bytes before it: most of the image lies in
        // the second block, which the gap closing must move down whole.
        SGeometryRunCase{"EarlyReserveOfMostOfTheBlock", 3183, 0x20000, 0x18000, 0x40000, 4},
        // 256 KiB blocks: the image fits the first block, the second header word is 0.
        SGeometryRunCase{"EarlyLargeBlocks", 3000, 0x40000, 4096, 0x40000, 8},
        // 64 KiB blocks hold 130040 bytes at address 0, 131072 elsewhere: too few.
        SGeometryRunCase{"EarlySmallBlocks", 3183, 0x10000, 1024, 0, 0},
        // Current boot loaders: the image as it is at 0x40000.
        SGeometryRunCase{"CurrentSmallReserve", 8000, 0x20000, 1024, 0x40000, 4},
        SGeometryRunCase{"CurrentLargeBlocks", 8000, 0x40000, 0, 0x40000, 8},
        SGeometryRunCase{"CurrentSmallBlocks", 8000, 0x10000, 0, 0, 0}),
    [](const ::testing::TestParamInfo<SGeometryRunCase>& param) { return std::string(param.param.title); });

TEST_F(WholeRun, DamagedImage_SendsNothingForIt) {
    CurrentBootLoader(*this);
    resources.containers[IDR_APPLICATION_IMAGE][5000] ^= 0x10;
    Run();
    EXPECT_EQ(0u, CountOf(CMD_PROGRAM_APPLICATION));
    EXPECT_EQ(0u, CountOf(CMD_SET_IMAGE_CRC));
    EXPECT_EQ(0u, CountOf(CMD_ERASE));
}

TEST_F(WholeRun, SilentWriterMidDownload_WaitsTheReplyTimeoutThenReports101) {
    CurrentBootLoader(*this);
    CRecordingClock timeouts;
    transport.SetReplyTimeoutClock(&timeouts);
    writer.AddFault({CMD_PROGRAM_APPLICATION, 3, EFaultKind::NoReply, 0});
    Run();

    ASSERT_EQ(1u, host.CallsOf("MessageOk").size());
    EXPECT_EQ("Unable to program your writer.  Error Code 101", host.CallsOf("MessageOk")[0].text);
    EXPECT_EQ(std::vector<std::uint32_t>{REPLY_TIMEOUT_MS}, timeouts.pauses);
    EXPECT_EQ(3u, CountOf(CMD_PROGRAM_APPLICATION));
    EXPECT_EQ(0u, CountOf(CMD_RESTART));
}

TEST_F(WholeRun, AcceptedTypeWithoutImages_CompletesAtOnceWithoutRestart) {
    writer.Identity() = {5, 0, 0, 0, 0, 0, 0, 0};
    host.allowedTypeMask = 0x10;
    Run();

    EXPECT_EQ((std::vector<SCall>{
                  Call("OpenLog"),
                  Log("USB found Marlow halcyon(5), App. Ver. 0.00 "),
                  Status("\n\n\n\n\n\nMarlow halcyon Updated."),
                  Log("Successfully updated the Marlow halcyon."),
                  {"MessageOk", "Successfully updated the Marlow halcyon.\n           Click OK to Exit.",
                   "Solenne/Brisa Update", MESSAGE_ICON_INFORMATION},
                  Call("FinishDialog"),
                  Call("RestoreStatus"),
                  Call("CloseLog")}),
              host.calls);
    // Completion closed the link, so the exit path sends no empty text.
    EXPECT_EQ((std::vector<std::uint16_t>{CMD_IDENTIFY}), Commands());
}

TEST_F(WholeRun, RestartRefused_ShowsTheWritersReasonAndStillCompletes) {
    CurrentBootLoader(*this);
    writer.Behaviour().refuseRestart = true;
    writer.Behaviour().restartStatusBits = 2;
    Run();
    EXPECT_EQ(1u, host.CallsOf("ShowNotice").size());
    EXPECT_EQ("Cannot Program, Real-Time Active", host.CallsOf("ShowNotice")[0].text);
    EXPECT_EQ(1u, host.CallsOf("FinishDialog").size());
}

}  // namespace
