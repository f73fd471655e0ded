#include <algorithm>
#include <cstring>

#include "usb/tessel_usb.h"

namespace {

// Erase works in whole units of the writer's flash sectors.
constexpr std::uint32_t ERASE_UNIT = 0x20000;
// Parameter 0 of an error reply to Restart that carries the file-open/real-time bits.
constexpr std::uint32_t RESTART_REFUSED_BUSY = 3;

}  // namespace

std::uint32_t CTesselUsb::GetInfo(std::uint32_t selector, std::uint8_t* destination,
                                  std::uint32_t maximumLength) {
    SetRequest(CMD_INFO_BLOCK, 0, selector);
    if (!Exchange() || ReplyHeader().command != CMD_INFO_BLOCK) {
        return 0;
    }
    const std::uint32_t length = ReplyHeader().length;
    // ReadReply took the reply only with all its declared payload, which is at most one
    // payload; the second bound keeps a caller's larger maximum from mattering.
    const std::uint32_t copied = std::min({length, maximumLength, MAX_PAYLOAD_SIZE});
    std::memcpy(destination, ReplyPayload(), copied);
    return length;
}

bool CTesselUsb::ReadMemory(std::uint32_t address, std::uint32_t length, std::uint8_t* destination,
                            std::uint32_t memorySelector) {
    SetRequest(CMD_READ_MEMORY, 0, address, length, 0, 0, memorySelector);
    if (!Exchange() || ReplyHeader().command != CMD_READ_MEMORY) {
        return false;
    }
    const SUsbHeader reply = ReplyHeader();
    // Copied before the reply is judged: a short or misplaced block still lands.
    const std::uint32_t copied = std::min({reply.length, length, MAX_PAYLOAD_SIZE});
    std::memcpy(destination, ReplyPayload(), copied);
    return reply.parameter[0] == address && reply.length == length;
}

bool CTesselUsb::Erase(std::uint32_t address, std::uint32_t length, std::uint32_t* error) {
    const std::uint32_t rounded = (length + (ERASE_UNIT - 1)) & ~(ERASE_UNIT - 1);
    SetRequest(CMD_ERASE, 0, address, rounded);
    if (!Exchange()) {
        return false;
    }
    const SUsbHeader reply = ReplyHeader();
    if (reply.command == CMD_ERASE) {
        return true;
    }
    // The erase reports its reason in parameter 2, unlike the downloads.
    if (reply.command == CMD_ERROR && error != nullptr) {
        *error = reply.parameter[2];
    }
    return false;
}

std::uint32_t CTesselUsb::ShowText(const char* text) {
    if (text == nullptr) {
        SetRequest(CMD_SHOW_TEXT, 0);
    } else {
        // The text and its zero byte, in whole units of 32 bytes.
        const std::uint32_t characters = static_cast<std::uint32_t>(strnlen(text, MAX_PAYLOAD_SIZE - 1));
        const std::uint32_t length = (characters + 32) & ~std::uint32_t{31};
        std::memcpy(RequestPayload(), text, characters);
        // The zero byte and the padding: no stale bytes of an earlier request go out.
        std::memset(RequestPayload() + characters, 0, length - characters);
        SetRequest(CMD_SHOW_TEXT, length, characters);
    }
    SendRequest();
    return ReadReply();
}

void CTesselUsb::SetImageCrc(std::uint32_t crc) {
    // ProgramBoot prepares its chunk header before it announces the CRC and goes on
    // with that header afterwards, so the whole header, magic and sequence included,
    // is put back as it was. The payload area is not touched.
    std::uint8_t kept[USB_HEADER_SIZE];
    std::memcpy(kept, m_sendBuffer, USB_HEADER_SIZE);
    SetRequest(CMD_SET_IMAGE_CRC, 0, crc);
    Exchange();
    std::memcpy(m_sendBuffer, kept, USB_HEADER_SIZE);
}

bool CTesselUsb::Restart(std::uint32_t parameter) {
    SetRequest(CMD_RESTART, 0, parameter);
    if (!Exchange()) {
        return false;
    }
    const SUsbHeader reply = ReplyHeader();
    if (reply.command == CMD_RESTART) {
        return true;
    }
    if (reply.command == CMD_ERROR && reply.parameter[0] == RESTART_REFUSED_BUSY) {
        // Bit 0: a file is open on the writer; bit 1: real-time is active.
        static const char* const texts[4] = {nullptr, "Cannot Program, File open",
                                             "Cannot Program, Real-Time Active",
                                             "Cannot Program, File open and Real-Time Active"};
        const char* text = texts[reply.parameter[1] & 3u];
        if (text != nullptr && m_notice != nullptr) {
            m_notice->ShowNotice(text);
        }
    }
    return false;
}
