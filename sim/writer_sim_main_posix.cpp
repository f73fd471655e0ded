// writer-sim: a simulated writer on the writer port, for the demo, the end-to-end tests
// and anyone who wants to try the updater without a machine. It prints every line the
// writer shows on its display and, when the connection ends, what happened to it.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "sim/sim_writer.h"
#include "sim/writer_port_server_posix.h"
#include "usb/usb_codes.h"
#include "usb/writer_port_posix.h"

namespace {

struct SCommandName {
    const char* name;
    std::uint16_t command;
};

constexpr SCommandName COMMAND_NAMES[] = {
    {"identify", CMD_IDENTIFY},
    {"program-application", CMD_PROGRAM_APPLICATION},
    {"show-text", CMD_SHOW_TEXT},
    {"set-image-crc", CMD_SET_IMAGE_CRC},
    {"read-memory", CMD_READ_MEMORY},
    {"program-boot", CMD_PROGRAM_BOOT},
    {"restart", CMD_RESTART},
    {"erase", CMD_ERASE},
    {"boot-versions", CMD_BOOT_VERSIONS},
    {"info-block", CMD_INFO_BLOCK},
};

struct SFaultName {
    const char* name;
    EFaultKind kind;
};

// WriteFails is left out: over a socket the updater's write has already succeeded, so
// the core's refused write could only look like a missing reply.
constexpr SFaultName FAULT_NAMES[] = {
    {"no-reply", EFaultKind::NoReply},
    {"short-reply", EFaultKind::ShortReply},
    {"wrong-command", EFaultKind::WrongCommand},
    {"error-reply", EFaultKind::ErrorReply},
    {"gone", EFaultKind::Gone},
    {"short-block", EFaultKind::ShortBlock},
    {"other-address", EFaultKind::OtherAddress},
    {"flip-byte", EFaultKind::FlipByte},
};

// A memory larger than this is a typing error, not a writer.
constexpr std::uint32_t MAX_MEMORY_SIZE = 64u << 20;

void PrintUsage() {
    std::fprintf(
        stderr,
        "usage: writer-sim [options]\n"
        "  --type N                  machine type (default 16)\n"
        "  --version HEX             application version, or boot-loader version in boot mode\n"
        "                            (default 0x02050000)\n"
        "  --build N                 application build (default 14000)\n"
        "  --boot-mode N             nonzero: the writer answers from its boot loader (default 0)\n"
        "  --main-boot HEX:N         main boot loader version and build (default 0x01070000:8000)\n"
        "  --secondary-boot HEX:N    secondary boot loader version and build (default 0:0)\n"
        "  --fault CMD:N:KIND[:AMOUNT]\n"
        "                            misbehave at the N-th request of CMD (a number or one of\n"
        "                            identify, program-application, show-text, set-image-crc,\n"
        "                            read-memory, program-boot, restart, erase, boot-versions,\n"
        "                            info-block); KIND: no-reply (the updater waits 30 s),\n"
        "                            short-reply, wrong-command, error-reply, gone, short-block,\n"
        "                            other-address, flip-byte; AMOUNT as the kind takes it\n"
        "  --corrupt-read ADDR:PASS  invert the byte at ADDR (hex) in the PASS-th read covering it\n"
        "  --memory-size N           bytes of memory from address 0 (default 0x480000, at most 64 MiB)\n"
        "  --memory-fill KIND        erased or old-firmware (default old-firmware)\n"
        "  --info-length N           payload length of the boot geometry block (default 44)\n"
        "  --boot-block-size N       boot block size the writer reports (default 0x20000)\n"
        "  --boot-reserve N          boot reserve the writer reports (default 2048)\n"
        "  --program-refusal CODE    refuse every download chunk with CODE (3: a file is open)\n"
        "  --refuse-restart BITS     refuse the restart; BITS 1: a file is open, 2: real-time\n"
        "  --name NAME               socket name in the writer-port directory (default writer-sim)\n"
        "  --serve-forever           serve one connection after another instead of ending\n"
        "  --stop-reading-after N    read and answer N requests of a connection, then read nothing\n"
        "                            more: the connection stays open and what the updater sends\n"
        "                            piles up unread until it hangs up\n"
        "  --never-accept            listen but never accept, with the listen queue kept full, so\n"
        "                            the updater's connect waits (the updater gives up after 30 s)\n"
        "The writer-port directory is $XDG_RUNTIME_DIR/steno-writers (or /tmp/steno-writers-UID).\n");
}

std::optional<std::uint32_t> ParseNumber(const std::string& text, int base) {
    if (text.empty()) {
        return std::nullopt;
    }
    const char* digits = text.c_str();
    if (base == 16 && (text.rfind("0x", 0) == 0 || text.rfind("0X", 0) == 0)) {
        digits += 2;
    }
    if (*digits == '\0' || *digits == '-' || *digits == '+') {
        return std::nullopt;
    }
    char* end = nullptr;
    errno = 0;
    const unsigned long long value = std::strtoull(digits, &end, base);
    if (errno != 0 || *end != '\0' || value > 0xFFFFFFFFull) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(value);
}

// "HEX:N": a hexadecimal value (a version, an address) and a decimal one (a build, a pass).
bool ParseHexAndDecimal(const std::string& text, std::uint32_t& version, std::uint32_t& build) {
    const std::size_t colon = text.find(':');
    if (colon == std::string::npos) {
        return false;
    }
    const auto parsedVersion = ParseNumber(text.substr(0, colon), 16);
    const auto parsedBuild = ParseNumber(text.substr(colon + 1), 10);
    if (!parsedVersion || !parsedBuild) {
        return false;
    }
    version = *parsedVersion;
    build = *parsedBuild;
    return true;
}

std::optional<std::uint16_t> ParseCommand(const std::string& text) {
    for (const SCommandName& entry : COMMAND_NAMES) {
        if (text == entry.name) {
            return entry.command;
        }
    }
    const auto number = ParseNumber(text, 0);
    if (number && *number <= 0xFFFF) {
        return static_cast<std::uint16_t>(*number);
    }
    return std::nullopt;
}

std::optional<SFault> ParseFault(const std::string& text) {
    std::string parts[4];
    std::size_t count = 0;
    std::size_t start = 0;
    for (;;) {
        const std::size_t colon = text.find(':', start);
        if (count == 4) {
            return std::nullopt;
        }
        parts[count++] = text.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
        if (colon == std::string::npos) {
            break;
        }
        start = colon + 1;
    }
    if (count < 3) {
        return std::nullopt;
    }
    SFault fault;
    const auto command = ParseCommand(parts[0]);
    const auto occurrence = ParseNumber(parts[1], 10);
    if (!command || !occurrence || *occurrence == 0) {
        return std::nullopt;
    }
    fault.command = *command;
    fault.occurrence = *occurrence;
    bool known = false;
    for (const SFaultName& entry : FAULT_NAMES) {
        if (parts[2] == entry.name) {
            fault.kind = entry.kind;
            known = true;
        }
    }
    if (!known) {
        return std::nullopt;
    }
    if (count == 4) {
        const auto amount = ParseNumber(parts[3], 0);
        if (!amount) {
            return std::nullopt;
        }
        fault.amount = *amount;
    }
    return fault;
}

struct SOptions {
    SWriterIdentity identity;
    SWriterBehaviour behaviour;
    std::vector<SFault> faults;
    std::vector<SReadCorruption> corruptions;
    std::string name = "writer-sim";
    bool serveForever = false;
    std::optional<std::uint32_t> stopReadingAfter;
    bool neverAccept = false;
};

bool ParseOptions(int argc, char** argv, SOptions& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--serve-forever") {
            options.serveForever = true;
            continue;
        }
        if (option == "--never-accept") {
            options.neverAccept = true;
            continue;
        }
        if (option == "--help" || option == "-h") {
            return false;
        }
        if (i + 1 >= argc) {
            std::fprintf(stderr, "writer-sim: %s needs a value\n", option.c_str());
            return false;
        }
        const std::string value = argv[++i];
        bool good = true;
        SWriterIdentity& id = options.identity;
        const auto assign = [&](std::uint32_t& field, int base) {
            const auto number = ParseNumber(value, base);
            good = number.has_value();
            if (number) {
                field = *number;
            }
        };
        if (option == "--type") {
            assign(id.machineType, 10);
        } else if (option == "--version") {
            assign(id.version, 16);
        } else if (option == "--build") {
            assign(id.build, 10);
        } else if (option == "--boot-mode") {
            assign(id.bootMode, 10);
        } else if (option == "--main-boot") {
            good = ParseHexAndDecimal(value, id.mainBootVersion, id.mainBootBuild);
        } else if (option == "--secondary-boot") {
            good = ParseHexAndDecimal(value, id.secondaryBootVersion, id.secondaryBootBuild);
        } else if (option == "--fault") {
            const auto fault = ParseFault(value);
            good = fault.has_value();
            if (fault) {
                options.faults.push_back(*fault);
            }
        } else if (option == "--corrupt-read") {
            SReadCorruption corruption;
            good = ParseHexAndDecimal(value, corruption.address, corruption.pass) && corruption.pass > 0;
            options.corruptions.push_back(corruption);
        } else if (option == "--memory-size") {
            assign(options.behaviour.memorySize, 0);
            good =
                good && options.behaviour.memorySize > 0 && options.behaviour.memorySize <= MAX_MEMORY_SIZE;
        } else if (option == "--memory-fill") {
            good = value == "erased" || value == "old-firmware";
            options.behaviour.memoryFill =
                value == "erased" ? CSimMemory::EFill::Erased : CSimMemory::EFill::OldFirmware;
        } else if (option == "--info-length") {
            assign(options.behaviour.infoLength, 0);
        } else if (option == "--boot-block-size") {
            assign(options.behaviour.reportedBootBlockSize, 0);
        } else if (option == "--boot-reserve") {
            assign(options.behaviour.reportedBootReserve, 0);
        } else if (option == "--program-refusal") {
            assign(options.behaviour.programRefusal, 0);
        } else if (option == "--refuse-restart") {
            options.behaviour.refuseRestart = true;
            assign(options.behaviour.restartStatusBits, 0);
        } else if (option == "--stop-reading-after") {
            options.stopReadingAfter = ParseNumber(value, 10);
            good = options.stopReadingAfter.has_value();
        } else if (option == "--name") {
            good = !value.empty() && value.find('/') == std::string::npos;
            options.name = value;
        } else {
            std::fprintf(stderr, "writer-sim: unknown option %s\n", option.c_str());
            return false;
        }
        if (!good) {
            std::fprintf(stderr, "writer-sim: bad value for %s: %s\n", option.c_str(), value.c_str());
            return false;
        }
    }
    return true;
}

