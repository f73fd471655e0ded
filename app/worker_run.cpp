#include "app/worker_run.h"

#include <system_error>
#include <utility>

// Stands in for the dialog, its notice box and the progress sink on the worker thread.
class CWorkerRun::CCarrier final : public IUpdateHost, public IUserNotice, public IProgressSink {
public:
    CCarrier(CMainDialog& dialog, IDialogThread& dialogThread, IProgressSink* progress)
        : m_dialog(dialog), m_dialogThread(dialogThread), m_progress(progress) {}

    void OpenLog() override {
        Carry([&] { m_dialog.OpenLog(); });
    }
    void LogLine(const char* text) override {
        Carry([&] { m_dialog.LogLine(text); });
    }
    void CloseLog() override {
        Carry([&] { m_dialog.CloseLog(); });
    }
    void SetStatus(const char* text) override {
        Carry([&] { m_dialog.SetStatus(text); });
    }
    void RestoreStatus() override {
        Carry([&] { m_dialog.RestoreStatus(); });
    }
    void MessageOk(const char* text, const char* caption, std::uint32_t icon) override {
        Carry([&] { m_dialog.MessageOk(text, caption, icon); });
    }
    bool AskYesNo(const char* text, const char* caption) override {
        bool yes = false;
        Carry([&] { yes = m_dialog.AskYesNo(text, caption); });
        return yes;
    }
    void FinishDialog() override {
        Carry([&] { m_dialog.FinishDialog(); });
    }
    std::uint32_t AllowedTypeMask() override {
        std::uint32_t mask = 0;
        Carry([&] { mask = m_dialog.AllowedTypeMask(); });
        return mask;
    }
    const char* ApplicationTitle() override {
        const char* title = "";
        Carry([&] { title = m_dialog.ApplicationTitle(); });
        return title;  // the dialog's own member, which outlives the run
    }

    void ShowNotice(const char* text) override {
        Carry([&] { m_dialog.ShowNotice(text); });
    }

    void Progress(std::uint64_t done, std::uint64_t total) override {
        Carry([&] { m_progress->Progress(done, total); });
    }
    void Failed() override {
        Carry([&] { m_progress->Failed(); });
    }

private:
    // Runs `call` on the dialog's thread; what it raised there is raised here.
    void Carry(const std::function<void()>& call) {
        std::exception_ptr raised;
        m_dialogThread.Call([&] {
            try {
                call();
            } catch (...) {
                raised = std::current_exception();
            }
        });
        if (raised) {
            std::rethrow_exception(raised);
        }
    }

    CMainDialog& m_dialog;
    IDialogThread& m_dialogThread;
    IProgressSink* m_progress;
};

CWorkerRun::CWorkerRun(CMainDialog& dialog, IDialogThread& dialogThread)
    : m_dialog(dialog), m_dialogThread(dialogThread) {}

CWorkerRun::~CWorkerRun() {
    if (m_worker.joinable()) {
        m_worker.join();
    }
}

bool CWorkerRun::Start(const SJobEnvironment& environment, std::function<void()> ended) {
    if (!m_dialog.BeginRun()) {
        return false;
    }
    // The last run's worker has finished its run; at most it is still returning.
    if (m_worker.joinable()) {
        m_worker.join();
    }
    m_ended = std::move(ended);
    try {
        m_worker = std::thread(&CWorkerRun::Work, this, environment);
    } catch (const std::system_error&) {
        // No thread to be had: the run takes place on this thread, as a frozen window
        // is still better than no update.
        std::exception_ptr escaped;
        try {
            CMainDialog::RunUpdate(m_dialog, m_dialog, environment);
        } catch (...) {
            escaped = std::current_exception();
        }
        Finish(escaped);
    }
    return true;
}

void CWorkerRun::Work(SJobEnvironment environment) {
    std::exception_ptr escaped;
    try {
        CCarrier carrier(m_dialog, m_dialogThread, environment.progress);
        if (environment.progress != nullptr) {
            environment.progress = &carrier;
        }
        CMainDialog::RunUpdate(carrier, carrier, environment);
    } catch (...) {
        // On one thread this would have reached the dialog's handler; it still does.
        escaped = std::current_exception();
    }
    m_dialogThread.Call([&] { Finish(escaped); });
}

void CWorkerRun::Finish(const std::exception_ptr& escaped) {
    if (m_ended) {
        m_ended();
    }
    m_dialog.EndRun();
    if (escaped) {
        std::rethrow_exception(escaped);
    }
}
