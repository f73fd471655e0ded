#include <string>

#include "sim/sim_writer.h"
#include "usb/usb_codes.h"

namespace {

constexpr std::uint32_t PARAMETER_TYPE = 0;
constexpr std::uint32_t PARAMETER_ADDRESS = 1;
constexpr std::uint32_t PARAMETER_TOTAL = 2;
constexpr std::uint32_t PARAMETER_OFFSET = 3;
constexpr std::uint32_t PARAMETER_MARKER = 4;

std::string Describe(const SUsbHeader& request, const std::string& fault) {
    return "command " + std::to_string(request.command) + " offset " +
           std::to_string(request.parameter[PARAMETER_OFFSET]) + ": " + fault;
}

}  // namespace

std::string CSimWriter::CheckChunk(const SUsbHeader& request,
                                   const std::vector<std::uint8_t>& payload) const {
    const std::uint32_t* p = request.parameter;
    if (p[PARAMETER_MARKER] != DOWNLOAD_MARKER) {
        return "no download marker";
    }
    if (p[PARAMETER_TYPE] != m_identity.machineType) {
        return "machine type " + std::to_string(p[PARAMETER_TYPE]) + " is not this writer's";
    }
    if (request.command == CMD_PROGRAM_APPLICATION && p[PARAMETER_ADDRESS] != 0) {
        return "application chunk with parameter 1 set";
    }
    if (request.length == 0 || request.length > MAX_PAYLOAD_SIZE || payload.size() != request.length) {
        return "chunk length " + std::to_string(request.length) + " with " + std::to_string(payload.size()) +
               " bytes";
    }
    if (p[PARAMETER_TOTAL] == 0 || p[PARAMETER_OFFSET] > p[PARAMETER_TOTAL] ||
        request.length > p[PARAMETER_TOTAL] - p[PARAMETER_OFFSET]) {
        return "chunk outside the announced total " + std::to_string(p[PARAMETER_TOTAL]);
    }
    if (p[PARAMETER_OFFSET] == 0) {
        return {};  // opens a download; an unfinished one before it is abandoned
    }
    if (!m_downloading) {
        return "chunk without a download under way";
    }
    const SDownloadRecord& current = m_summary.downloads.back();
    const std::uint32_t loadAddress =
        request.command == CMD_PROGRAM_BOOT ? p[PARAMETER_ADDRESS] : CSimMemory::APPLICATION_ADDRESS;
    if (request.command != current.command || loadAddress != current.address ||
        p[PARAMETER_TOTAL] != current.total) {
        return "parameters changed within a download";
    }
    if (p[PARAMETER_OFFSET] != current.received) {
        return "offset does not follow the previous chunk (expected " + std::to_string(current.received) +
               ")";
    }
    return {};
}

std::vector<std::uint8_t> CSimWriter::AnswerDownload(const SUsbHeader& request,
                                                     const std::vector<std::uint8_t>& payload) {
    if (m_behaviour.programRefusal != 0) {
        return MakeReply(CMD_ERROR, {m_behaviour.programRefusal, 0, 0, 0, 0});
    }
    if (const std::string fault = CheckChunk(request, payload); !fault.empty()) {
        m_violations.push_back(Describe(request, fault));
        m_downloading = false;
        return MakeReply(CMD_ERROR, {ERROR_BAD_CHUNK, 0, 0, 0, 0});
    }
    const std::uint32_t offset = request.parameter[PARAMETER_OFFSET];
    if (offset == 0) {
        const std::uint32_t loadAddress = request.command == CMD_PROGRAM_BOOT
                                              ? request.parameter[PARAMETER_ADDRESS]
                                              : CSimMemory::APPLICATION_ADDRESS;
        const std::uint32_t total = request.parameter[PARAMETER_TOTAL];
        if (!m_memory.Holds(loadAddress, total)) {
            m_downloading = false;
            return MakeReply(CMD_ERROR, {ERROR_OUT_OF_RANGE, 0, 0, 0, 0});
        }
        SDownloadRecord record;
        record.command = request.command;
        record.address = loadAddress;
        record.total = total;
        // The announcement belongs to the download that follows it.
        record.announcedCrc = m_announcedCrc;
        m_announcedCrc.reset();
        m_summary.downloads.push_back(record);
        m_downloadCrc.Reset();
        m_downloading = true;
    }
    SDownloadRecord& current = m_summary.downloads.back();
    m_memory.Write(current.address + offset, payload.data(), request.length);
    m_downloadCrc.Update(payload.data(), payload.size());
    current.crc = m_downloadCrc.Value();
    current.received += request.length;
    if (current.received == current.total) {
        current.complete = true;
        m_downloading = false;
    }
    return MakeReply(CMD_CHUNK_ACCEPTED, {0, 0, 0, 0, 0});
}