// Prints the display lines and clears that appeared since the last call.
class CDisplayPrinter {
public:
    explicit CDisplayPrinter(const CSimWriter& writer) : m_writer(writer) {}

    void PrintNew() {
        const auto& lines = m_writer.DisplayLines();
        for (; m_lines < lines.size(); ++m_lines) {
            std::printf("writer display: %s\n", lines[m_lines].c_str());
        }
        for (; m_clears < m_writer.DisplayClears(); ++m_clears) {
            std::printf("writer display: (cleared)\n");
        }
        std::fflush(stdout);
    }

private:
    const CSimWriter& m_writer;
    std::size_t m_lines = 0;
    std::uint32_t m_clears = 0;
};

const char* CommandName(std::uint16_t command) {
    for (const SCommandName& entry : COMMAND_NAMES) {
        if (entry.command == command) {
            return entry.name;
        }
    }
    return "?";
}

void PrintSummary(const CSimWriter& writer, const CWriterPortServer& server) {
    const SWriterSummary& summary = writer.Summary();
    std::printf("writer-sim summary:\n");
    for (const SCommandName& entry : COMMAND_NAMES) {
        const std::size_t count = writer.RequestsOf(entry.command).size();
        if (count > 0) {
            std::printf("  %-20s %zu request(s)\n", entry.name, count);
        }
    }
    if (summary.downloads.empty()) {
        std::printf("  programmed: nothing\n");
    }
    for (const SDownloadRecord& download : summary.downloads) {
        std::printf("  programmed: %s at 0x%X, %u of %u byte(s), %s, CRC 0x%08X",
                    CommandName(download.command), download.address, download.received, download.total,
                    download.complete ? "complete" : "INCOMPLETE", download.crc);
        if (download.announcedCrc) {
            std::printf(", announced 0x%08X: %s\n", *download.announcedCrc,
                        download.MatchesAnnouncement() ? "verified" : "MISMATCH");
        } else {
            std::printf(", no CRC announced\n");
        }
    }
    for (const SEraseRecord& erase : summary.erases) {
        std::printf("  erased: 0x%X bytes at 0x%X\n", erase.length, erase.address);
    }
    std::printf("  read back: %zu request(s)\n", writer.RequestsOf(CMD_READ_MEMORY).size());
    std::printf("  restarted: %s", summary.restarted ? "yes" : "no");
    if (summary.restartRefusals > 0) {
        std::printf(" (refused %u time(s))", summary.restartRefusals);
    }
    std::printf("\n");
    for (const std::string& violation : writer.Violations()) {
        std::printf("  protocol violation: %s\n", violation.c_str());
    }
    if (server.OversizedRequests() > 0) {
        std::printf("  oversized requests cut: %u\n", server.OversizedRequests());
    }
    std::fflush(stdout);
}

