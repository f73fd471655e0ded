#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>

#include "app/main_dialog.h"
#include "images/byte_buffer.h"
#include "images/resource_source.h"
#include "sim/sim_transport.h"
#include "sim/sim_writer.h"
#include "tests/app/fixed_dialog_inputs.h"
#include "tests/app/memory_log_file_system.h"
#include "tests/app/recording_surface.h"
#include "usb/recording_clock.h"

namespace {

// A whole update with the images this build carries, on the in-process wire.
TEST(MainDialogUpdate, SuccessfulRun_EndsTheDialog_OnlyAfterStatusRestoredAndLogClosed) {
    CRecordingSurface surface;
    CMemoryLogFileSystem files;
    CThisBuildVersionRecord version;
    CMainDialog dialog(surface, files, version, "Solenne/Brisa Update");
    dialog.Initialise();

    CSimWriter writer;  // a Solenne with an old application and boot loader
    CSimTransport transport(&writer);
    CRecordingClock clock;
    dialog.OnGo(SJobEnvironment{transport, clock, nullptr, BuiltInResources(), SystemAllocator()});

    ASSERT_TRUE(dialog.Finished()) << "the run did not complete";
    EXPECT_EQ(dialog.Result(), 2);
    EXPECT_FALSE(dialog.IsLogOpen());
    const auto ended = std::find_if(surface.calls.begin(), surface.calls.end(),
                                    [](const auto& call) { return call.operation == "EndDialog"; });
    ASSERT_NE(ended, surface.calls.end());
    // The success box and the instructions put back by the exit path reach the window
    // before it ends; the end is the last thing the window sees.
    EXPECT_TRUE(std::any_of(surface.calls.begin(), ended, [](const auto& call) {
        return call.operation == "ShowMessage" && call.text.starts_with("Successfully updated the Solenne.");
    }));
    ASSERT_NE(ended, surface.calls.begin());
    EXPECT_EQ(std::prev(ended)->operation, "SetStatusText");
    EXPECT_EQ(std::prev(ended)->text, dialog.InstructionText());
    EXPECT_EQ(std::next(ended), surface.calls.end());
    EXPECT_TRUE(files.files.begin()->second.ends_with(" - Exiting\n"));
    EXPECT_TRUE(writer.Summary().restarted);
}

}  // namespace
