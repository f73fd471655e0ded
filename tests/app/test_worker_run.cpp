#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <ostream>
#include <stdexcept>
#include <string>
#include <thread>

#include "app/main_dialog.h"
#include "app/worker_run.h"
#include "images/byte_buffer.h"
#include "images/resource_source.h"
#include "sim/sim_transport.h"
#include "sim/sim_writer.h"
#include "tests/app/fixed_dialog_inputs.h"
#include "tests/app/memory_log_file_system.h"
#include "tests/app/recording_surface.h"
#include "update/progress_sink.h"
#include "usb/recording_clock.h"

namespace {

// The dialog's thread of a test: the worker's calls wait in a queue until the test's
// own thread carries them out, one at a time.
class CQueuedDialogThread final : public IDialogThread {
public:
    void Call(const std::function<void()>& call) override {
        SPending pending{call, false};
        std::unique_lock lock(m_mutex);
        m_queue.push_back(&pending);
        m_changed.notify_all();
        m_changed.wait(lock, [&] { return pending.done; });
    }

    // Carries out the next call from the worker; what it raises is raised here. A worker
    // that never calls fails the test instead of hanging it.
    void CarryOutNext() {
        SPending* next = nullptr;
        {
            std::unique_lock lock(m_mutex);
            if (!m_changed.wait_for(lock, std::chrono::seconds(60), [&] { return !m_queue.empty(); })) {
                throw std::runtime_error("the worker made no call");
            }
            next = m_queue.front();
            m_queue.pop_front();
        }
        struct SRelease {
            CQueuedDialogThread& thread;
            SPending& pending;
            ~SRelease() {
                const std::lock_guard lock(thread.m_mutex);
                pending.done = true;
                thread.m_changed.notify_all();
            }
        } release{*this, *next};
        next->call();
    }

private:
    struct SPending {
        const std::function<void()>& call;
        bool done;
    };

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<SPending*> m_queue;
};

// Counts the calls that reach it from any thread but the one that made it.
class CThreadWatch {
public:
    void Check() {
        if (std::this_thread::get_id() != m_owner) {
            ++offThread;
        }
    }
    int offThread = 0;

private:
    std::thread::id m_owner = std::this_thread::get_id();
};

// A recording surface that notes where it was called from; it can be made to raise an
// error that no handler of the run takes.
class CWatchedSurface final : public IDialogSurface {
public:
    explicit CWatchedSurface(CThreadWatch& watch) : m_watch(watch) {}

    void SetCaption(const char* text) override {
        m_watch.Check();
        recorded.SetCaption(text);
    }
    void SetStatusText(const char* text) override {
        m_watch.Check();
        if (!raiseOnStatus.empty() && std::string(text).starts_with(raiseOnStatus)) {
            throw std::runtime_error("the window is gone");
        }
        recorded.SetStatusText(text);
    }
    void ShowMessage(const char* text, const char* caption, std::uint32_t flags) override {
        m_watch.Check();
        recorded.ShowMessage(text, caption, flags);
    }
    bool AskYesNo(const char* text, const char* caption) override {
        m_watch.Check();
        return recorded.AskYesNo(text, caption);
    }
    void EndDialog(int result) override {
        m_watch.Check();
        recorded.EndDialog(result);
    }

    CRecordingSurface recorded;
    std::string raiseOnStatus;

private:
    CThreadWatch& m_watch;
};

class CWatchedProgress final : public IProgressSink {
public:
    explicit CWatchedProgress(CThreadWatch& watch) : m_watch(watch) {}
    void Progress(std::uint64_t done, std::uint64_t total) override {
        m_watch.Check();
        reports.push_back(std::to_string(done) + "/" + std::to_string(total));
    }
    void Failed() override {
        m_watch.Check();
        reports.push_back("failed");
    }
    std::vector<std::string> reports;

private:
    CThreadWatch& m_watch;
};

struct SScenario {
    std::string name;
    std::function<std::unique_ptr<CSimWriter>()> writer;  // null writer: none attached
    std::deque<bool> answers;
    bool logWriteFails = false;
};

void PrintTo(const SScenario& scenario, std::ostream* out) {
    *out << scenario.name;
}

// One dialog with everything a run touches, each watched for the thread it is used on.
struct SDialogUnderTest {
    explicit SDialogUnderTest(const SScenario& scenario)
        : writer(scenario.writer ? scenario.writer() : nullptr), transport(writer.get()) {
        surface.recorded.answers = scenario.answers;
        files.failures.write = scenario.logWriteFails;
        dialog.Initialise();
    }

    SJobEnvironment Environment() {
        SJobEnvironment environment{transport, clock, nullptr, BuiltInResources(), SystemAllocator()};
        environment.progress = &progress;
        return environment;
    }

