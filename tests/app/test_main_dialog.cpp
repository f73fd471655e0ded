#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>

#include "app/main_dialog.h"
#include "images/byte_buffer.h"
#include "sim/sim_transport.h"
#include "sim/sim_writer.h"
#include "tests/app/memory_log_file_system.h"
#include "tests/app/recording_surface.h"
#include "tests/app/temp_home.h"
#include "usb/recording_clock.h"

namespace {

const std::string TITLE = "Solenne/Brisa Update";
const std::string INSTRUCTIONS =
    "Connect Steno Machine via the USB cable\n"
    "and click \"Go!\" to update your machine software.\n\n"
    "Solenne - Build: 14186\n"
    "Brisa - Build: 14186\n";
const std::string STAMP = "March 07, 2016  18:49:30";
const std::string OPEN_FAILURE =
    "Unable to open a connection with your steno machine.\n"
    "Please make sure the writer is turned On and the USB cable is firmly connected";

std::tm FixedTime() {
    std::tm time{};
    time.tm_year = 116;
    time.tm_mon = 2;
    time.tm_mday = 7;
    time.tm_hour = 18;
    time.tm_min = 49;
    time.tm_sec = 30;
    return time;
}

class CSettableVersionRecord final : public IVersionRecord {
public:
    std::optional<SProductVersion> ReadProductVersion() override { return version; }
    std::optional<SProductVersion> version = SProductVersion{{2, 14186, 0, 0}};
};

// The runs never get as far as an image, so no resources are needed.
class CNoResources final : public IResourceSource {
public:
    std::optional<std::span<const std::uint8_t>> Find(std::uint32_t) const override { return std::nullopt; }
    std::optional<SImageRecord> FindRecord(std::uint32_t) const override { return std::nullopt; }
};

// A dialog over a recording surface; its runs go to a simulated writer, or to none.
struct MainDialogFixture : ::testing::Test {
    CRecordingSurface surface;
    CSettableVersionRecord versionRecord;
    CRecordingClock clock;
    CNoResources resources;

    void Go(CMainDialog& dialog, CSimWriter* writer) {
        CSimTransport transport(writer);
        dialog.OnGo(SJobEnvironment{transport, clock, nullptr, resources, SystemAllocator()});
    }
};

struct MainDialog : MainDialogFixture {
    CMemoryLogFileSystem memoryFiles;
    CMainDialog dialog{surface, memoryFiles, versionRecord, TITLE, FixedTime};
};

TEST_F(MainDialog, Initialise_SetsCaptionInstructionsAndMask) {
    dialog.Initialise();
    EXPECT_EQ(surface.calls, (std::vector<CRecordingSurface::SCall>{
                                 {"SetCaption", "Solenne/Brisa Update - Build:  14186", "", 0},
                                 {"SetStatusText", INSTRUCTIONS, "", 0},
                             }));
    EXPECT_EQ(dialog.AllowedTypeMask(), 0x18000u);
    EXPECT_EQ(dialog.ApplicationTitle(), TITLE);
    EXPECT_FALSE(dialog.IsLogOpen());
    EXPECT_FALSE(dialog.Ended());
}

TEST_F(MainDialog, AboutText_HasNoDash_AndReadsTheBuildAfresh) {
    dialog.Initialise();
    EXPECT_EQ(dialog.AboutText(), "Solenne/Brisa Update Build:  14186");
    versionRecord.version = SProductVersion{{2, 14186, 0, 3}};
    EXPECT_EQ(dialog.AboutText(), "Solenne/Brisa Update Build:  14186 Beta 3");
    EXPECT_EQ(dialog.Caption(), "Solenne/Brisa Update - Build:  14186");
}

TEST_F(MainDialogFixture, MissingTitleAndVersionRecord_ShowEmptyTitleAndBuild0) {
    CMemoryLogFileSystem files;
    versionRecord.version.reset();
    CMainDialog untitled(surface, files, versionRecord, "", FixedTime);
    untitled.Initialise();
    EXPECT_EQ(untitled.Caption(), " - Build:  0");
    EXPECT_EQ(untitled.AboutText(), " Build:  0");
    Go(untitled, nullptr);
    EXPECT_TRUE(files.files.begin()->second.starts_with(STAMP + " -  Server: Build: 0\n"));
}

TEST_F(MainDialog, FailedRuns_RestoreTheInstructions_AndLeaveTheDialogOpen) {
    dialog.Initialise();
    CSimWriter refused(SWriterIdentity{.machineType = 5, .version = 0x0105, .bootMode = 0, .build = 0});
    Go(dialog, &refused);
    EXPECT_EQ(surface.status, INSTRUCTIONS);
    Go(dialog, nullptr);
    EXPECT_EQ(surface.status, INSTRUCTIONS);

    EXPECT_EQ(
        surface.CallsOf("ShowMessage"),
        (std::vector<CRecordingSurface::SCall>{
            {"ShowMessage", "Improper Machine Type.  This update is not for Marlow halcyon!", "Error", 0x10},
            {"ShowMessage", OPEN_FAILURE, "Error", 0x10},
        }));
    EXPECT_TRUE(surface.CallsOf("EndDialog").empty());
    EXPECT_FALSE(dialog.Ended());
    EXPECT_FALSE(dialog.IsLogOpen());
}

TEST_F(MainDialog, DowngradeQuestion_IsAskedInAYesNoBox_NoLeavesTheDialogOpen) {
    dialog.Initialise();
    CSimWriter newer(
        SWriterIdentity{.machineType = 16, .version = 0x02070000, .bootMode = 0, .build = 14186});
    Go(dialog, &newer);
    ASSERT_EQ(surface.CallsOf("AskYesNo").size(), 1u);
    EXPECT_EQ(surface.CallsOf("AskYesNo")[0].caption, "Warning");
    EXPECT_FALSE(dialog.Ended());
    EXPECT_EQ(surface.status, INSTRUCTIONS);
}

TEST_F(MainDialog, FinishDialog_EndsWithResult2_AsFinished) {
    dialog.Initialise();
    dialog.FinishDialog();
    EXPECT_EQ(surface.CallsOf("EndDialog"),
              (std::vector<CRecordingSurface::SCall>{{"EndDialog", "2", "", 0}}));
    EXPECT_TRUE(dialog.Ended());
    EXPECT_TRUE(dialog.Finished());
    EXPECT_EQ(dialog.Result(), 2);
}

TEST_F(MainDialog, Cancel_EndsWithResult2_NotAsFinished) {
    dialog.Initialise();
    dialog.Cancel();
    EXPECT_EQ(surface.CallsOf("EndDialog"),
              (std::vector<CRecordingSurface::SCall>{{"EndDialog", "2", "", 0}}));
    EXPECT_TRUE(dialog.Ended());
    EXPECT_FALSE(dialog.Finished());
}

TEST_F(MainDialog, LinkNotice_IsAnOkBoxCaptionedWithTheTitle) {
    dialog.Initialise();
    dialog.ShowNotice("Writer refuses to restart");
    EXPECT_EQ(
        surface.CallsOf("ShowMessage"),
        (std::vector<CRecordingSurface::SCall>{{"ShowMessage", "Writer refuses to restart", TITLE, 0}}));
}

TEST_F(MainDialog, LogWriteFailure_IsShownInAStopBox_DialogStaysOpen_LogStaysOpen) {
    dialog.Initialise();
    memoryFiles.failures.write = true;
    Go(dialog, nullptr);
    EXPECT_EQ(
        surface.CallsOf("ShowMessage"),
        (std::vector<CRecordingSurface::SCall>{{"ShowMessage", CMainDialog::LOG_FAILURE_TEXT, TITLE, 0x10}}));
    EXPECT_FALSE(dialog.Ended());
    EXPECT_TRUE(dialog.IsLogOpen());
    EXPECT_EQ(surface.status, INSTRUCTIONS);

    // The next run writes through the open handle, without a header of its own.
    memoryFiles.failures.write = false;
    Go(dialog, nullptr);
    EXPECT_EQ(memoryFiles.opens, 1);
    EXPECT_EQ(memoryFiles.files.begin()->second,
              STAMP + " - " + OPEN_FAILURE + "\n" + STAMP + " - Exiting\n");
    EXPECT_FALSE(dialog.IsLogOpen());
}

// The same runs with the real log file in a private HOME.
struct MainDialogWithLogFile : MainDialogFixture {
    CTempHome home;
    CMainDialog dialog{surface, SystemLogFileSystem(), versionRecord, TITLE, FixedTime};

