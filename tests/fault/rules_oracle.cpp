#include "tests/fault/rules_oracle.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <optional>

#include "usb/usb_codes.h"

namespace rules_oracle {

namespace {

// The row of the Solenne and the writer's own values.
constexpr const char* NAME = "Solenne";
constexpr std::uint32_t ROW_BOOT_VERSION = 0x01080000;
constexpr std::uint32_t ROW_BOOT_BUILD = 8462;
constexpr std::uint32_t WRITER_MAIN_BOOT_VERSION = 0x01070000;
constexpr std::uint32_t EARLY_LIMIT = 3183;
constexpr std::uint32_t BLOCK = 0x20000;  // default boot block size
constexpr std::uint32_t RESERVE = 2048;   // default boot reserve
constexpr std::uint32_t HEADER = 8;       // the header of a layout for address 0
constexpr std::uint32_t LARGEST_BLOCK = 0x100000;
constexpr std::uint32_t INFO_AREA = 44;     // the part of the information block the link takes
constexpr std::uint32_t TRANSFER = 65536;   // transfer block size of types 16 and 17
constexpr std::uint32_t APP_CHUNK = 65536;  // application chunks, whatever the transfer size
constexpr std::uint32_t BOOT_AREA = 0x40000;
constexpr std::uint32_t APP_AREA = 0x80000;
constexpr std::uint32_t MARKER = 0xC00DC00D;  // in every download chunk, as the writer expects it
constexpr std::uint32_t TYPE = 16;            // the Solenne's machine type
constexpr int READ_BACK_FAILED = 6;
constexpr int INVALID_REPLY = 111;  // also what a download returns when its layout cannot be sound

// One reply as the link receives it.
struct SReply {
    std::uint16_t command = 0;
    std::uint32_t parameter0 = 0;
    std::uint32_t parameter1 = 0;
    std::uint32_t lengthShortBy = 0;
    std::optional<std::uint32_t> flippedPayloadByte;
};

// The writer side: which requests arrive and what comes back.
class CWire {
public:
    explicit CWire(const SFault& fault) : m_fault(fault) {}

