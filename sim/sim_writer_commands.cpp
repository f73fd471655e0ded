#include <algorithm>

#include "sim/sim_writer.h"
#include "usb/usb_codes.h"

namespace {

constexpr std::uint32_t INFO_OFFSET_BLOCK_SIZE = 36;
constexpr std::uint32_t INFO_OFFSET_RESERVE = 40;

std::vector<std::uint8_t> Refusal(std::uint32_t code) {
    return MakeReply(CMD_ERROR, {code, 0, 0, 0, 0});
}

}  // namespace

std::optional<std::vector<std::uint8_t>> CSimWriter::Answer(const SUsbHeader& request,
                                                            const std::vector<std::uint8_t>& payload) {
    switch (request.command) {
        case CMD_IDENTIFY:
            return MakeReply(CMD_IDENTIFY, {m_identity.machineType, m_identity.version, m_identity.bootMode,
                                            m_identity.build, 0});
        case CMD_BOOT_VERSIONS:
            return MakeReply(CMD_BOOT_VERSIONS,
                             {m_identity.mainBootVersion, m_identity.mainBootBuild,
                              m_identity.secondaryBootVersion, m_identity.secondaryBootBuild, 0});
        case CMD_SHOW_TEXT:
            return AnswerShowText(request, payload);
        case CMD_INFO_BLOCK:
            return AnswerInfoBlock(request);
        case CMD_READ_MEMORY:
            return AnswerReadMemory(request);
        case CMD_ERASE:
            return AnswerErase(request);
        case CMD_SET_IMAGE_CRC:
            // Kept for the next download, which is checked against it.
            m_announcedCrc = request.parameter[0];
            return MakeReply(CMD_SET_IMAGE_CRC, {0, 0, 0, 0, 0});
        case CMD_RESTART:
            return AnswerRestart();
        case CMD_PROGRAM_APPLICATION:
        case CMD_PROGRAM_BOOT:
            return AnswerDownload(request, payload);
        default:
            // A command this writer does not know is refused.
            return Refusal(ERROR_UNKNOWN_COMMAND);
    }
}

std::vector<std::uint8_t> CSimWriter::AnswerShowText(const SUsbHeader& request,
                                                     const std::vector<std::uint8_t>& payload) {
    if (request.length == 0) {
        m_currentDisplay.clear();
        ++m_displayClears;
    } else {
        const std::size_t characters = std::min<std::size_t>(request.parameter[0], payload.size());
        const auto end = std::find(payload.begin(), payload.begin() + static_cast<std::ptrdiff_t>(characters),
                                   std::uint8_t{0});
        m_currentDisplay.assign(payload.begin(), end);
        m_displayLines.push_back(m_currentDisplay);
    }
    return MakeReply(CMD_SHOW_TEXT, {0, 0, 0, 0, 0});
}

std::vector<std::uint8_t> CSimWriter::AnswerInfoBlock(const SUsbHeader& request) const {
    if (request.parameter[0] != INFO_BOOT_GEOMETRY) {
        return Refusal(ERROR_BAD_REQUEST);
    }
    const std::uint32_t length = std::min(m_behaviour.infoLength, MAX_PAYLOAD_SIZE);
    std::vector<std::uint8_t> block(length, 0);
    if (length >= INFO_OFFSET_BLOCK_SIZE + 4) {
        WriteLittleEndian32(block.data() + INFO_OFFSET_BLOCK_SIZE, m_behaviour.reportedBootBlockSize);
    }
    if (length >= INFO_OFFSET_RESERVE + 4) {
        WriteLittleEndian32(block.data() + INFO_OFFSET_RESERVE, m_behaviour.reportedBootReserve);
    }
    return MakeReply(CMD_INFO_BLOCK, {0, 0, 0, 0, 0}, block);
}

std::vector<std::uint8_t> CSimWriter::AnswerReadMemory(const SUsbHeader& request) {
    const std::uint32_t address = request.parameter[0];
    const std::uint32_t length = request.parameter[1];
    if (request.parameter[4] != MEMORY_SELECTOR_READ_BACK || length > MAX_PAYLOAD_SIZE) {
        return Refusal(ERROR_BAD_REQUEST);
    }
    if (!m_memory.Holds(address, length)) {
        return Refusal(ERROR_OUT_OF_RANGE);
    }
    std::vector<std::uint8_t> block = m_memory.Read(address, length);
    for (SActiveCorruption& active : m_corruptions) {
        const std::uint32_t target = active.corruption.address;
        if (target >= address && target - address < length && ++active.passes == active.corruption.pass) {
            block[target - address] ^= 0xFFu;
        }
    }
    return MakeReply(CMD_READ_MEMORY, {address, length, 0, 0, 0}, block);
}

std::vector<std::uint8_t> CSimWriter::AnswerErase(const SUsbHeader& request) {
    const std::uint32_t address = request.parameter[0];
    const std::uint32_t length = request.parameter[1];
    if (!m_memory.Erase(address, length)) {
        // The link reads an erase's reason from parameter 2.
        return MakeReply(CMD_ERROR, {ERROR_OUT_OF_RANGE, 0, ERROR_OUT_OF_RANGE, 0, 0});
    }
    m_summary.erases.push_back({address, length});
    return MakeReply(CMD_ERASE, {address, length, 0, 0, 0});
}

std::vector<std::uint8_t> CSimWriter::AnswerRestart() {
    if (m_behaviour.refuseRestart) {
        ++m_summary.restartRefusals;
        return MakeReply(CMD_ERROR, {RESTART_REFUSED_BUSY, m_behaviour.restartStatusBits, 0, 0, 0});
    }
    m_summary.restarted = true;
    return MakeReply(CMD_RESTART, {0, 0, 0, 0, 0});
}