    static std::string Block(const std::string& events) {
        return STAMP + " - Solenne/Brisa Update Server: Build: 14186\n" + events + STAMP + " - Exiting\n";
    }
};

TEST_F(MainDialogWithLogFile, TwoRunsAfterOneStart_AppendTwoBlocks_EarlierLinesStay) {
    std::ofstream(home.LogPath(), std::ios::binary) << "an earlier start\n";
    dialog.Initialise();
    Go(dialog, nullptr);
    CSimWriter refused(SWriterIdentity{.machineType = 5, .version = 0x0105, .bootMode = 0, .build = 0});
    Go(dialog, &refused);

    EXPECT_EQ(ReadWholeFile(home.LogPath()),
              "an earlier start\n" +  //
                  Block(STAMP + " - " + OPEN_FAILURE + "\n") +
                  Block(STAMP + " - USB found Marlow halcyon(5), App. Ver. 1.05 \n" + STAMP +
                        " - Improper Machine Type.  This update is not for Marlow halcyon!\n"));
}

TEST_F(MainDialogWithLogFile, EveryLineEndsWithALineFeedAlone) {
    dialog.Initialise();
    Go(dialog, nullptr);
    const std::string contents = ReadWholeFile(home.LogPath());
    ASSERT_FALSE(contents.empty());
    EXPECT_EQ(contents.back(), '\n');
    EXPECT_EQ(contents.find('\r'), std::string::npos);
}

TEST_F(MainDialogWithLogFile, FileHeldByAnotherProgram_RunGoesAheadWithoutLogOrMessage) {
    std::ofstream(home.LogPath(), std::ios::binary) << "held\n";
    const int other = open(home.LogPath().c_str(), O_WRONLY);
    ASSERT_GE(other, 0);
    ASSERT_EQ(flock(other, LOCK_EX), 0);

    dialog.Initialise();
    Go(dialog, nullptr);
    close(other);

    // The run's own box is the only one: nothing tells of the missing log.
    EXPECT_EQ(surface.CallsOf("ShowMessage"),
              (std::vector<CRecordingSurface::SCall>{{"ShowMessage", OPEN_FAILURE, "Error", 0x10}}));
    EXPECT_EQ(ReadWholeFile(home.LogPath()), "held\n");
    EXPECT_FALSE(dialog.IsLogOpen());
}

TEST_F(MainDialogFixture, NoDocumentsFolder_RunWithoutLog_FolderNotCreated) {
    CTempHome home(false);
    CMainDialog dialog(surface, SystemLogFileSystem(), versionRecord, TITLE, FixedTime);
    dialog.Initialise();
    Go(dialog, nullptr);
    EXPECT_FALSE(std::filesystem::exists(home.Documents()));
    EXPECT_EQ(surface.CallsOf("ShowMessage").size(), 1u);
}

}  // namespace
