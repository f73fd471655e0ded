#include <algorithm>

#include "update/update_job.h"

SFirmwareImage CUpdateJob::LoadStageImage(std::uint32_t id, std::uint32_t slack, std::uint32_t& crc) {
    SFirmwareImage image =
        LoadFirmwareImage(*m_decoder, id, slack, m_environment.resources, m_environment.allocator);
    if (image.Empty()) {
        ReportMemoryFailure();
        return image;
    }
    crc = Crc(image.data.get(), image.length);
    // The expected CRC comes from the unpacked image itself, so a damaged image would
    // read back identical and pass as verified: it is refused before anything is sent.
    if (!IsRecordedImage(image, crc, id, m_environment.resources)) {
        ReportProgrammingFailure(FAILURE_DAMAGED_IMAGE);
        return {};
    }
    return image;
}

std::uint32_t CUpdateJob::Crc(const std::uint8_t* data, std::uint32_t length) {
    m_crc.Reset();
    m_crc.Update(data, length);
    return m_crc.Value();
}

bool CUpdateJob::ReadBack(std::uint32_t address, std::uint32_t length, std::uint8_t* destination) {
    const std::uint32_t piece = m_link->GetTransferBlockSize();
    if (piece == 0) {
        return false;
    }
    for (std::uint32_t offset = 0; offset < length;) {
        const std::uint32_t size = std::min(piece, length - offset);
        if (!m_link->ReadMemory(address + offset, size, destination + offset, MEMORY_SELECTOR_READ_BACK)) {
            return false;
        }
        offset += size;
        m_progress.ReadBack(offset, length);
    }
    return true;
}

void CUpdateJob::ReportMemoryFailure() {
    m_progress.Failed();
    m_host.MessageOk(m_message.Format("System too low on memory!"), "Error", MESSAGE_ICON_STOP);
}

void CUpdateJob::ReportProgrammingFailure(std::int32_t code) {
    if (code == RESULT_FILE_OPEN) {
        m_message.Format("Unable to program your writer.\nPlease close any open files on your %s",
                         Row().name);
    } else {
        m_message.Format("Unable to program your writer.  Error Code %d", code);
    }
    ReportError(m_message.Text());
}