    // Sends one request; `delivered` tells whether it reached the writer. A writer that
    // behaves echoes the command (downloads: 5) with parameter 0 = `echoParameter0`.
    std::optional<SReply> Send(std::uint16_t command, bool& delivered, std::uint32_t echoParameter0 = 0) {
        const std::uint32_t occurrence = ++m_counts[command];
        delivered = false;
        if (m_gone) {
            return std::nullopt;
        }
        const bool download = command == CMD_PROGRAM_APPLICATION || command == CMD_PROGRAM_BOOT;
        SReply honest{download ? CMD_CHUNK_ACCEPTED : command, echoParameter0, 0, 0, std::nullopt};
        if (m_fault.command != command || m_fault.occurrence != occurrence) {
            delivered = true;
            return honest;
        }
        switch (m_fault.kind) {
            case EFaultKind::Gone:
            case EFaultKind::Stalls:  // the transport lets go of a writer that blocks
                m_gone = true;        // nothing reaches it from here on
                return std::nullopt;
            case EFaultKind::WriteFails:
                // The link tries three times; after that the read decides, and nothing
                // was sent to answer.
                if (m_fault.amount >= 3) {
                    return std::nullopt;
                }
                delivered = true;
                return honest;
            case EFaultKind::NoReply:
            case EFaultKind::ShortReply:  // 1 to 31 bytes: no whole header, no reply
                delivered = true;
                return std::nullopt;
            case EFaultKind::WrongCommand:
                delivered = true;
                honest.command = static_cast<std::uint16_t>(m_fault.amount);
                return honest;
            case EFaultKind::ErrorReply:
                delivered = true;
                return SReply{CMD_ERROR, m_fault.amount, 0, 0, std::nullopt};
            case EFaultKind::ShortBlock:
                delivered = true;
                honest.lengthShortBy = m_fault.amount;
                return honest;
            case EFaultKind::OtherAddress:
                delivered = true;
                honest.parameter0 += m_fault.amount;
                return honest;
            case EFaultKind::FlipByte:
                delivered = true;
                honest.flippedPayloadByte = m_fault.amount;
                return honest;
        }
        return std::nullopt;
    }

private:
    SFault m_fault;
    std::map<std::uint16_t, std::uint32_t> m_counts;
    bool m_gone = false;
};

std::string ProgrammingFailureText(int code) {
    if (code == 3) {
        return std::string("Unable to program your writer.\nPlease close any open files on your ") + NAME;
    }
    return "Unable to program your writer.  Error Code " + std::to_string(code);
}

// A download chunk's result: 0 taken, otherwise the download's result code.
int ChunkResult(const std::optional<SReply>& reply) {
    if (!reply) {
        return 101;
    }
    if (reply->command == CMD_CHUNK_ACCEPTED) {
        return 0;
    }
    if (reply->command == CMD_ERROR) {
        return static_cast<int>(reply->parameter0);
    }
    return 111;
}

// A read-back piece: taken only with its own command, the asked address and length.
// `flipped` receives the payload byte the writer corrupted.
bool PieceTaken(const std::optional<SReply>& reply, std::uint32_t address,
                std::optional<std::uint32_t>& flipped, std::uint32_t pieceLength) {
    if (!reply || reply->command != CMD_READ_MEMORY || reply->parameter0 != address ||
        reply->lengthShortBy != 0) {
        return false;
    }
    if (reply->flippedPayloadByte && *reply->flippedPayloadByte < pieceLength) {
        flipped = *reply->flippedPayloadByte;
    }
    return true;
}

// The boot geometry the link works with for one download.
struct SGeometry {
    std::uint32_t block = BLOCK;
    std::uint32_t reserve = RESERVE;
};

void PutWord(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i) {
        bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

std::uint32_t Word(const std::vector<std::uint8_t>& bytes, std::size_t at) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        value |= static_cast<std::uint32_t>(bytes[at + i]) << (8 * i);
    }
    return value;
}

// The geometry after the information block's reply: the defaults, replaced by each
// nonzero word of the block that arrived. A reply of another command or without
// payload leaves the defaults; the part of the 44-byte area that did not arrive reads
// as zero.
SGeometry GeometryFrom(const std::optional<SReply>& reply, const SRunSetup& setup) {
    SGeometry geometry;
    if (!reply || reply->command != CMD_INFO_BLOCK) {
        return geometry;
    }
    std::vector<std::uint8_t> block(INFO_AREA, 0);
    PutWord(block, 36, setup.reportedBlockSize);
    PutWord(block, 40, setup.reportedReserve);
    if (reply->flippedPayloadByte && *reply->flippedPayloadByte < INFO_AREA) {
        block[*reply->flippedPayloadByte] ^= 0xFF;
    }
    const std::uint32_t arrived = INFO_AREA - std::min(INFO_AREA, reply->lengthShortBy);
    if (arrived == 0) {
        return geometry;
    }
    std::fill(block.begin() + arrived, block.end(), std::uint8_t{0});
    if (const std::uint32_t size = Word(block, 36); size != 0) {
        geometry.block = size;
    }
    if (const std::uint32_t reserve = Word(block, 40); reserve != 0) {
        geometry.reserve = reserve;
    }
    return geometry;
}

// The size of the layout the link sends for an image of n bytes, or nothing when the
// geometry cannot be a writer's (a power-of-two block of at most 1 MiB whose first
// part holds the header and at least one byte) or the layout cannot hold the image:
// at address 0 the first part and the second block, elsewhere the two blocks.
std::optional<std::uint32_t> LayoutSize(const SGeometry& g, std::uint32_t n, std::uint32_t address) {
    const std::uint64_t b = g.block;
    const std::uint64_t r = g.reserve;
    const bool powerOfTwo = b != 0 && (b & (b - 1)) == 0;
    if (!powerOfTwo || b > LARGEST_BLOCK || b <= HEADER || r + HEADER >= b) {
        return std::nullopt;
    }
    const std::uint64_t firstPart = b - r - HEADER;
    const std::uint64_t room = address == 0 ? firstPart + b : 2 * b;
    if (n == 0 || n > room) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(n > firstPart ? 2 * b : b);
}

class CRun {
public:
    CRun(const SRunSetup& setup, const SFault& fault) : m_setup(setup), m_wire(fault) {}

    SExpectedRun Play() {
        if (!Identify()) {
            return m_expected;
        }
        AskBootVersions();
        if (RunBootStage() && RunApplicationStage()) {
            Complete();
        } else {
            ClearDisplay();
        }
        return m_expected;
    }

private:
    // Sends one request and keeps it when it reaches the writer.
    std::optional<SReply> Send(const SRequest& request, std::uint32_t echoParameter0 = 0) {
        bool delivered = false;
        auto reply = m_wire.Send(request.command, delivered, echoParameter0);
        m_delivered = delivered;
        if (delivered) {
            m_expected.requests.push_back(request);
        }
        return reply;
    }

    // The exit path's empty text.
    void ClearDisplay() {
        Send({CMD_SHOW_TEXT});
        m_expected.displayClearedAtEnd = m_delivered;
    }

    bool Identify() {
        const auto reply = Send({CMD_IDENTIFY}, 16);
        if (reply && reply->command == CMD_IDENTIFY) {
            return true;
        }
        // No type was identified: nothing but the exit path follows, and it has an
        // open link, so it sends its empty text.
        m_expected.box = "Unable to communicate with your steno machine.  Error Code 111";
        ClearDisplay();
        return false;
    }

