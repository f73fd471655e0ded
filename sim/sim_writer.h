#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "images/crc32.h"
#include "sim/sim_memory.h"
#include "usb/usb_header.h"

// The simulated writer: one protocol core behind every wire (the in-process transport
// of the tests, the writer-sim server on a writer port, the named-pipe peer under
// Wine). It answers each request packet with at most one reply packet, as a writer
// would, keeps a transcript of what it received, and misbehaves on request. It has a
// memory: downloads land in it, read-backs come from it, erases clear it.

struct SWriterIdentity {
    std::uint32_t machineType = 16;
    std::uint32_t version = 0x02050000;  // application version, or boot-loader version in boot mode
    std::uint32_t bootMode = 0;
    std::uint32_t build = 14000;
    std::uint32_t mainBootVersion = 0x01070000;
    std::uint32_t mainBootBuild = 8000;
    std::uint32_t secondaryBootVersion = 0;
    std::uint32_t secondaryBootBuild = 0;

    bool operator==(const SWriterIdentity&) const = default;
};

struct SCarriedFirmware;

enum class EFaultKind {
    NoReply,       // the request is taken, nothing comes back
    ShortReply,    // the reply is cut to `amount` bytes (1 to 31: no whole header)
    WrongCommand,  // the reply carries command code `amount` instead of the right one
    ErrorReply,    // the request is refused: code 6 with parameter 0 = `amount`
    WriteFails,    // the first `amount` write attempts of the request fail (0 bytes)
    Gone,          // from this request on the writer is unplugged: writes fail, nothing answers
    Stalls,        // from this request on the writer takes nothing: the write blocks until the
                   // transport's time-out, and a real transport then lets go of the writer
    ShortBlock,    // the reply's payload loses its last `amount` bytes; its length field follows
    OtherAddress,  // the reply's parameter 0 (the address of a read) is increased by `amount`
    FlipByte,      // byte `amount` of the reply's payload is inverted
};

// Misbehaviour at the `occurrence`-th request (1-based) of `command`.
struct SFault {
    std::uint16_t command = 0;
    std::uint32_t occurrence = 1;
    EFaultKind kind = EFaultKind::NoReply;
    std::uint32_t amount = 0;
};

// What the writer does beyond its identity.
struct SWriterBehaviour {
    // Whether the transcript keeps each request's payload (headers are always kept);
    // long runs that only look at the summary can leave them out.
    bool keepPayloads = true;
    std::uint32_t memorySize = CSimMemory::DEFAULT_SIZE;
    CSimMemory::EFill memoryFill = CSimMemory::EFill::OldFirmware;
    // The information block of selector 4: its payload length and the boot geometry
    // words at offsets 36 and 40 (0: the writer leaves the link's default). A length
    // below 44 leaves out what does not fit.
    std::uint32_t infoLength = 44;
    std::uint32_t reportedBootBlockSize = 0x20000;
    std::uint32_t reportedBootReserve = 2048;
    // Nonzero: every download chunk is refused with this code (3: a file is open or
    // real-time is active).
    std::uint32_t programRefusal = 0;
    // Restart refused with code 6, parameter 0 = 3 and these status bits in parameter 1
    // (bit 0: a file is open, bit 1: real-time is active).
    bool refuseRestart = false;
    std::uint32_t restartStatusBits = 0;
};

// Inverts the byte at `address` in what the `pass`-th read covering it returns.
struct SReadCorruption {
    std::uint32_t address = 0;
    std::uint32_t pass = 1;
};

// One download as the writer took it.
struct SDownloadRecord {
    std::uint16_t command = 0;  // CMD_PROGRAM_APPLICATION or CMD_PROGRAM_BOOT
    std::uint32_t address = 0;  // where its first byte went
    std::uint32_t total = 0;    // the length its chunks announced
    std::uint32_t received = 0;
    std::optional<std::uint32_t> announcedCrc;  // the CRC announced before it, if any
    std::uint32_t crc = CCrc32::START;          // raw CRC-32 of the bytes received
    bool complete = false;

    bool MatchesAnnouncement() const { return complete && announcedCrc && *announcedCrc == crc; }
};

struct SEraseRecord {
    std::uint32_t address = 0;
    std::uint32_t length = 0;
};

// What happened to the writer, for a report at the end of a run.
struct SWriterSummary {
    std::vector<SDownloadRecord> downloads;
    std::vector<SEraseRecord> erases;
    bool restarted = false;
    std::uint32_t restartRefusals = 0;
};

// One request as the writer received it.
struct SReceivedRequest {
    SUsbHeader header;
    std::vector<std::uint8_t> payload;
};

class CSimWriter {
public:
    // Error codes of this writer's refusals (code 6, in parameter 0; for an erase also
    // in parameter 2, where the link reads it).
    static constexpr std::uint32_t ERROR_UNKNOWN_COMMAND = 1;
    static constexpr std::uint32_t ERROR_BAD_CHUNK = 0x21;     // a malformed download chunk
    static constexpr std::uint32_t ERROR_OUT_OF_RANGE = 0x22;  // an address outside the memory
    static constexpr std::uint32_t ERROR_BAD_REQUEST = 0x23;   // a read it cannot serve
    static constexpr std::uint32_t RESTART_REFUSED_BUSY = 3;

