#include "app/main_dialog.h"

#include <cstdio>
#include <utility>

#include "app/build_string.h"
#include "update/catalogue.h"
#include "update/version_code.h"

using namespace version_code;

namespace {

// One summary line of a served model; empty for a row that carries no application.
std::string SummaryLine(const SMachineInfo& row) {
    if (row.appVersion == 0) {
        return {};
    }
    char line[256];
    if (UsesNewLayout(row.type)) {
        if (Beta(row.appVersion) != 0) {
            std::snprintf(line, sizeof(line), "%s - Build: %d Beta %X\n", row.name,
                          static_cast<int>(row.appBuild), Beta(row.appVersion));
        } else {
            std::snprintf(line, sizeof(line), "%s - Build: %d\n", row.name, static_cast<int>(row.appBuild));
        }
    } else if (row.appBeta != 0) {
        std::snprintf(line, sizeof(line), "%s - Version: %X.%02X Beta %d\n", row.name,
                      OldMajor(row.appVersion), OldMinor(row.appVersion), row.appBeta);
    } else {
        std::snprintf(line, sizeof(line), "%s - Version: %X.%02X\n", row.name, OldMajor(row.appVersion),
                      OldMinor(row.appVersion));
    }
    return line;
}

}  // namespace

std::string ComposeInstructionText() {
    std::string text =
        "Connect Steno Machine via the USB cable\n"
        "and click \"Go!\" to update your machine software.\n\n";
    for (const SMachineInfo& row : ServedModels()) {
        if (row.name == nullptr || row.name[0] == '\0') {
            break;  // the terminator row
        }
        text += SummaryLine(row);
    }
    return text;
}

CMainDialog::CMainDialog(IDialogSurface& surface, ILogFileSystem& fileSystem, IVersionRecord& versionRecord,
                         std::string applicationTitle, CUpdateLog::TimeSource now)
    : m_surface(surface),
      m_versionRecord(versionRecord),
      m_titleResource(std::move(applicationTitle)),
      m_log(fileSystem, std::move(now)) {}

void CMainDialog::Initialise() {
    m_allowedTypeMask = SERVED_TYPE_MASK;
    m_buildString = GetBuildString(m_versionRecord);
    m_applicationTitle = m_titleResource;
    m_caption = m_applicationTitle + " - Build:  " + m_buildString;
    m_surface.SetCaption(m_caption.c_str());
    m_instructionText = ComposeInstructionText();
    m_surface.SetStatusText(m_instructionText.c_str());
    // The log is closed: the dialog's log is only opened by a run.
}

std::string CMainDialog::AboutText() {
    return m_applicationTitle + " Build:  " + GetBuildString(m_versionRecord);
}

void CMainDialog::OnGo(const SJobEnvironment& environment) {
    if (!BeginRun()) {
        return;
    }
    // EndRun also after a failure that leaves as an exception, or the dialog could
    // never end again.
    struct SRunEnd {
        CMainDialog& dialog;
        ~SRunEnd() { dialog.EndRun(); }
    } runEnd{*this};
    RunUpdate(*this, *this, environment);
}

void CMainDialog::RunUpdate(IUpdateHost& host, IUserNotice& notice, const SJobEnvironment& environment) {
    SJobEnvironment withNotice = environment;
    withNotice.notice = &notice;
    try {
        CUpdateJob job(host, withNotice);
        job.Run();
    } catch (const CLogFileError&) {
        // The run has left through its exit path (the writer finished, or untouched);
        // the log's failure comes after the run's own outcome.
        host.MessageOk(LOG_FAILURE_TEXT, host.ApplicationTitle(), MESSAGE_ICON_STOP);
    }
}

bool CMainDialog::BeginRun() {
    if (m_runInProgress || m_ended) {
        return false;
    }
    m_runInProgress = true;
    return true;
}

void CMainDialog::EndRun() {
    m_runInProgress = false;
    if (m_endPending) {
        m_endPending = false;
        m_surface.EndDialog(m_result);
    }
}

void CMainDialog::Cancel() {
    if (m_runInProgress) {
        return;  // the run goes on to its end; nothing is remembered for after it
    }
    End(DIALOG_RESULT_CANCEL);
}

void CMainDialog::End(int result) {
    m_ended = true;
    m_result = result;
    if (m_runInProgress) {
        m_endPending = true;  // the window closes once the run is over
        return;
    }
    m_surface.EndDialog(result);
}

void CMainDialog::OpenLog() {
    m_log.OpenLog(m_applicationTitle, GetBuildString(m_versionRecord));
}

void CMainDialog::LogLine(const char* text) {
    m_log.LogLine(text);
}

void CMainDialog::CloseLog() {
    m_log.CloseLog();
}

void CMainDialog::SetStatus(const char* text) {
    m_surface.SetStatusText(text);
}

void CMainDialog::RestoreStatus() {
    m_surface.SetStatusText(m_instructionText.c_str());
}

void CMainDialog::MessageOk(const char* text, const char* caption, std::uint32_t icon) {
    m_surface.ShowMessage(text, caption, icon);
}

bool CMainDialog::AskYesNo(const char* text, const char* caption) {
    return m_surface.AskYesNo(text, caption);
}

void CMainDialog::FinishDialog() {
    m_finished = true;
    End(DIALOG_RESULT_CANCEL);
}

void CMainDialog::ShowNotice(const char* text) {
    m_surface.ShowMessage(text, m_applicationTitle.c_str(), 0);
}
