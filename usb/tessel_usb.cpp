#include "usb/tessel_usb.h"

#include <algorithm>
#include <iterator>

CTesselUsb::CTesselUsb(ITransport& transport, IClock& clock, IUserNotice* notice, IAllocator& allocator)
    : m_transport(transport), m_clock(clock), m_notice(notice), m_allocator(allocator) {
    std::fill(std::begin(m_receiveBuffer), std::end(m_receiveBuffer), std::uint8_t{0});
    std::fill(std::begin(m_sendBuffer), std::end(m_sendBuffer), std::uint8_t{0});
}

CTesselUsb::~CTesselUsb() {
    Close();
}

std::uint32_t CTesselUsb::Open() {
    if (m_open) {
        return 0;
    }
    const std::uint32_t error = m_transport.Open();
    m_open = (error == 0);
    return error;
}

std::uint32_t CTesselUsb::Close() {
    if (!m_open) {
        return 0;
    }
    // The writer is given two seconds before the handle goes.
    m_clock.Pause(CLOSE_PAUSE_MS);
    m_open = false;
    return m_transport.Close();
}

void CTesselUsb::SetRequest(std::uint16_t command, std::uint32_t length, std::uint32_t p0, std::uint32_t p1,
                            std::uint32_t p2, std::uint32_t p3, std::uint32_t p4) {
    WriteLittleEndian16(m_sendBuffer + HEADER_OFFSET_COMMAND, command);
    WriteLittleEndian32(m_sendBuffer + HEADER_OFFSET_LENGTH, length);
    const std::uint32_t parameters[USB_PARAMETER_COUNT] = {p0, p1, p2, p3, p4};
    for (std::uint32_t i = 0; i < USB_PARAMETER_COUNT; ++i) {
        WriteLittleEndian32(m_sendBuffer + HEADER_OFFSET_PARAMETER + 4 * i, parameters[i]);
    }
}

std::uint32_t CTesselUsb::SendRequest() {
    WriteLittleEndian16(m_sendBuffer + HEADER_OFFSET_MAGIC, PACKET_MAGIC);
    WriteLittleEndian32(m_sendBuffer + HEADER_OFFSET_SEQUENCE, m_sequence);
    if (!m_open) {
        return 0;
    }
    // Every command sets a length of at most one payload; the bound keeps a faulty
    // caller from writing past the buffer.
    const std::uint32_t payload =
        std::min(ReadLittleEndian32(m_sendBuffer + HEADER_OFFSET_LENGTH), MAX_PAYLOAD_SIZE);
    const std::uint32_t size = USB_HEADER_SIZE + payload;
    constexpr int ATTEMPTS = 3;
    for (int attempt = 1; attempt <= ATTEMPTS; ++attempt) {
        const std::uint32_t written = m_transport.Write(m_sendBuffer, size);
        if (written > 0) {
            return written;  // a short count is not retried
        }
        if (attempt < ATTEMPTS) {
            m_transport.Control(CONTROL_RESET);
        }
    }
    return 0;
}

std::uint32_t CTesselUsb::ReadReply() {
    if (!m_open) {
        return 0;
    }
    const std::uint32_t received =
        std::min(m_transport.Read(m_receiveBuffer, PACKET_BUFFER_SIZE), PACKET_BUFFER_SIZE);
    if (received == 0) {
        return 0;
    }
    ++m_sequence;
    if (received < USB_HEADER_SIZE) {
        return 0;
    }
    // A reply that declares more payload than arrived is a broken packet, not a reply:
    // taking it would treat stale buffer bytes as received. This check also keeps the
    // result from wrapping, since an arrived payload is at most 65536 bytes.
    const std::uint32_t declared = ReadLittleEndian32(m_receiveBuffer + HEADER_OFFSET_LENGTH);
    if (declared > received - USB_HEADER_SIZE) {
        return 0;
    }
    return USB_HEADER_SIZE + declared;
}

bool CTesselUsb::Exchange() {
    SendRequest();  // never consulted: the read decides
    return ReadReply() != 0;
}

std::int32_t CTesselUsb::Identify(std::uint32_t* machineType, std::uint32_t* version, std::uint32_t* bootMode,
                                  std::uint32_t* build) {
    SetRequest(CMD_IDENTIFY, 0);
    if (!Exchange() || ReplyHeader().command != CMD_IDENTIFY) {
        return RESULT_INVALID_REPLY;
    }
    const SUsbHeader reply = ReplyHeader();

    std::uint32_t type = std::min(reply.parameter[0], MAX_MACHINE_TYPE);
    // The early Quint models (type 2 and types 6 to 15) take smaller transfers.
    const bool smallTransfers = type == 2 || (type >= 6 && type <= 15);
    m_transferBlockSize = smallTransfers ? 8192 : 65536;

    const std::uint32_t reportedVersion = reply.parameter[1];
    std::uint32_t reportedBootMode = reply.parameter[2];
    // Type-1 writers with an application 1.xx set the boot-mode flag although they run
    // their application.
    if (type == 1 && reportedBootMode != 0 && reportedVersion >= 0x100 && reportedVersion <= 0x1FF) {
        reportedBootMode = 0;
    }
    // The boot loaders of the G2 hardware answer as type 3 for the A3 (versions 0x50 to
    // 0x53) and the halcyon (0x60 to 0x62) as well; the version tells them apart.
    if (reportedBootMode != 0 && type == 3) {
        if (reportedVersion >= 0x50 && reportedVersion <= 0x53) {
            type = 4;
        } else if (reportedVersion >= 0x60 && reportedVersion <= 0x62) {
            type = 5;
        }
    }
    // Only the new-layout machines report a build number.
    m_build = type >= 16 ? reply.parameter[3] : 0;
    m_machineType = type;
    m_version = reportedVersion;
    m_bootMode = reportedBootMode;

    if (machineType != nullptr) {
        *machineType = m_machineType;
    }
    if (version != nullptr) {
        *version = m_version;
    }
    if (bootMode != nullptr) {
        *bootMode = m_bootMode;
    }
    if (build != nullptr && type >= 16) {
        *build = m_build;
    }
    return RESULT_OK;
}

std::int32_t CTesselUsb::GetBootVersions(std::uint32_t* mainVersion, std::uint32_t* mainBuild,
                                         std::uint32_t* secondaryVersion, std::uint32_t* secondaryBuild) {
    SetRequest(CMD_BOOT_VERSIONS, 0);
    if (!Exchange() || ReplyHeader().command != CMD_BOOT_VERSIONS) {
        return RESULT_INVALID_REPLY;
    }
    const SUsbHeader reply = ReplyHeader();
    std::uint32_t* const targets[4] = {mainVersion, mainBuild, secondaryVersion, secondaryBuild};
    for (std::uint32_t i = 0; i < 4; ++i) {
        if (targets[i] != nullptr) {
            *targets[i] = reply.parameter[i];
        }
    }
    return RESULT_OK;
}
