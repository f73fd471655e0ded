#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "tests/update/run_fixture.h"
#include "update/progress_sink.h"
#include "usb/usb_codes.h"

namespace {

// Records each report with what the writer and the host had seen at that moment.
class CRecordingProgress final : public IProgressSink {
public:
    struct SReport {
        std::uint64_t done;
        std::uint64_t total;
        std::size_t requests;  // requests the writer had received
    };

    explicit CRecordingProgress(const SRunSetup& run) : m_run(run) {}

    void Progress(std::uint64_t done, std::uint64_t total) override {
        reports.push_back({done, total, m_run.writer.Transcript().size()});
    }
    void Failed() override { failedAtHostCall.push_back(m_run.host.calls.size()); }

    std::vector<SReport> reports;
    std::vector<std::size_t> failedAtHostCall;  // host calls made before each Failed

private:
    const SRunSetup& m_run;
};

std::array<std::uint8_t, USB_HEADER_SIZE> HeaderBytes(const SUsbHeader& header) {
    std::array<std::uint8_t, USB_HEADER_SIZE> bytes{};
    WriteUsbHeader(bytes.data(), header);
    return bytes;
}

struct SProgressCase {
    std::string name;
    std::function<void(SRunSetup&)> arrange;
    bool succeeds;
};

void PrintTo(const SProgressCase& run, std::ostream* out) {
    *out << run.name;
}

// Where in the transcript the run read back for the last time, and where it restarted
// the writer (the transcript's size when there was no restart).
std::size_t AfterLastReadBack(const std::vector<SReceivedRequest>& transcript) {
    std::size_t after = 0;
    for (std::size_t i = 0; i < transcript.size(); ++i) {
        if (transcript[i].header.command == CMD_READ_MEMORY) {
            after = i + 1;
        }
    }
    return after;
}

std::size_t RestartAt(const std::vector<SReceivedRequest>& transcript) {
    for (std::size_t i = 0; i < transcript.size(); ++i) {
        if (transcript[i].header.command == CMD_RESTART) {
            return i;
        }
    }
    return transcript.size();
}

class RunProgress : public ::testing::TestWithParam<SProgressCase> {};

TEST_P(RunProgress, NeverGoesBack_ReachesTheEndOnlyOnceTheApplicationIsVerified_ChangesNothingSent) {
    SRunSetup watched;
    CRecordingProgress sink(watched);
    watched.progress = &sink;
    GetParam().arrange(watched);
    watched.Run();

    SRunSetup unwatched;
    GetParam().arrange(unwatched);
    unwatched.Run();

    const bool succeeded = watched.host.CallsOf("FinishDialog").size() == 1;
    ASSERT_EQ(GetParam().succeeds, succeeded);

    // The writer sees the same bytes whether or not anybody watches the run.
    const auto& seen = watched.writer.Transcript();
    const auto& unseen = unwatched.writer.Transcript();
    ASSERT_EQ(seen.size(), unseen.size());
    for (std::size_t i = 0; i < seen.size(); ++i) {
        EXPECT_EQ(HeaderBytes(seen[i].header), HeaderBytes(unseen[i].header)) << "request " << i;
        EXPECT_EQ(seen[i].payload, unseen[i].payload) << "request " << i;
    }
    EXPECT_EQ(watched.host.calls, unwatched.host.calls);

    const auto& reports = sink.reports;
    for (std::size_t i = 0; i < reports.size(); ++i) {
        EXPECT_GT(reports[i].total, 0u);
        EXPECT_LE(reports[i].done, reports[i].total);
        EXPECT_EQ(reports[i].total, reports.front().total);
        if (i > 0) {
            EXPECT_GT(reports[i].done, reports[i - 1].done) << "report " << i;
        }
    }
    std::size_t complete = 0;
    for (const auto& report : reports) {
        if (report.done == report.total) {
            ++complete;
            // After the last read-back matched, before the writer is restarted.
            EXPECT_GE(report.requests, AfterLastReadBack(seen));
            EXPECT_LE(report.requests, RestartAt(seen));
        }
    }
    EXPECT_EQ(complete, succeeded ? 1u : 0u);

    if (succeeded) {
        EXPECT_TRUE(sink.failedAtHostCall.empty());
        // The bar moves while the stages send and read back, not only at their ends.
        EXPECT_GT(reports.size(), watched.writer.RequestsOf(CMD_READ_MEMORY).size());
    } else {
        // Told once, just before the failure's box (and its log line).
        ASSERT_EQ(sink.failedAtHostCall.size(), 1u);
        const std::size_t at = sink.failedAtHostCall[0];
        ASSERT_LT(at + 1, watched.host.calls.size());
        const bool logThenBox = watched.host.calls[at].operation == "LogLine" &&
                                watched.host.calls[at + 1].operation == "MessageOk";
        const bool boxAlone = watched.host.calls[at].operation == "MessageOk";
        EXPECT_TRUE(logThenBox || boxAlone);
    }
}

const SWriterIdentity CURRENT_BOOT_SOLENNE{16, 0x02050000, 0, 14000, 0x01080000, 8462, 0, 0};

INSTANTIATE_TEST_SUITE_P(
    Runs, RunProgress,
    ::testing::Values(
        SProgressCase{"BothStages", [](SRunSetup&) {}, true},
        SProgressCase{"EarlyBootLoader",
                      [](SRunSetup& r) { r.writer.Identity() = RunFixture::OldSolenne(3183); }, true},
        SProgressCase{"ApplicationOnly", [](SRunSetup& r) { r.writer.Identity() = CURRENT_BOOT_SOLENNE; },
                      true},
        SProgressCase{"BootRetried",
                      [](SRunSetup& r) {
                          r.writer.AddReadCorruption({0x40000 + 77, 1});
                      },
                      true},
        SProgressCase{"ApplicationRetriedTwice",
                      [](SRunSetup& r) {
                          r.writer.AddReadCorruption({0x80000 + 5, 1});
                          r.writer.AddReadCorruption({0x80000 + 150000, 2});
                      },
                      true},
        SProgressCase{"ApplicationThreeMismatches",
                      [](SRunSetup& r) {
                          for (std::uint32_t pass = 1; pass <= 3; ++pass) {
                              r.writer.AddReadCorruption({0x80000 + 70000, pass});
                          }
                      },
                      false},
        SProgressCase{"BootChunkRefused",
                      [](SRunSetup& r) {
                          r.writer.AddFault({CMD_PROGRAM_BOOT, 2, EFaultKind::ErrorReply, 0x44});
                      },
                      false},
        SProgressCase{"ApplicationReadBackFails",
                      [](SRunSetup& r) {
                          r.writer.AddFault({CMD_READ_MEMORY, 6, EFaultKind::NoReply, 0});
                      },
                      false},
        SProgressCase{"NoMemoryForTheBootReadBack", [](SRunSetup& r) { r.allocator.failAt = 2; }, false},
        SProgressCase{
            "RefusedMachineType",
            [](SRunSetup& r) { r.writer.Identity() = SWriterIdentity{5, 0x0105, 0, 0, 0, 0, 0, 0}; }, false}),
    [](const ::testing::TestParamInfo<SProgressCase>& param) { return param.param.name; });

}  // namespace
