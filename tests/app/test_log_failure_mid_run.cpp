#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "app/main_dialog.h"
#include "images/byte_buffer.h"
#include "images/resource_source.h"
#include "sim/sim_transport.h"
#include "sim/sim_writer.h"
#include "tests/app/fixed_dialog_inputs.h"
#include "tests/app/memory_log_file_system.h"
#include "tests/app/recording_surface.h"
#include "usb/recording_clock.h"
#include "usb/usb_codes.h"

namespace {

// The requests that change what the writer holds or shows.
bool ChangesTheWriter(const SReceivedRequest& request) {
    switch (request.header.command) {
        case CMD_SHOW_TEXT:
            return request.header.length != 0;  // an empty text only clears the display
        case CMD_ERASE:
        case CMD_SET_IMAGE_CRC:
        case CMD_PROGRAM_BOOT:
        case CMD_PROGRAM_APPLICATION:
            return true;
        default:
            return false;
    }
}

struct SWriterCase {
    std::string name;
    std::function<void(CSimWriter&)> arrange;
    bool updates;  // whether a run with a sound log updates this writer
};

void PrintTo(const SWriterCase& writerCase, std::ostream* out) {
    *out << writerCase.name;
}

// One dialog and writer; the log fails from its `failFrom`-th write on (0: never).
struct SLoggedRun {
    SLoggedRun(const SWriterCase& writerCase, int failFrom) {
        writerCase.arrange(writer);
        files.failWritesFrom = failFrom;
        files.beforeWrite = [this](int) {
            const auto& transcript = writer.Transcript();
            changedAtWrite.push_back(std::any_of(transcript.begin(), transcript.end(), ChangesTheWriter));
            logSizeAtWrite.push_back(files.files.empty() ? 0 : files.files.begin()->second.size());
        };
        dialog.Initialise();
        dialog.OnGo(SJobEnvironment{transport, clock, nullptr, BuiltInResources(), SystemAllocator()});
    }

    std::vector<CRecordingSurface::SCall> Boxes() const { return surface.CallsOf("ShowMessage"); }

    CSimWriter writer;
    CSimTransport transport{&writer};
    CRecordingClock clock;
    CRecordingSurface surface;
    CMemoryLogFileSystem files;
    CThisBuildVersionRecord version;
    CMainDialog dialog{surface, files, version, "Solenne/Brisa Update", FixedLocalTime};
    std::vector<bool> changedAtWrite;         // whether the writer had been changed at each write
    std::vector<std::size_t> logSizeAtWrite;  // the log's length just before each write
};

class LogFailingMidRun : public ::testing::TestWithParam<SWriterCase> {};

// For every write of the run's log, the log fails from that write on. Until the first
// request that changes the writer, the run is abandoned and the writer keeps what it
// had; from then on the run goes to its own end as with a sound log. The link is
// closed, the log keeps the lines written before the failure, and the failure's box
// comes once, after every box of the run.
TEST_P(LogFailingMidRun, WriterIsEitherUntouchedOrTakenToItsEnd) {
    const SLoggedRun sound(GetParam(), 0);
    ASSERT_EQ(sound.dialog.Finished(), GetParam().updates);
    const int writes = sound.files.writes;
    ASSERT_GE(writes, 6);
    const std::string soundLog = sound.files.files.begin()->second;

    for (int failFrom = 1; failFrom <= writes; ++failFrom) {
        SCOPED_TRACE("the log fails from write " + std::to_string(failFrom) + " of " +
                     std::to_string(writes));
        const SLoggedRun run(GetParam(), failFrom);
        const bool changed = sound.changedAtWrite[static_cast<std::size_t>(failFrom - 1)];
        const SWriterSummary& summary = run.writer.Summary();
        if (std::getenv("TESSEL_VERBOSE") != nullptr) {
            std::printf(
                "%-28s write %d/%d: %-9s display \"%s\", link %s, restarted %s, erases %zu, boxes %zu\n",
                GetParam().name.c_str(), failFrom, writes,
                run.dialog.Finished() ? "updated"
                : changed             ? "failed"
                                      : "abandoned",
                run.writer.CurrentDisplay().c_str(), run.transport.IsOpen() ? "open" : "closed",
                summary.restarted ? "yes" : "no", summary.erases.size(), run.Boxes().size());
        }

        EXPECT_FALSE(run.transport.IsOpen());
        EXPECT_EQ(run.surface.status, run.dialog.InstructionText());
        const auto boxes = run.Boxes();
        ASSERT_FALSE(boxes.empty());
        EXPECT_EQ(boxes.back(), (CRecordingSurface::SCall{"ShowMessage", CMainDialog::LOG_FAILURE_TEXT,
                                                          "Solenne/Brisa Update", 0x10}));
        EXPECT_EQ(std::count(boxes.begin(), boxes.end(), boxes.back()), 1);

        if (!changed) {
            // Abandoned before anything changed: nothing sent but queries, the display
            // cleared when the link had been opened, no box of the run's own.
            EXPECT_FALSE(run.dialog.Finished());
            EXPECT_TRUE(summary.downloads.empty());
            EXPECT_TRUE(summary.erases.empty());
            EXPECT_FALSE(summary.restarted);
            EXPECT_TRUE(run.writer.DisplayLines().empty());
            EXPECT_EQ(run.writer.DisplayClears(), run.writer.Transcript().empty() ? 0u : 1u);
            EXPECT_EQ(boxes.size(), 1u);
        } else {
            // Taken to its end: the same requests, the same boxes before the log's own,
            // the same writer as with a sound log.
            EXPECT_EQ(run.dialog.Finished(), sound.dialog.Finished());
            ASSERT_EQ(run.writer.Transcript().size(), sound.writer.Transcript().size());
            for (std::size_t i = 0; i < sound.writer.Transcript().size(); ++i) {
                EXPECT_EQ(run.writer.Transcript()[i].header.command,
                          sound.writer.Transcript()[i].header.command);
                EXPECT_EQ(run.writer.Transcript()[i].payload, sound.writer.Transcript()[i].payload);
            }
            EXPECT_EQ(std::vector(boxes.begin(), boxes.end() - 1), sound.Boxes());
            EXPECT_EQ(run.writer.DisplayLines(), sound.writer.DisplayLines());
            EXPECT_EQ(summary.restarted, sound.writer.Summary().restarted);
            EXPECT_EQ(summary.erases.size(), sound.writer.Summary().erases.size());
        }
        // The log holds what was written before the failure, and nothing after it.
        const std::size_t kept = sound.logSizeAtWrite[static_cast<std::size_t>(failFrom - 1)];
        EXPECT_EQ(run.files.files.begin()->second, soundLog.substr(0, kept));
    }
}

INSTANTIATE_TEST_SUITE_P(Writers, LogFailingMidRun,
                         ::testing::Values(
                             // An old Solenne whose application reads back wrong once: boot stage, two
                             // application attempts, restart.
                             SWriterCase{"RetriedThenUpdated",
                                         [](CSimWriter& w) {
                                             w.AddReadCorruption({0x80000 + 5, 1});
                                         },
                                         true},
                             // Every application attempt reads back wrong: the stage erases what it sent.
                             SWriterCase{"ApplicationFailsThreeTimes",
                                         [](CSimWriter& w) {
                                             for (std::uint32_t pass = 1; pass <= 3; ++pass) {
                                                 w.AddReadCorruption({0x80000 + 70000, pass});
                                             }
                                         },
                                         false}),
                         [](const ::testing::TestParamInfo<SWriterCase>& param) { return param.param.name; });

}  // namespace
