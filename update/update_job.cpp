#include "update/update_job.h"

#include "update/version_code.h"

using namespace version_code;

namespace {

// Unwinds a run whose log failed before anything changed the writer.
struct SRunAbandoned {};

}  // namespace

CUpdateJob::CUpdateJob(IUpdateHost& host, const SJobEnvironment& environment)
    : m_host(host), m_environment(environment), m_progress(environment.progress) {}

CUpdateJob::~CUpdateJob() = default;

void CUpdateJob::Run() {
    m_decoder = std::make_unique<CArithmeticCompression>();
    m_link = std::make_unique<CTesselUsb>(m_environment.transport, m_environment.clock, m_environment.notice,
                                          m_environment.allocator);
    m_link->SetTransferObserver(&m_progress);

    try {
        OpenLog();
        if (Connect() && IdentifyWriter() && Accept() && ConfirmDowngrade()) {
            const bool bootStageDue = BootStageDue();
            PlanProgress(bootStageDue);
            if ((!bootStageDue || RunBootStage()) && (Row().appImageId == 0 || RunApplicationStage())) {
                Complete();
            }
        }
    } catch (const SRunAbandoned&) {
        m_progress.Failed();
    }
    ExitPath();
    if (m_logFailure) {
        std::rethrow_exception(m_logFailure);
    }
}

void CUpdateJob::OpenLog() {
    try {
        m_host.OpenLog();
    } catch (...) {
        LogFailed();
    }
}

void CUpdateJob::Log(const char* text) {
    if (m_logFailure) {
        return;
    }
    try {
        m_host.LogLine(text);
    } catch (...) {
        LogFailed();
    }
}

void CUpdateJob::CloseLog() {
    // A failed log stays as it is: the exit line would fail again, and the next run
    // writes on through the handle still open.
    if (m_logFailure) {
        return;
    }
    try {
        m_host.CloseLog();
    } catch (...) {
        m_logFailure = std::current_exception();
    }
}

void CUpdateJob::LogFailed() {
    m_logFailure = std::current_exception();
    if (!m_changingTheWriter) {
        throw SRunAbandoned{};
    }
}

void CUpdateJob::PlanProgress(bool bootStageDue) {
    const auto recordedLength = [this](std::uint32_t id) -> std::uint32_t {
        const std::optional<SImageRecord> record = m_environment.resources.FindRecord(id);
        return record ? record->length : 0;
    };
    const SMachineInfo& row = Row();
    m_progress.Plan(bootStageDue ? recordedLength(row.bootImageId) : 0,
                    row.appImageId != 0 ? recordedLength(row.appImageId) : 0);
}

void CUpdateJob::ReportError(const char* text) {
    m_progress.Failed();
    Log(text);
    m_host.MessageOk(text, "Error", MESSAGE_ICON_STOP);
}

bool CUpdateJob::Connect() {
    m_link->Open();  // the result says why; the job only asks whether it worked
    if (m_link->IsOpen()) {
        return true;
    }
    ReportError(
        m_message.Format("Unable to open a connection with your steno machine.\n"
                         "Please make sure the writer is turned On and the USB cable is firmly connected"));
    return false;
}

bool CUpdateJob::IdentifyWriter() {
    m_identifyResult = m_link->Identify(nullptr, &m_reportedVersion, &m_bootMode, &m_reportedBuild);
    m_machineType = m_link->GetMachineType();
    const std::uint32_t type = m_machineType;

    if (UsesNewLayout(type) && m_bootMode == 0) {
        if (m_link->GetBootVersions(&m_mainBootVersion, &m_mainBootBuild, &m_secondaryBootVersion,
                                    &m_secondaryBootBuild) != RESULT_OK) {
            m_mainBootVersion = m_mainBootBuild = m_secondaryBootVersion = m_secondaryBootBuild = 0;
        }
    } else if (UsesNewLayout(type)) {
        // A writer in boot mode reports its boot loader's version; the identification
        // line shows the row's boot-mode version instead.
        m_mainBootVersion = m_reportedVersion;
        m_mainBootBuild = m_reportedBuild;
        m_reportedBuild = 0;
        m_reportedVersion = Row().bootModeVersion;
    }
    LogIdentification(type);

    if (m_identifyResult != RESULT_OK) {
        ReportError(m_message.Format("Unable to communicate with your steno machine.  Error Code %d",
                                     m_identifyResult));
        return false;
    }
    return true;
}

