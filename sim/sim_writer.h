#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "usb/usb_header.h"

// The simulated writer: one protocol core behind every wire (the in-process transport
// of the tests, the writer-sim server on a writer port, the named-pipe peer under
// Wine). It answers each request packet with at most one reply packet, as a writer
// would, keeps a transcript of what it received, and misbehaves on request.

struct SWriterIdentity {
    std::uint32_t machineType = 16;
    std::uint32_t version = 0x02050000;  // application version, or boot-loader version in boot mode
    std::uint32_t bootMode = 0;
    std::uint32_t build = 14000;
    std::uint32_t mainBootVersion = 0x01070000;
    std::uint32_t mainBootBuild = 8000;
    std::uint32_t secondaryBootVersion = 0;
    std::uint32_t secondaryBootBuild = 0;
};

enum class EFaultKind {
    NoReply,       // the request is taken, nothing comes back
    ShortReply,    // the reply is cut to `amount` bytes (1 to 31: no whole header)
    WrongCommand,  // the reply carries command code `amount` instead of the right one
    ErrorReply,    // the request is refused: code 6 with parameter 0 = `amount`
    WriteFails,    // the first `amount` write attempts of the request fail (0 bytes)
    Gone,          // from this request on the writer is unplugged: writes fail, nothing answers
};

// Misbehaviour at the `occurrence`-th request (1-based) of `command`.
struct SFault {
    std::uint16_t command = 0;
    std::uint32_t occurrence = 1;
    EFaultKind kind = EFaultKind::NoReply;
    std::uint32_t amount = 0;
};

// One request as the writer received it.
struct SReceivedRequest {
    SUsbHeader header;
    std::vector<std::uint8_t> payload;
};

class CSimWriter {
public:
    explicit CSimWriter(const SWriterIdentity& identity = {});

    void AddFault(const SFault& fault) { m_faults.push_back(fault); }
    SWriterIdentity& Identity() { return m_identity; }

    // The wire side. A write hands the writer one request packet; it returns the bytes
    // taken (0 when the write fails). A read takes the reply to the last request, if
    // any; nothing (empty) when there is none.
    std::uint32_t Write(const std::uint8_t* data, std::uint32_t size);
    std::optional<std::vector<std::uint8_t>> Read();

    bool IsGone() const { return m_gone; }
    // Every text shown on the display, in order, and the text showing now. An empty
    // ShowText (no text) clears the display and is counted.
    const std::vector<std::string>& DisplayLines() const { return m_displayLines; }
    const std::string& CurrentDisplay() const { return m_currentDisplay; }
    std::uint32_t DisplayClears() const { return m_displayClears; }
    const std::vector<SReceivedRequest>& Transcript() const { return m_transcript; }
    // Requests received with the given command code.
    std::vector<SReceivedRequest> RequestsOf(std::uint16_t command) const;

private:
    const SFault* FindFault(std::uint16_t command, std::uint32_t occurrence) const;
    // The reply of a writer that behaves, or nothing.
    std::optional<std::vector<std::uint8_t>> Answer(const SUsbHeader& request,
                                                    const std::vector<std::uint8_t>& payload);

    SWriterIdentity m_identity;
    std::vector<SFault> m_faults;
    std::vector<SReceivedRequest> m_transcript;
    std::vector<std::uint32_t> m_commandCounts = std::vector<std::uint32_t>(65536, 0);
    std::deque<std::vector<std::uint8_t>> m_replies;

    std::vector<std::string> m_displayLines;
    std::string m_currentDisplay;
    std::uint32_t m_displayClears = 0;

    // A request whose write attempts are failing: its first attempt counted it, the
    // retries of the same packet must not count it again.
    bool m_retrying = false;
    std::uint32_t m_failingWritesLeft = 0;
    bool m_gone = false;
    std::optional<SFault> m_activeFault;
};

// A reply packet: header with the given command, parameters and payload.
std::vector<std::uint8_t> MakeReply(std::uint16_t command,
                                    const std::uint32_t (&parameters)[USB_PARAMETER_COUNT],
                                    const std::vector<std::uint8_t>& payload = {});
