#include "update/update_job.h"
#include "update/version_code.h"

using namespace version_code;

void CUpdateJob::AnnounceApplicationCode() {
    const SMachineInfo& row = Row();
    const std::uint32_t v = row.appVersion;
    if (UsesNewLayout(m_machineType)) {
        if (Beta(v) != 0) {
            m_message.Format("Sending software version %X.%02X.%02X Beta %X, Build %d to %s...", Major(v),
                             Minor(v), Patch(v), Beta(v), row.appBuild, row.name);
            Log(m_message.Text());
            m_message.Format("\n\nSending Build %d Beta %X to %s...", row.appBuild, Beta(v), row.name);
        } else {
            m_message.Format("Sending software version %X.%02X.%02X to %s...", Major(v), Minor(v), Patch(v),
                             row.name);
            Log(m_message.Text());
            m_message.Format("\n\nSending Build %d to %s...", row.appBuild, row.name);
        }
    } else if (row.appBeta != 0) {
        // The log writes the beta number with a blank before it, the status text without.
        m_message.Format("Sending software version %X.%02X Beta % d to %s...", OldMajor(v), OldMinor(v),
                         row.appBeta, row.name);
        Log(m_message.Text());
        m_message.Format("\n\nSending software version %X.%02X Beta %d to %s...", OldMajor(v), OldMinor(v),
                         row.appBeta, row.name);
    } else {
        m_message.Format("Sending software version %X.%02X to %s...", OldMajor(v), OldMinor(v), row.name);
        Log(m_message.Text());
        m_message.Format("\n\nSending software version %X.%02X to %s...", OldMajor(v), OldMinor(v), row.name);
    }
    m_status = m_message.Text();
    m_host.SetStatus(m_status.c_str());
}

void CUpdateJob::LogApplicationAttempt(std::uint32_t attempt) {
    const SMachineInfo& row = Row();
    const std::uint32_t v = row.appVersion;
    if (UsesNewLayout(m_machineType)) {
        if (Beta(v) != 0) {
            m_message.Format("Attempt %d Sending software version %X.%02X.%02X Beta %X, Build %d to %s...",
                             attempt, Major(v), Minor(v), Patch(v), Beta(v), row.appBuild, row.name);
        } else {
            m_message.Format("Attempt %d Sending software version %X.%02X.%02X to %s...", attempt, Major(v),
                             Minor(v), Patch(v), row.name);
        }
    } else if (row.appBeta != 0) {
        m_message.Format("Attempt %d Sending software version %X.%02X Beta % d to %s...", attempt,
                         OldMajor(v), OldMinor(v), row.appBeta, row.name);
    } else {
        m_message.Format("Attempt %d Sending software version %X.%02X to %s...", attempt, OldMajor(v),
                         OldMinor(v), row.name);
    }
    Log(m_message.Text());
}

bool CUpdateJob::RunApplicationStage() {
    const SMachineInfo& row = Row();
    AnnounceApplicationCode();

    std::uint32_t expectedCrc = 0;
    const SFirmwareImage image = LoadStageImage(row.appImageId, APPLICATION_IMAGE_SLACK, expectedCrc);
    if (image.Empty()) {
        return false;
    }
    const std::uint32_t n = image.length;
    // The loaded image is the recorded one, so n is the stored length and fits.
    ByteBuffer readBack =
        m_environment.allocator.Allocate(std::size_t{image.storedLength} + APPLICATION_IMAGE_SLACK);
    if (!readBack) {
        ReportMemoryFailure();
        return false;
    }

    std::int32_t failure = FAILURE_READ_BACK;
    bool verificationFailed = false;
    for (std::uint32_t attempt = 1; attempt <= MAX_ATTEMPTS; ++attempt) {
        ChangingTheWriter();
        m_link->SetImageCrc(expectedCrc);
        if (attempt == 1) {
            m_message.Format("Programming Application Code");
        } else {
            LogApplicationAttempt(attempt);
            m_message.Format("Attempt %d to Program Application Code", attempt);
        }
        m_link->ShowText(m_message.Text());
        m_progress.BeginAttempt(CRunProgress::EStage::Application);

        const std::int32_t programmed = m_link->ProgramApplication(image.data.get(), n, m_machineType);
        if (programmed != RESULT_OK) {
            failure = programmed;
            break;
        }
        if (!ReadBack(APPLICATION_AREA_ADDRESS, n, readBack.get())) {
            break;
        }
        if (Crc(readBack.get(), n) == expectedCrc) {
            m_progress.Verified(CRunProgress::EStage::Application);
            return true;
        }
        verificationFailed = attempt == MAX_ATTEMPTS;
    }
    m_link->ShowText("Failure in updating machine.");
    if (verificationFailed) {
        // An application that failed three verifications must not start: its first
        // 128 KiB go.
        m_link->Erase(APPLICATION_AREA_ADDRESS, 0x20000);
    }
    ReportProgrammingFailure(failure);
    return false;
}

void CUpdateJob::Complete() {
    const SMachineInfo& row = Row();
    if (UsesNewLayout(m_machineType)) {
        m_link->Restart(0);  // a refusing writer shows its own box; the job carries on
    }
    m_status = m_message.Format("\n\n\n\n\n\n%s Updated.", row.name);
    m_host.SetStatus(m_status.c_str());
    Log(m_message.Format("Successfully updated the %s.", row.name));
    m_host.MessageOk(m_message.Format("Successfully updated the %s.\n           Click OK to Exit.", row.name),
                     m_host.ApplicationTitle(), MESSAGE_ICON_INFORMATION);
    if (m_link->IsOpen()) {
        m_environment.clock.Pause(CLOSING_PAUSE_MS);
        m_link->Close();
        m_environment.clock.Pause(CLOSING_PAUSE_MS);
    }
    m_host.FinishDialog();
}