void CUpdateJob::LogIdentification(std::uint32_t type) {
    const char* name = Row().name;
    const auto line = [&](const char* what, std::uint32_t version, std::uint32_t build) {
        if (Beta(version) != 0) {
            Log(m_message.Format("USB found %s(%d), %s Ver. %X.%02X.%02X Beta %X, Build %d\n", name, type,
                                 what, Major(version), Minor(version), Patch(version), Beta(version), build));
        } else {
            Log(m_message.Format("USB found %s(%d), %s Ver. %X.%02X.%02X, Build %d\n", name, type, what,
                                 Major(version), Minor(version), Patch(version), build));
        }
    };

    if (!UsesNewLayout(type)) {
        Log(m_message.Format(
            m_bootMode != 0 ? "USB found %s(%d), Boot Ver. %X.%02X " : "USB found %s(%d), App. Ver. %X.%02X ",
            name, type, OldMajor(m_reportedVersion), OldMinor(m_reportedVersion)));
    } else if (m_bootMode != 0) {
        line("Boot.", m_reportedVersion, m_reportedBuild);
    } else {
        line("App.", m_reportedVersion, m_reportedBuild);
        if (m_mainBootVersion != 0) {
            line("Main Boot", m_mainBootVersion, m_mainBootBuild);
        }
        if (m_secondaryBootVersion != 0) {
            line("Secondary Boot", m_secondaryBootVersion, m_secondaryBootBuild);
        }
    }
}

bool CUpdateJob::Accept() {
    if (IsServedType(m_machineType, m_host.AllowedTypeMask())) {
        return true;
    }
    ReportError(m_message.Format("Improper Machine Type.  This update is not for %s!", Row().name));
    return false;
}

bool CUpdateJob::ConfirmDowngrade() {
    const SMachineInfo& row = Row();
    // In boot mode this is the boot loader's own version, as the link holds it.
    const std::uint32_t running = m_link->GetVersion();
    bool ask;
    if (UsesNewLayout(m_machineType)) {
        ask = row.appVersion < (running & 0xFFFFFF00u) || row.appBuild < m_reportedBuild;
        if (ask) {
            m_message.Format(
                "You are about to install version %X.%02X.%02X, Build %d\n"
                "on a Machine that is running version %X.%02X.%02X, Build %d.\n"
                "              Are you sure you want to do this?",
                Major(row.appVersion), Minor(row.appVersion), Patch(row.appVersion), row.appBuild,
                Major(running), Minor(running), Patch(running), m_reportedBuild);
        }
    } else {
        ask = row.appVersion < running;
        if (ask) {
            m_message.Format(
                "You are about to install %X.%02X version on a Tessel that is running %X.%02X version.\n"
                "              Are you sure you want to do this?",
                OldMajor(row.appVersion), OldMinor(row.appVersion), OldMajor(running), OldMinor(running));
        }
    }
    if (!ask) {
        return true;
    }
    Log(m_message.Text());
    return m_host.AskYesNo(m_message.Text(), "Warning");
}

void CUpdateJob::ExitPath() {
    if (m_link->IsOpen()) {
        m_link->ShowText(nullptr);  // takes the job's text off the writer's display
        m_environment.clock.Pause(CLOSING_PAUSE_MS);
        m_link->Close();
        m_environment.clock.Pause(CLOSING_PAUSE_MS);
    }
    m_host.RestoreStatus();
    CloseLog();
    m_link.reset();
    m_decoder.reset();
}
