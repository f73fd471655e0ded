#pragma once

#include <cstdint>
#include <exception>
#include <memory>
#include <string>

#include "images/arithmetic_compression.h"
#include "images/byte_buffer.h"
#include "images/crc32.h"
#include "images/firmware_image.h"
#include "images/resource_source.h"
#include "update/catalogue.h"
#include "update/message_buffer.h"
#include "update/progress_sink.h"
#include "update/run_progress.h"
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
    IProgressSink* progress = nullptr;  // told how far the run has got; may be null
};

// One update run, started by "Go!": connection, identification, acceptance, the boot and
// application stages and completion. Every outcome leaves through one exit path.
//
// A log that fails (the host's log calls raise) ends the log, never a writer half
// done: before the run's first request that changes the writer, the run is abandoned
// through the exit path; from that request on it goes on to its own end without the
// log. Either way Run then raises the log's failure, once, after the run's outcome.
class CUpdateJob {
public:
    static constexpr std::uint32_t CLOSING_PAUSE_MS = 100;
    static constexpr std::uint32_t MAX_ATTEMPTS = 3;
    static constexpr std::uint32_t EARLY_BOOT_BUILD_LIMIT = 3183;
    static constexpr std::uint32_t BOOT_AREA_ADDRESS = 0x40000;
    static constexpr std::uint32_t APPLICATION_AREA_ADDRESS = 0x80000;
    static constexpr std::uint32_t BOOT_IMAGE_SLACK = 256;
    static constexpr std::uint32_t APPLICATION_IMAGE_SLACK = 1024;
    // A read-back that failed or did not match.
    static constexpr std::int32_t FAILURE_READ_BACK = 6;
    // The unpacked image is not the one the build recorded; nothing was sent for it.
    static constexpr std::int32_t FAILURE_DAMAGED_IMAGE = 12;

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

    bool BootStageDue() const;
    // Tells the progress of the stages ahead, by their images' recorded lengths.
    void PlanProgress(bool bootStageDue);
    bool RunBootStage();
    void AnnounceBootCode(bool withStatus);
    // Undoes the early boot loader's layout in the read-back buffer; false when the
    // geometry cannot be undone inside it. `erasedReserve` holds reserve bytes of 0xFF.
    bool UndoEarlyBootLayout(std::uint8_t* readBack, std::uint32_t capacity,
                             const std::uint8_t* erasedReserve);

    bool RunApplicationStage();
    void AnnounceApplicationCode();
    void LogApplicationAttempt(std::uint32_t attempt);

    void Complete();
    void ExitPath();

    // The host's log calls, until the log fails. A failure before the writer is being
    // changed abandons the run (unwinding to Run); later ones are only remembered.
    void OpenLog();
    void Log(const char* text);
    void CloseLog();
    void LogFailed();
    // Called just before the run's first request that changes the writer.
    void ChangingTheWriter() { m_changingTheWriter = true; }

    // Loads image `id` and checks it against the build's record. Empty result when the
    // stage must end; the reason has been reported then.
    SFirmwareImage LoadStageImage(std::uint32_t id, std::uint32_t slack, std::uint32_t& crc);
    // Reads `length` bytes from `address` into `destination` in pieces of the transfer
    // block size; false as soon as one piece fails.
    bool ReadBack(std::uint32_t address, std::uint32_t length, std::uint8_t* destination);
    std::uint32_t Crc(const std::uint8_t* data, std::uint32_t length);
    void ReportMemoryFailure();
    // The failure texts of a stage that got a failure code, after the writer's display
    // has been told (and, for the application, the area erased where due).
    void ReportProgrammingFailure(std::int32_t code);

    // Logs `text` and shows it in an "Error" box with the stop icon.
    void ReportError(const char* text);
    const SMachineInfo& Row() const { return LookupMachine(m_machineType); }

    IUpdateHost& m_host;
    SJobEnvironment m_environment;

    std::unique_ptr<CTesselUsb> m_link;
    std::unique_ptr<CArithmeticCompression> m_decoder;
    CRunProgress m_progress;
    CCrc32 m_crc;
    CMessageBuffer m_message;
    std::string m_status;

    std::exception_ptr m_logFailure;
    bool m_changingTheWriter = false;

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