    explicit CSimWriter(const SWriterIdentity& identity = {}, const SWriterBehaviour& behaviour = {});

    void AddFault(const SFault& fault) { m_faults.push_back(fault); }
    void AddReadCorruption(const SReadCorruption& corruption) { m_corruptions.push_back({corruption, 0}); }
    SWriterIdentity& Identity() { return m_identity; }
    SWriterBehaviour& Behaviour() { return m_behaviour; }
    CSimMemory& Memory() { return m_memory; }
    const CSimMemory& Memory() const { return m_memory; }

    // The wire side. A write hands the writer one request packet; it returns the bytes
    // taken (0 when the write fails). A read takes the reply to the last request, if
    // any; nothing (empty) when there is none.
    std::uint32_t Write(const std::uint8_t* data, std::uint32_t size);
    std::optional<std::vector<std::uint8_t>> Read();

    bool IsGone() const { return m_gone; }
    // Whether the last write blocked (a Stalls fault) rather than failing at once.
    bool LastWriteBlocked() const { return m_lastWriteBlocked; }

    // Switches the writer off and on again, by the rules of sim_power_cycle.h: it comes
    // back with the identity its memory now gives it, or is gone for good when it can no
    // longer start. What lives only while it runs goes: replies not yet read, an
    // announced CRC, a download under way, the display text, and the faults and read
    // corruptions set so far (faults added afterwards count requests from this power-up).
    // The memory, the summary, the transcript and the display history stay. The identity
    // at the first power cycle stands for what the writer was made with. True when the
    // writer starts.
    bool PowerCycle(const SCarriedFirmware& carried);

    // Every text shown on the display, in order, and the text showing now. An empty
    // ShowText (no text) clears the display and is counted.
    const std::vector<std::string>& DisplayLines() const { return m_displayLines; }
    const std::string& CurrentDisplay() const { return m_currentDisplay; }
    std::uint32_t DisplayClears() const { return m_displayClears; }
    const std::vector<SReceivedRequest>& Transcript() const { return m_transcript; }
    // Requests received with the given command code.
    std::vector<SReceivedRequest> RequestsOf(std::uint16_t command) const;

    const SWriterSummary& Summary() const { return m_summary; }
    // The CRC announced and not yet claimed by a download.
    std::optional<std::uint32_t> PendingCrc() const { return m_announcedCrc; }
    // Every malformed download chunk, described; a link that keeps the protocol leaves
    // this empty.
    const std::vector<std::string>& Violations() const { return m_violations; }

private:
    struct SActiveCorruption {
        SReadCorruption corruption;
        std::uint32_t passes;
    };

    const SFault* FindFault(std::uint16_t command, std::uint32_t occurrence) const;
    static void ApplyFault(const SFault& fault, std::optional<std::vector<std::uint8_t>>& reply);
    // The reply of a writer that behaves, or nothing.
    std::optional<std::vector<std::uint8_t>> Answer(const SUsbHeader& request,
                                                    const std::vector<std::uint8_t>& payload);
    std::vector<std::uint8_t> AnswerShowText(const SUsbHeader& request,
                                             const std::vector<std::uint8_t>& payload);
    std::vector<std::uint8_t> AnswerInfoBlock(const SUsbHeader& request) const;
    std::vector<std::uint8_t> AnswerReadMemory(const SUsbHeader& request);
    std::vector<std::uint8_t> AnswerErase(const SUsbHeader& request);
    std::vector<std::uint8_t> AnswerRestart();
    std::vector<std::uint8_t> AnswerDownload(const SUsbHeader& request,
                                             const std::vector<std::uint8_t>& payload);
    // Why a download chunk is malformed, or empty when it is sound.
    std::string CheckChunk(const SUsbHeader& request, const std::vector<std::uint8_t>& payload) const;

    SWriterIdentity m_identity;
    std::optional<SWriterIdentity> m_asMade;  // set at the first power cycle
    SWriterBehaviour m_behaviour;
    CSimMemory m_memory;
    std::vector<SFault> m_faults;
    std::vector<SActiveCorruption> m_corruptions;
    std::vector<SReceivedRequest> m_transcript;
    std::vector<std::uint32_t> m_commandCounts = std::vector<std::uint32_t>(65536, 0);
    std::deque<std::vector<std::uint8_t>> m_replies;

    std::vector<std::string> m_displayLines;
    std::string m_currentDisplay;
    std::uint32_t m_displayClears = 0;

    SWriterSummary m_summary;
    std::optional<std::uint32_t> m_announcedCrc;
    // The download whose chunks are arriving: the last of the summary while set.
    bool m_downloading = false;
    CCrc32 m_downloadCrc;
    std::vector<std::string> m_violations;

    // A request whose write attempts are failing: its first attempt counted it, the
    // retries of the same packet must not count it again.
    bool m_retrying = false;
    std::uint32_t m_failingWritesLeft = 0;
    bool m_gone = false;
    bool m_lastWriteBlocked = false;
    std::optional<SFault> m_activeFault;
};

// A reply packet: header with the given command, parameters and payload.
std::vector<std::uint8_t> MakeReply(std::uint16_t command,
                                    const std::uint32_t (&parameters)[USB_PARAMETER_COUNT],
                                    const std::vector<std::uint8_t>& payload = {});