    CThreadWatch watch;
    CWatchedSurface surface{watch};
    CWatchedProgress progress{watch};
    CMemoryLogFileSystem files;
    CThisBuildVersionRecord version;
    CMainDialog dialog{surface, files, version, "Solenne/Brisa Update", [this] {
                           watch.Check();
                           return FixedLocalTime();
                       }};
    std::unique_ptr<CSimWriter> writer;
    CSimTransport transport;
    CRecordingClock clock;
};

class WorkerRun : public ::testing::TestWithParam<SScenario> {};

// The same run on one thread and through a worker: the window, the log, the progress
// and the wire see the same calls in the same order, all of them on the dialog's
// thread; meanwhile neither a second "&Go!" nor the cancel command does anything, then
// or afterwards.
TEST_P(WorkerRun, SeesTheDialogAsOneThreadDoes_AndRefusesGoAndCancelMeanwhile) {
    SDialogUnderTest alone(GetParam());
    alone.dialog.OnGo(alone.Environment());

    SDialogUnderTest carried(GetParam());
    CQueuedDialogThread dialogThread;
    CSimWriter bystander;
    CSimTransport bystanderWire(&bystander);
    bool ended = false;
    int refusedInterruptions = 0;
    {
        CWorkerRun run(carried.dialog, dialogThread);
        ASSERT_TRUE(run.Start(carried.Environment(), [&] { ended = true; }));
        while (!ended) {
            dialogThread.CarryOutNext();
            if (ended) {
                break;
            }
            ASSERT_TRUE(carried.dialog.RunInProgress());
            EXPECT_FALSE(run.Start(carried.Environment(), [] { ADD_FAILURE() << "a second run ended"; }));
            carried.dialog.OnGo(SJobEnvironment{bystanderWire, carried.clock, nullptr, BuiltInResources(),
                                                SystemAllocator()});
            carried.dialog.Cancel();
            ++refusedInterruptions;
        }
    }
    EXPECT_GT(refusedInterruptions, 3);
    EXPECT_TRUE(bystanderWire.Calls().empty());
    EXPECT_FALSE(carried.dialog.RunInProgress());

    EXPECT_EQ(carried.surface.recorded.calls, alone.surface.recorded.calls);
    EXPECT_EQ(carried.files.files, alone.files.files);
    EXPECT_EQ(carried.progress.reports, alone.progress.reports);
    ASSERT_EQ(carried.transport.Calls().size(), alone.transport.Calls().size());
    for (std::size_t i = 0; i < alone.transport.Calls().size(); ++i) {
        EXPECT_EQ(carried.transport.Calls()[i].kind, alone.transport.Calls()[i].kind) << i;
        EXPECT_EQ(carried.transport.Calls()[i].bytes, alone.transport.Calls()[i].bytes) << i;
    }
    EXPECT_EQ(carried.dialog.Ended(), alone.dialog.Ended());
    EXPECT_EQ(carried.dialog.Finished(), alone.dialog.Finished());
    EXPECT_EQ(carried.watch.offThread, 0);

    // The cancel commands made during the run left no trace: a failed run leaves the
    // dialog open, and only a successful one ends it, as the last thing the window sees.
    const auto& calls = carried.surface.recorded.calls;
    const auto endings = carried.surface.recorded.CallsOf("EndDialog");
    if (carried.dialog.Finished()) {
        ASSERT_EQ(endings.size(), 1u);
        EXPECT_EQ(calls.back().operation, "EndDialog");
    } else {
        EXPECT_TRUE(endings.empty());
        EXPECT_FALSE(carried.dialog.Ended());
    }
}

std::unique_ptr<CSimWriter> OldSolenne() {
    return std::make_unique<CSimWriter>();  // an old application and boot loader
}

INSTANTIATE_TEST_SUITE_P(Scenarios, WorkerRun,
                         ::testing::Values(SScenario{"FullUpdate", OldSolenne, {}, false},
                                           SScenario{"NoWriter", nullptr, {}, false},
                                           SScenario{"RefusedMachineType",
                                                     [] {
                                                         return std::make_unique<CSimWriter>(SWriterIdentity{
                                                             .machineType = 5, .version = 0x0105});
                                                     },
                                                     {},
                                                     false},
                                           SScenario{"DowngradeDeclined",
                                                     [] {
                                                         return std::make_unique<CSimWriter>(
                                                             SWriterIdentity{.machineType = 16,
                                                                             .version = 0x02070000,
                                                                             .build = 14186});
                                                     },
                                                     {false},
                                                     false},
                                           SScenario{"LogFailsAndTheRunIsAbandoned", OldSolenne, {}, true}),
                         [](const ::testing::TestParamInfo<SScenario>& param) { return param.param.name; });

// An error that no handler of the run takes leaves the worker and reaches the dialog's
// thread, as it would have reached the dialog's handler on one thread; the run is over
// then, so the dialog can end and run again.
TEST(WorkerRunError, UnhandledErrorOfAHostCall_IsRaisedOnTheDialogThread_AfterTheRunIsOver) {
    SDialogUnderTest carried(SScenario{"", OldSolenne, {}, false});
    carried.surface.raiseOnStatus = "\n\nSending boot code";
    CQueuedDialogThread dialogThread;
    bool ended = false;
    bool raised = false;
    {
        CWorkerRun run(carried.dialog, dialogThread);
        ASSERT_TRUE(run.Start(carried.Environment(), [&] { ended = true; }));
        while (!ended) {
            try {
                dialogThread.CarryOutNext();
            } catch (const std::runtime_error& error) {
                EXPECT_STREQ(error.what(), "the window is gone");
                EXPECT_TRUE(ended);
                raised = true;
            }
        }
    }
    EXPECT_TRUE(raised);
    EXPECT_FALSE(carried.dialog.RunInProgress());
    EXPECT_FALSE(carried.transport.IsOpen());  // the link closed itself on the way out
    carried.dialog.Cancel();
    EXPECT_TRUE(carried.dialog.Ended());
}

}  // namespace