    void AskBootVersions() {
        const auto reply = Send({CMD_BOOT_VERSIONS}, WRITER_MAIN_BOOT_VERSION);
        const bool answered = reply && reply->command == CMD_BOOT_VERSIONS;
        m_expected.mainBootLineLogged = answered;
        m_mainBootBuild = answered ? m_setup.mainBootBuild : 0;
        m_mainBootVersion = answered ? WRITER_MAIN_BOOT_VERSION : 0;
    }

    void Show(const std::string& text) {
        Send({CMD_SHOW_TEXT});
        if (m_delivered) {
            m_expected.display.push_back(text);
        }
    }

    void Erase(std::uint32_t address, std::uint32_t length) {
        Send({CMD_ERASE, address, length}, address);
        if (m_delivered) {
            m_expected.erases.push_back({address, length});
        }
    }

    void StageFailed(int code) {
        Show("Failure in updating machine.");
        m_expected.box = ProgrammingFailureText(code);
    }

    bool RunBootStage() {
        const bool early = m_mainBootBuild <= EARLY_LIMIT;
        const bool due = early || m_mainBootVersion < ROW_BOOT_VERSION || m_mainBootBuild < ROW_BOOT_BUILD;
        if (!due) {
            return true;
        }
        m_expected.earlyMethod = early;
        const std::uint32_t n = m_setup.bootImageLength;
        const std::uint32_t address = early ? 0 : BOOT_AREA;
        for (std::uint32_t attempt = 1; attempt <= 3; ++attempt) {
            m_expected.bootAttempts = attempt;
            Show(attempt == 1 ? std::string("Programming Boot Code")
                              : "Attempt " + std::to_string(attempt) + " to Program Boot Code");
            if (early) {
                Erase(BOOT_AREA, BOOT_AREA);
            }
            // The download: the geometry (learned afresh for each download), then,
            // when the layout can be sound, its CRC and its chunks.
            const SGeometry geometry = GeometryFrom(Send({CMD_INFO_BLOCK}), m_setup);
            const std::optional<std::uint32_t> layout = LayoutSize(geometry, n, address);
            if (!layout) {
                StageFailed(INVALID_REPLY);
                return false;
            }
            Send({CMD_SET_IMAGE_CRC});
            for (std::uint32_t offset = 0; offset < *layout; offset += TRANSFER) {
                if (const int result =
                        ChunkResult(Send({CMD_PROGRAM_BOOT, address, *layout, offset, MARKER, TYPE}));
                    result != 0) {
                    StageFailed(result);
                    return false;
                }
            }
            // Two blocks are read back from where the image went.
            const std::uint32_t readBack = 2 * geometry.block;
            std::optional<std::uint32_t> flipped;
            for (std::uint32_t offset = 0; offset < readBack; offset += TRANSFER) {
                const std::uint32_t piece = std::min(TRANSFER, readBack - offset);
                std::optional<std::uint32_t> flippedInPiece;
                if (!PieceTaken(Send({CMD_READ_MEMORY, address + offset, piece}, address + offset),
                                address + offset, flippedInPiece, piece)) {
                    StageFailed(READ_BACK_FAILED);
                    return false;
                }
                if (flippedInPiece) {
                    flipped = offset + *flippedInPiece;
                }
            }
            if (!flipped || !BootByteVerified(*flipped, early, n, geometry)) {
                return true;
            }
        }
        StageFailed(READ_BACK_FAILED);
        return false;
    }

    // Whether a wrong byte at this read-back offset fails the boot verification.
    static bool BootByteVerified(std::uint32_t offset, bool early, std::uint32_t n, const SGeometry& g) {
        if (!early) {
            return offset < n;
        }
        // The 8-byte header is dropped; the reserve must read as erased for the second
        // block to close up; the image continues at the second block.
        const std::uint32_t b = g.block;
        const std::uint32_t r = g.reserve;
        const std::uint32_t firstPart = std::min(n, b - r - HEADER);
        if (offset >= HEADER && offset < HEADER + firstPart) {
            return true;
        }
        if (n > firstPart) {
            if (offset >= b - r && offset < b) {
                return true;
            }
            return offset >= b && offset < b + (n - firstPart);
        }
        return false;
    }

