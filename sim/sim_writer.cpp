#include "sim/sim_writer.h"

#include <algorithm>

#include "usb/usb_codes.h"

std::vector<std::uint8_t> MakeReply(std::uint16_t command,
                                    const std::uint32_t (&parameters)[USB_PARAMETER_COUNT],
                                    const std::vector<std::uint8_t>& payload) {
    SUsbHeader header;
    header.magic = PACKET_MAGIC;
    header.command = command;
    header.length = static_cast<std::uint32_t>(payload.size());
    std::copy(std::begin(parameters), std::end(parameters), header.parameter);
    std::vector<std::uint8_t> packet(USB_HEADER_SIZE + payload.size());
    WriteUsbHeader(packet.data(), header);
    std::copy(payload.begin(), payload.end(), packet.begin() + USB_HEADER_SIZE);
    return packet;
}

CSimWriter::CSimWriter(const SWriterIdentity& identity) : m_identity(identity) {}

const SFault* CSimWriter::FindFault(std::uint16_t command, std::uint32_t occurrence) const {
    for (const SFault& fault : m_faults) {
        if (fault.command == command && fault.occurrence == occurrence) {
            return &fault;
        }
    }
    return nullptr;
}

std::vector<SReceivedRequest> CSimWriter::RequestsOf(std::uint16_t command) const {
    std::vector<SReceivedRequest> matching;
    for (const SReceivedRequest& request : m_transcript) {
        if (request.header.command == command) {
            matching.push_back(request);
        }
    }
    return matching;
}

std::uint32_t CSimWriter::Write(const std::uint8_t* data, std::uint32_t size) {
    if (m_gone) {
        return 0;
    }
    if (size < USB_HEADER_SIZE) {
        return size;  // not a request; a writer ignores it
    }
    const SUsbHeader header = ReadUsbHeader(data);
    if (!m_retrying) {
        const std::uint32_t occurrence = ++m_commandCounts[header.command];
        const SFault* fault = FindFault(header.command, occurrence);
        m_activeFault.reset();
        if (fault != nullptr) {
            m_activeFault = *fault;
        }
        if (m_activeFault && m_activeFault->kind == EFaultKind::Gone) {
            m_gone = true;
            return 0;
        }
        m_failingWritesLeft =
            (m_activeFault && m_activeFault->kind == EFaultKind::WriteFails) ? m_activeFault->amount : 0;
        m_retrying = true;
    }
    if (m_failingWritesLeft > 0) {
        --m_failingWritesLeft;
        return 0;
    }
    m_retrying = false;

    const std::uint32_t payloadSize = std::min(header.length, size - USB_HEADER_SIZE);
    SReceivedRequest received{
        header, std::vector<std::uint8_t>(data + USB_HEADER_SIZE, data + USB_HEADER_SIZE + payloadSize)};
    std::optional<std::vector<std::uint8_t>> reply = Answer(header, received.payload);
    m_transcript.push_back(std::move(received));

    if (m_activeFault) {
        switch (m_activeFault->kind) {
            case EFaultKind::NoReply:
                reply.reset();
                break;
            case EFaultKind::ShortReply:
                if (reply) {
                    reply->resize(std::min<std::size_t>(reply->size(), m_activeFault->amount));
                }
                break;
            case EFaultKind::WrongCommand:
                if (reply) {
                    WriteLittleEndian16(reply->data() + HEADER_OFFSET_COMMAND,
                                        static_cast<std::uint16_t>(m_activeFault->amount));
                }
                break;
            case EFaultKind::ErrorReply:
                reply = MakeReply(CMD_ERROR, {m_activeFault->amount, 0, 0, 0, 0});
                break;
            case EFaultKind::WriteFails:
            case EFaultKind::Gone:
                break;
        }
        m_activeFault.reset();
    }
    if (reply) {
        m_replies.push_back(std::move(*reply));
    }
    return size;
}

std::optional<std::vector<std::uint8_t>> CSimWriter::Read() {
    m_retrying = false;  // the link has given up writing and reads
    m_failingWritesLeft = 0;
    if (m_gone || m_replies.empty()) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> reply = std::move(m_replies.front());
    m_replies.pop_front();
    return reply;
}

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
            if (request.length == 0) {
                m_currentDisplay.clear();
                ++m_displayClears;
            } else {
                const std::size_t characters = std::min<std::size_t>(request.parameter[0], payload.size());
                const auto end =
                    std::find(payload.begin(), payload.begin() + static_cast<std::ptrdiff_t>(characters),
                              std::uint8_t{0});
                m_currentDisplay.assign(payload.begin(), end);
                m_displayLines.push_back(m_currentDisplay);
            }
            return MakeReply(CMD_SHOW_TEXT, {0, 0, 0, 0, 0});
        default:
            // A command this writer does not know is refused.
            return MakeReply(CMD_ERROR, {1, 0, 0, 0, 0});
    }
}
