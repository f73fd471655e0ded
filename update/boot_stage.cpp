#include <cstring>

#include "update/update_job.h"
#include "update/version_code.h"

using namespace version_code;

bool CUpdateJob::BootStageDue() const {
    if (!UsesNewLayout(m_machineType)) {
        return false;
    }
    const SMachineInfo& row = Row();
    bool due;
    if (m_mainBootBuild <= EARLY_BOOT_BUILD_LIMIT) {
        due = true;
    } else {
        // A secondary boot loader, when present, is the one that starts the writer.
        const bool secondary = m_secondaryBootVersion != 0;
        const std::uint32_t version = secondary ? m_secondaryBootVersion : m_mainBootVersion;
        const std::uint32_t build = secondary ? m_secondaryBootBuild : m_mainBootBuild;
        due = version < row.bootVersion || build < row.bootBuild;
    }
    return due && row.bootImageId != 0;
}

void CUpdateJob::AnnounceBootCode(bool withStatus) {
    const SMachineInfo& row = Row();
    const std::uint32_t v = row.bootVersion;
    if (Beta(v) != 0) {
        m_message.Format("Sending boot code version %X.%02X.%02X Beta %X, Build %d to %s...", Major(v),
                         Minor(v), Patch(v), Beta(v), row.bootBuild, row.name);
    } else {
        m_message.Format("Sending boot code version %X.%02X.%02X Build %d to %s...", Major(v), Minor(v),
                         Patch(v), row.bootBuild, row.name);
    }
    Log(m_message.Text());
    if (withStatus) {
        m_status = std::string("\n\n") + m_message.Text();
        m_host.SetStatus(m_status.c_str());
    }
}

bool CUpdateJob::RunBootStage() {
    const SMachineInfo& row = Row();
    AnnounceBootCode(true);

    std::uint32_t expectedCrc = 0;
    const SFirmwareImage image = LoadStageImage(row.bootImageId, BOOT_IMAGE_SLACK, expectedCrc);
    if (image.Empty()) {
        return false;
    }
    const std::uint32_t n = image.length;
    // Room for the default two blocks; grown below when the writer reports larger ones.
    std::uint32_t capacity = 2 * CTesselUsb::DEFAULT_BOOT_BLOCK_SIZE;
    ByteBuffer readBack = m_environment.allocator.Allocate(capacity);
    if (!readBack) {
        ReportMemoryFailure();
        return false;
    }

    const bool early = m_mainBootBuild <= EARLY_BOOT_BUILD_LIMIT;
    const std::uint32_t address = early ? 0 : BOOT_AREA_ADDRESS;
    std::int32_t failure = FAILURE_READ_BACK;
    for (std::uint32_t attempt = 1; attempt <= MAX_ATTEMPTS; ++attempt) {
        if (attempt == 1) {
            m_message.Format("Programming Boot Code");
        } else {
            AnnounceBootCode(false);
            m_message.Format("Attempt %d to Program Boot Code", attempt);
        }
        ChangingTheWriter();
        m_link->ShowText(m_message.Text());
        m_progress.BeginAttempt(CRunProgress::EStage::Boot);

        if (early) {
            m_link->Erase(BOOT_AREA_ADDRESS, BOOT_AREA_ADDRESS);
        }
        const std::int32_t programmed = m_link->ProgramBoot(image.data.get(), n, address);
        if (programmed != RESULT_OK) {
            failure = programmed;
            break;
        }

        // The layout follows the geometry the writer reported for this download, so the
        // buffer must hold two of its blocks as well as the image.
        const std::uint64_t twoBlocks = 2ull * m_link->GetBootBlockSize();
        if (twoBlocks < n || twoBlocks > 0xFFFFFFFFull) {
            break;  // a layout this image cannot have come from: the read-back fails
        }
        if (twoBlocks > capacity) {
            capacity = static_cast<std::uint32_t>(twoBlocks);
            readBack = m_environment.allocator.Allocate(capacity);
            if (!readBack) {
                ReportMemoryFailure();
                return false;
            }
        }
        if (!ReadBack(address, static_cast<std::uint32_t>(twoBlocks), readBack.get())) {
            break;
        }
        if (early) {
            const std::uint32_t reserve = m_link->GetBootReserve();
            ByteBuffer reserveCheck = m_environment.allocator.Allocate(reserve);
            if (!reserveCheck) {
                ReportMemoryFailure();
                return false;
            }
            std::memset(reserveCheck.get(), 0xFF, reserve);
            if (!UndoEarlyBootLayout(readBack.get(), capacity, reserveCheck.get())) {
                break;
            }
        }
        if (Crc(readBack.get(), n) == expectedCrc) {
            m_progress.Verified(CRunProgress::EStage::Boot);
            return true;
        }
    }
    m_link->ShowText("Failure in updating machine.");
    ReportProgrammingFailure(failure);
    return false;
}

bool CUpdateJob::UndoEarlyBootLayout(std::uint8_t* readBack, std::uint32_t capacity,
                                     const std::uint8_t* erasedReserve) {
    const std::uint32_t b = m_link->GetBootBlockSize();
    const std::uint32_t r = m_link->GetBootReserve();
    if (r > b || b < 8 || 2ull * b > capacity) {
        return false;
    }
    // The reserve at the end of the first block reads back as erased flash when the
    // writer kept the gap; then the second block closes it up.
    if (std::memcmp(readBack + (b - r), erasedReserve, r) == 0) {
        std::memmove(readBack + (b - r), readBack + b, b);
    }
    std::memmove(readBack, readBack + 8, 2 * b - 8);  // drops the 8-byte header
    return true;
}
