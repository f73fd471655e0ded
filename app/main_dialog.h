#pragma once

#include <cstdint>
#include <string>

#include "app/dialog_surface.h"
#include "app/log_file.h"
#include "app/update_log.h"
#include "app/version_record.h"
#include "update/update_host.h"
#include "update/update_job.h"
#include "usb/user_notice.h"

// The portable behaviour of the main dialog: initialisation texts, the About text, the
// "&Go!" handler that runs one update, and the host of that run. Each build realises the
// window as an IDialogSurface.
//
// While a run is in progress the dialog does not end: the cancel command does nothing,
// and the end that FinishDialog asks for waits until the run is over, so the run's own
// clean-up still reaches the window. No run starts inside another.
class CMainDialog final : public IUpdateHost, public IUserNotice {
public:
    static constexpr int DIALOG_RESULT_CANCEL = 2;

    // `applicationTitle` is string 57344 ("Solenne/Brisa Update"), empty when missing.
    CMainDialog(IDialogSurface& surface, ILogFileSystem& fileSystem, IVersionRecord& versionRecord,
                std::string applicationTitle, CUpdateLog::TimeSource now = CUpdateLog::LocalTimeNow);

    CMainDialog(const CMainDialog&) = delete;
    CMainDialog& operator=(const CMainDialog&) = delete;

    // Served-type mask, build string, title, caption "<title> - Build:  <build>",
    // instruction text with the served-models summary, status text := instruction text,
    // log closed.
    void Initialise();
    // "<title> Build:  <build>", with the build string read afresh.
    std::string AboutText();
    // The "&Go!" handler on this thread: one update run with this dialog as its host and
    // as the link's notice box; nothing while a run is in progress.
    void OnGo(const SJobEnvironment& environment);
    // The cancel command ("&Quit", Esc, the close box): ends the dialog with result 2;
    // nothing while a run is in progress.
    void Cancel();

    // A run that another thread carries out: BeginRun on the dialog's thread (false, and
    // nothing changes, while a run is in progress), RunUpdate on any thread, EndRun on the
    // dialog's thread once the run is over.
    bool BeginRun();
    void EndRun();
    bool RunInProgress() const { return m_runInProgress; }
    // One update run whose host is `host` (this dialog, or what carries its calls to the
    // dialog's thread): the job, then the stop box of a log failure that abandoned it.
    // Touches the dialog only through `host` and `notice`.
    static void RunUpdate(IUpdateHost& host, IUserNotice& notice, const SJobEnvironment& environment);

    // True once the dialog has ended, by the cancel command or FinishDialog.
    bool Ended() const { return m_ended; }
    // True once a successful update has ended the dialog (FinishDialog).
    bool Finished() const { return m_finished; }
    // The dialog result once ended (2), 0 before.
    int Result() const { return m_result; }

    const std::string& Caption() const { return m_caption; }
    const std::string& InstructionText() const { return m_instructionText; }
    const std::string& BuildString() const { return m_buildString; }
    bool IsLogOpen() const { return m_log.IsOpen(); }

    // IUpdateHost
    void OpenLog() override;
    void LogLine(const char* text) override;
    void CloseLog() override;
    void SetStatus(const char* text) override;
    void RestoreStatus() override;
    void MessageOk(const char* text, const char* caption, std::uint32_t icon) override;
    bool AskYesNo(const char* text, const char* caption) override;
    void FinishDialog() override;
    std::uint32_t AllowedTypeMask() override { return m_allowedTypeMask; }
    const char* ApplicationTitle() override { return m_applicationTitle.c_str(); }

    // IUserNotice: the link's own box (the writer refusing to restart), one OK button,
    // captioned with the application title, no icon.
    void ShowNotice(const char* text) override;

    // Text of the box that reports a log-file failure.
    static constexpr const char* LOG_FAILURE_TEXT = "Unable to write the log file.";

private:
    void End(int result);

    IDialogSurface& m_surface;
    IVersionRecord& m_versionRecord;
    const std::string m_titleResource;
    CUpdateLog m_log;

    std::uint32_t m_allowedTypeMask = 0;
    std::string m_applicationTitle;
    std::string m_buildString;
    std::string m_caption;
    std::string m_instructionText;

    bool m_runInProgress = false;
    bool m_endPending = false;
    bool m_ended = false;
    bool m_finished = false;
    int m_result = 0;
};

// The instruction text: the fixed lines followed by one summary line per served model.
std::string ComposeInstructionText();
