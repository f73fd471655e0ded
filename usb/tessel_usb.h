#pragma once

#include <cstdint>

#include "usb/clock.h"
#include "usb/transfer_observer.h"
#include "usb/transport.h"
#include "usb/usb_codes.h"
#include "usb/usb_header.h"
#include "usb/user_notice.h"

class IAllocator;

// The link to one writer: request/reply packets over a transport. Every command fills
// the send buffer, writes it once (SendRequest, up to three attempts), reads exactly
// one reply (ReadReply) and judges only the reply's command, length and parameters.
//
// Replies are untrusted. A reply is taken only when the bytes that arrived hold its
// whole header and all the payload its length field declares; anything else counts as
// no reply, so no command ever copies bytes that did not arrive in this reply.
class CTesselUsb {
public:
    // The geometry defaults of the boot layout for machine types 16 and 17.
    static constexpr std::uint32_t DEFAULT_BOOT_BLOCK_SIZE = 0x20000;
    static constexpr std::uint32_t DEFAULT_BOOT_RESERVE = 2048;
    static constexpr std::uint32_t CLOSE_PAUSE_MS = 2000;
    static constexpr std::uint32_t MAX_MACHINE_TYPE = 18;

    // `notice` may be null: then the restart refusal texts are not shown.
    CTesselUsb(ITransport& transport, IClock& clock, IUserNotice* notice, IAllocator& allocator);
    virtual ~CTesselUsb();

    CTesselUsb(const CTesselUsb&) = delete;
    CTesselUsb& operator=(const CTesselUsb&) = delete;

    // Told of each download chunk the writer takes; null (the default) for nobody.
    void SetTransferObserver(ITransferObserver* observer) { m_observer = observer; }

    // Connection.
    std::uint32_t Open();
    std::uint32_t Close();
    bool IsOpen() const { return m_open; }

    // Packet exchange. The caller fills command, length, parameters and payload of the
    // send buffer first.
    std::uint32_t SendRequest();
    std::uint32_t ReadReply();

    // Queries.
    std::int32_t Identify(std::uint32_t* machineType, std::uint32_t* version, std::uint32_t* bootMode,
                          std::uint32_t* build);
    std::int32_t GetBootVersions(std::uint32_t* mainVersion, std::uint32_t* mainBuild,
                                 std::uint32_t* secondaryVersion, std::uint32_t* secondaryBuild);

    // Memory and control commands.
    std::uint32_t GetInfo(std::uint32_t selector, std::uint8_t* destination, std::uint32_t maximumLength);
    bool ReadMemory(std::uint32_t address, std::uint32_t length, std::uint8_t* destination,
                    std::uint32_t memorySelector);
    bool Erase(std::uint32_t address, std::uint32_t length, std::uint32_t* error = nullptr);
    std::uint32_t ShowText(const char* text);
    void SetImageCrc(std::uint32_t crc);
    bool Restart(std::uint32_t parameter);

    // Image downloads.
    std::int32_t ProgramApplication(const std::uint8_t* image, std::uint32_t length,
                                    std::uint32_t machineType);
    std::int32_t ProgramBoot(const std::uint8_t* image, std::uint32_t length, std::uint32_t loadAddress);

    // Accessors.
    std::uint32_t GetMachineType() const { return m_machineType; }
    std::uint32_t GetVersion() const { return m_version; }
    std::uint32_t GetBootMode() const { return m_bootMode; }
    std::uint32_t GetBuild() const { return m_build; }
    std::uint32_t GetTransferBlockSize() const { return m_transferBlockSize; }
    std::uint32_t GetBootBlockSize() const { return m_bootBlockSize; }
    std::uint32_t GetBootReserve() const { return m_bootReserve; }
    std::uint32_t GetSequence() const { return m_sequence; }

    // The packet buffers, for tests and the commands' own files.
    const std::uint8_t* SendBuffer() const { return m_sendBuffer; }
    const std::uint8_t* ReceiveBuffer() const { return m_receiveBuffer; }

private:
    // Sets the request header (magic and sequence are stamped by SendRequest).
    void SetRequest(std::uint16_t command, std::uint32_t length, std::uint32_t p0 = 0, std::uint32_t p1 = 0,
                    std::uint32_t p2 = 0, std::uint32_t p3 = 0, std::uint32_t p4 = 0);
    std::uint8_t* RequestPayload() { return m_sendBuffer + USB_HEADER_SIZE; }
    // Sends the prepared request and reads its reply; true when a valid reply arrived.
    bool Exchange();
    // Header and payload of the last valid reply.
    SUsbHeader ReplyHeader() const { return ReadUsbHeader(m_receiveBuffer); }
    const std::uint8_t* ReplyPayload() const { return m_receiveBuffer + USB_HEADER_SIZE; }
    // Sends one chunk of a download under the header already in the send buffer: only
    // the length, parameter 3 and the payload change. Returns 0 when the writer took
    // it, otherwise the download's result (101, the writer's code, or 111).
    std::int32_t SendChunk(const std::uint8_t* bytes, std::uint32_t size, std::uint32_t offset);
    // Resets the boot geometry to the defaults and takes what the writer reports.
    void LearnBootGeometry();

    ITransport& m_transport;
    IClock& m_clock;
    IUserNotice* m_notice;
    IAllocator& m_allocator;
    ITransferObserver* m_observer = nullptr;

    bool m_open = false;
    std::uint32_t m_sequence = 0;
    std::uint32_t m_machineType = 0;
    std::uint32_t m_version = 0;
    std::uint32_t m_bootMode = 0;
    std::uint32_t m_build = 0;
    std::uint32_t m_transferBlockSize = 0;
    std::uint32_t m_bootBlockSize = 0;
    std::uint32_t m_bootReserve = 0;

    std::uint8_t m_receiveBuffer[PACKET_BUFFER_SIZE];
    std::uint8_t m_sendBuffer[PACKET_BUFFER_SIZE];
};