// The socket entry to remove when the program is interrupted, so no dead writer stays
// listed in the writer-port directory: its name in the checked directory, which the
// server holds open.
int g_directory = -1;
char g_socketName[108];

extern "C" void RemoveSocketAndExit(int signalNumber) {
    struct stat info {};
    if (fstatat(g_directory, g_socketName, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISSOCK(info.st_mode)) {
        unlinkat(g_directory, g_socketName, 0);
    }
    _exit(128 + signalNumber);
}

void RemoveSocketOnSignals(const CWriterPortServer& server) {
    g_directory = server.DirectoryDescriptor();
    std::snprintf(g_socketName, sizeof(g_socketName), "%s", server.Name().c_str());
    struct sigaction action {};
    action.sa_handler = RemoveSocketAndExit;
    sigemptyset(&action.sa_mask);
    for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP}) {
        sigaction(signalNumber, &action, nullptr);
    }
}

}  // namespace

int main(int argc, char** argv) {
    SOptions options;
    if (!ParseOptions(argc, argv, options)) {
        PrintUsage();
        return 2;
    }
    CSimWriter writer(options.identity, options.behaviour);
    for (const SFault& fault : options.faults) {
        writer.AddFault(fault);
    }
    for (const SReadCorruption& corruption : options.corruptions) {
        writer.AddReadCorruption(corruption);
    }

    CWriterPortServer server(writer, WriterPortDirectory(), options.name);
    std::string error;
    if (!server.Listen(error)) {
        std::fprintf(stderr, "writer-sim: %s\n", error.c_str());
        return 1;
    }
    RemoveSocketOnSignals(server);
    if (options.neverAccept && !server.FillListenQueue(error)) {
        std::fprintf(stderr, "writer-sim: %s\n", error.c_str());
        return 1;
    }
    if (options.stopReadingAfter) {
        const std::uint32_t requests = *options.stopReadingAfter;
        server.StopReadingAfter(requests, [requests] {
            std::printf("writer-sim: stopped reading after %u request(s)\n", requests);
            std::fflush(stdout);
        });
    }
    const SWriterIdentity& id = options.identity;
    std::printf(
        "writer-sim: type %u, version 0x%08X build %u, boot mode %u, main boot 0x%08X build %u, "
        "secondary boot 0x%08X build %u\n",
        id.machineType, id.version, id.build, id.bootMode, id.mainBootVersion, id.mainBootBuild,
        id.secondaryBootVersion, id.secondaryBootBuild);
    std::printf("writer-sim: ready on %s\n", server.Path().c_str());
    std::fflush(stdout);
    if (options.neverAccept) {
        std::printf("writer-sim: never accepting; the listen queue is full\n");
        std::fflush(stdout);
        for (;;) {
            pause();  // until a signal ends the program
        }
    }

    CDisplayPrinter display(writer);
    int status = 0;
    do {
        if (!server.ServeConnection([&display] { display.PrintNew(); }, error)) {
            std::fprintf(stderr, "writer-sim: %s\n", error.c_str());
            status = 1;
            break;
        }
        std::printf("writer-sim: connection closed\n");
        std::fflush(stdout);
    } while (options.serveForever && !writer.IsGone());
    PrintSummary(writer, server);
    return status;
}