    bool RunApplicationStage() {
        const std::uint32_t n = m_setup.applicationImageLength;
        for (std::uint32_t attempt = 1; attempt <= 3; ++attempt) {
            m_expected.applicationAttempts = attempt;
            Send({CMD_SET_IMAGE_CRC});
            Show(attempt == 1 ? std::string("Programming Application Code")
                              : "Attempt " + std::to_string(attempt) + " to Program Application Code");
            for (std::uint32_t offset = 0; offset < n; offset += APP_CHUNK) {
                if (const int result =
                        ChunkResult(Send({CMD_PROGRAM_APPLICATION, 0, n, offset, MARKER, TYPE}));
                    result != 0) {
                    StageFailed(result);
                    return false;
                }
            }
            bool mismatch = false;
            for (std::uint32_t offset = 0; offset < n; offset += TRANSFER) {
                const std::uint32_t piece = std::min(TRANSFER, n - offset);
                std::optional<std::uint32_t> flipped;
                if (!PieceTaken(Send({CMD_READ_MEMORY, APP_AREA + offset, piece}, APP_AREA + offset),
                                APP_AREA + offset, flipped, piece)) {
                    StageFailed(READ_BACK_FAILED);
                    return false;
                }
                mismatch = mismatch || flipped.has_value();
            }
            if (!mismatch) {
                return true;
            }
        }
        Show("Failure in updating machine.");
        Erase(APP_AREA, 0x20000);  // three mismatches: the application must not start
        m_expected.box = ProgrammingFailureText(READ_BACK_FAILED);
        return false;
    }

    void Complete() {
        const auto reply = Send({CMD_RESTART});
        m_expected.restartRequested = true;
        m_expected.restartReachedWriter = m_delivered;
        if (reply && reply->command == CMD_ERROR && reply->parameter0 == 3) {
            static const char* const texts[] = {"", "Cannot Program, File open",
                                                "Cannot Program, Real-Time Active",
                                                "Cannot Program, File open and Real-Time Active"};
            m_expected.notice = texts[reply->parameter1 & 3];
        }
        m_expected.success = true;
        m_expected.box = std::string("Successfully updated the ") + NAME + ".\n           Click OK to Exit.";
        // Completion closes the link itself, so the exit path sends nothing.
    }

    SRunSetup m_setup;
    CWire m_wire;
    SExpectedRun m_expected;
    bool m_delivered = false;  // whether the last request reached the writer
    std::uint32_t m_mainBootBuild = 0;
    std::uint32_t m_mainBootVersion = 0;
};

}  // namespace

SExpectedRun Expect(const SRunSetup& setup, const SFault& fault) {
    return CRun(setup, fault).Play();
}

std::string CommandName(std::uint16_t command) {
    switch (command) {
        case CMD_IDENTIFY:
            return "identify";
        case CMD_BOOT_VERSIONS:
            return "boot versions";
        case CMD_SHOW_TEXT:
            return "show text";
        case CMD_ERASE:
            return "erase";
        case CMD_INFO_BLOCK:
            return "info block";
        case CMD_SET_IMAGE_CRC:
            return "image CRC";
        case CMD_PROGRAM_BOOT:
            return "boot chunk";
        case CMD_PROGRAM_APPLICATION:
            return "app chunk";
        case CMD_READ_MEMORY:
            return "read-back";
        case CMD_RESTART:
            return "restart";
        default:
            return "command " + std::to_string(command);
    }
}

std::string RequestName(const SRequest& request) {
    std::string name = CommandName(request.command);
    const auto hex = [](std::uint32_t value) {
        char text[16];
        std::snprintf(text, sizeof text, "0x%X", value);
        return std::string(text);
    };
    switch (request.command) {
        case CMD_ERASE:
        case CMD_READ_MEMORY:
            return name + " " + hex(request.address) + "+" + hex(request.length);
        case CMD_PROGRAM_BOOT:
        case CMD_PROGRAM_APPLICATION:
            return name + " " + hex(request.offset) + " of " + hex(request.length) + " at " +
                   hex(request.address) + ", type " + std::to_string(request.type) + ", marker " +
                   hex(request.marker);
        default:
            return name;
    }
}

std::string FaultName(const SFault& fault) {
    const std::string amount = std::to_string(fault.amount);
    switch (fault.kind) {
        case EFaultKind::NoReply:
            return "no reply";
        case EFaultKind::ShortReply:
            return "read of " + amount;
        case EFaultKind::WrongCommand:
            return "command " + amount;
        case EFaultKind::ErrorReply:
            return "error " + amount;
        case EFaultKind::WriteFails:
            return "write fails " + amount + "x";
        case EFaultKind::Gone:
            return "gone";
        case EFaultKind::Stalls:
            return "stalls";
        case EFaultKind::ShortBlock:
            return "block -" + amount;
        case EFaultKind::OtherAddress:
            return "address +" + amount;
        case EFaultKind::FlipByte:
            return "byte " + amount + " flipped";
    }
    return "?";
}

}  // namespace rules_oracle
