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

CSimWriter::CSimWriter(const SWriterIdentity& identity, const SWriterBehaviour& behaviour)
    : m_identity(identity), m_behaviour(behaviour), m_memory(behaviour.memorySize, behaviour.memoryFill) {}

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
    m_lastWriteBlocked = false;
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
        if (m_activeFault &&
            (m_activeFault->kind == EFaultKind::Gone || m_activeFault->kind == EFaultKind::Stalls)) {
            // A stalled writer takes nothing more; the transport that waited for it lets go
            // of it, so from here on it is as good as unplugged.
            m_gone = true;
            m_lastWriteBlocked = m_activeFault->kind == EFaultKind::Stalls;
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
    if (!m_behaviour.keepPayloads) {
        received.payload = {};
    }
    m_transcript.push_back(std::move(received));

    if (m_activeFault) {
        ApplyFault(*m_activeFault, reply);
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

void CSimWriter::ApplyFault(const SFault& fault, std::optional<std::vector<std::uint8_t>>& reply) {
    if (fault.kind == EFaultKind::NoReply) {
        reply.reset();
        return;
    }
    if (fault.kind == EFaultKind::ErrorReply) {
        reply = MakeReply(CMD_ERROR, {fault.amount, 0, 0, 0, 0});
        return;
    }
    if (!reply) {
        return;
    }
    std::vector<std::uint8_t>& packet = *reply;
    const std::size_t payloadSize = packet.size() - USB_HEADER_SIZE;
    switch (fault.kind) {
        case EFaultKind::ShortReply:
            packet.resize(std::min<std::size_t>(packet.size(), fault.amount));
            break;
        case EFaultKind::WrongCommand:
            WriteLittleEndian16(packet.data() + HEADER_OFFSET_COMMAND,
                                static_cast<std::uint16_t>(fault.amount));
            break;
        case EFaultKind::ShortBlock: {
            const std::size_t kept = payloadSize - std::min<std::size_t>(payloadSize, fault.amount);
            packet.resize(USB_HEADER_SIZE + kept);
            WriteLittleEndian32(packet.data() + HEADER_OFFSET_LENGTH, static_cast<std::uint32_t>(kept));
            break;
        }
        case EFaultKind::OtherAddress: {
            std::uint8_t* address = packet.data() + HEADER_OFFSET_PARAMETER;
            WriteLittleEndian32(address, ReadLittleEndian32(address) + fault.amount);
            break;
        }
        case EFaultKind::FlipByte:
            if (fault.amount < payloadSize) {
                packet[USB_HEADER_SIZE + fault.amount] ^= 0xFFu;
            }
            break;
        case EFaultKind::NoReply:
        case EFaultKind::ErrorReply:
        case EFaultKind::WriteFails:
        case EFaultKind::Gone:
        case EFaultKind::Stalls:
            break;
    }
}
