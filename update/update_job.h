#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "images/arithmetic_compression.h"
#include "images/byte_buffer.h"
#include "images/resource_source.h"
#include "update/catalogue.h"
#include "update/message_buffer.h"
#include "update/update_host.h"
#include "usb/clock.h"
#include "usb/tessel_usb.h"
#include "usb/transport.h"
#include "usb/user_notice.h"

// What a run needs of the platform; the programs pass the real seams, tests their own.
struct SJobEnvironment {
    ITransport& transport;
    IClock& clock;
    IUserNotice* notice;  // the link's restart-refusal box; may be null
    const IResourceSource& resources;
    IAllocator& allocator;
};

// One update run, started by "Go!": connection, identification, acceptance, the boot and
// application stages and completion. Every outcome leaves through one exit path.
class CUpdateJob {
public:
    static constexpr std::uint32_t CLOSING_PAUSE_MS = 100;

    CUpdateJob(IUpdateHost& host, const SJobEnvironment& environment);
    ~CUpdateJob();

    CUpdateJob(const CUpdateJob&) = delete;
    CUpdateJob& operator=(const CUpdateJob&) = delete;

    void Run();

private:
    bool Connect();
    bool IdentifyWriter();
    void LogIdentification(std::uint32_t type);
    bool Accept();
    bool ConfirmDowngrade();
    void ExitPath();

    // Logs `text` and shows it in an "Error" box with the stop icon.
    void ReportError(const char* text);
    const SMachineInfo& Row() const { return LookupMachine(m_machineType); }

    IUpdateHost& m_host;
    SJobEnvironment m_environment;

    std::unique_ptr<CTesselUsb> m_link;
    std::unique_ptr<CArithmeticCompression> m_decoder;
    CMessageBuffer m_message;
    std::string m_status;

    std::uint32_t m_machineType = 0;
    std::uint32_t m_reportedVersion = 0;
    std::uint32_t m_bootMode = 0;
    std::uint32_t m_reportedBuild = 0;
    std::int32_t m_identifyResult = 0;
    std::uint32_t m_mainBootVersion = 0;
    std::uint32_t m_mainBootBuild = 0;
    std::uint32_t m_secondaryBootVersion = 0;
    std::uint32_t m_secondaryBootBuild = 0;
};
