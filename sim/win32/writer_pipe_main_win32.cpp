// writer-pipe: the simulated writer for the Windows program under Wine. It stands in
// for the writer behind a registered device interface, serves the program's
// connections, and writes what happened to the writer to a summary file at the end.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "sim/sim_writer.h"
#include "sim/win32/pipe_writer_server_win32.h"
#include "usb/usb_codes.h"

namespace {

struct SOptions {
    SWriterIdentity identity;
    SWriterBehaviour behaviour;
    std::uint32_t connections = 1;
    std::uint32_t replyDelayMs = 0;
    std::optional<std::uint32_t> stopReading;
    bool silent = false;
    std::string summaryPath;
    std::string devicePath = "root#stenowriter#0000#{202e68c5-5980-4a60-b761-77c4de9d5dbf}";
    std::string pipeName = "tessel-writer";
};

void PrintUsage() {
    std::fprintf(stderr,
                 "usage: writer-pipe [options]\n"
                 "  --type N                machine type (default 16)\n"
                 "  --version HEX           application version, or boot-loader version in boot mode\n"
                 "  --build N               application build\n"
                 "  --boot-mode N           nonzero: the writer answers from its boot loader\n"
                 "  --main-boot HEX:N       main boot loader version and build\n"
                 "  --program-refusal N     refuse every download chunk with writer code N\n"
                 "  --silent                take every request and never answer\n"
                 "  --reply-delay MS        wait MS milliseconds before sending each reply\n"
                 "  --stop-reading N        answer N requests, then never read again (0: none)\n"
                 "  --connections N         serve N connections, then unplug (default 1)\n"
                 "  --summary FILE          where to write what happened to the writer\n"
                 "  --device-path PATH      device path without \\\\?\\ (default the registered writer)\n"
                 "  --pipe NAME             pipe name (default tessel-writer)\n");
}

std::optional<std::uint32_t> ParseNumber(const std::string& text, int base) {
    if (text.empty() || text[0] == '-' || text[0] == '+') {
        return std::nullopt;
    }
    char* end = nullptr;
    errno = 0;
    const unsigned long long value = std::strtoull(text.c_str(), &end, base);
    if (errno != 0 || *end != '\0' || value > 0xFFFFFFFFull) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(value);
}

bool ParseOptions(int argc, char** argv, SOptions& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--silent") {
            options.silent = true;
            continue;
        }
        if (i + 1 >= argc) {
            return false;
        }
        const std::string value = argv[++i];
        std::optional<std::uint32_t> number;
        std::uint32_t* field = nullptr;
        int base = 10;
        SWriterIdentity& id = options.identity;
        if (option == "--type") {
            field = &id.machineType;
        } else if (option == "--version") {
            field = &id.version;
            base = 16;
        } else if (option == "--build") {
            field = &id.build;
        } else if (option == "--boot-mode") {
            field = &id.bootMode;
        } else if (option == "--program-refusal") {
            field = &options.behaviour.programRefusal;
        } else if (option == "--connections") {
            field = &options.connections;
        } else if (option == "--reply-delay") {
            field = &options.replyDelayMs;
        } else if (option == "--stop-reading") {
            options.stopReading = ParseNumber(value, 10);
            if (!options.stopReading) {
                return false;
            }
            continue;
        } else if (option == "--main-boot") {
            const std::size_t colon = value.find(':');
            const auto version = ParseNumber(value.substr(0, colon), 16);
            const auto build =
                colon == std::string::npos ? std::nullopt : ParseNumber(value.substr(colon + 1), 10);
            if (!version || !build) {
                return false;
            }
            id.mainBootVersion = *version;
            id.mainBootBuild = *build;
            continue;
        } else if (option == "--summary") {
            options.summaryPath = value;
            continue;
        } else if (option == "--device-path") {
            options.devicePath = value;
            continue;
        } else if (option == "--pipe") {
            options.pipeName = value;
            continue;
        } else {
            return false;
        }
        number = ParseNumber(value, base);
        if (!number) {
            return false;
        }
        *field = *number;
    }
    return true;
}

const char* CommandName(std::uint16_t command) {
    switch (command) {
        case CMD_PROGRAM_APPLICATION:
            return "program-application";
        case CMD_PROGRAM_BOOT:
            return "program-boot";
        default:
            return "?";
    }
}

void WriteSummary(std::FILE* out, const CSimWriter& writer, const CPipeWriterServer& server) {
    const SWriterSummary& summary = writer.Summary();
    std::fprintf(out, "requests: %zu\n", writer.Transcript().size());
    for (const SDownloadRecord& download : summary.downloads) {
        std::fprintf(out, "programmed: %s at 0x%X, %u of %u byte(s), %s, CRC 0x%08X, %s\n",
                     CommandName(download.command), download.address, download.received, download.total,
                     download.complete ? "complete" : "INCOMPLETE", download.crc,
                     download.MatchesAnnouncement() ? "verified" : "NOT VERIFIED");
    }
    for (const SEraseRecord& erase : summary.erases) {
        std::fprintf(out, "erased: 0x%X bytes at 0x%X\n", erase.length, erase.address);
    }
    std::fprintf(out, "read back: %zu request(s)\n", writer.RequestsOf(CMD_READ_MEMORY).size());
    std::fprintf(out, "restarted: %s\n", summary.restarted ? "yes" : "no");
    for (const std::string& line : writer.DisplayLines()) {
        std::fprintf(out, "display: %s\n", line.c_str());
    }
    std::fprintf(out, "display clears: %u\n", writer.DisplayClears());
    for (const std::string& violation : writer.Violations()) {
        std::fprintf(out, "protocol violation: %s\n", violation.c_str());
    }
    std::fprintf(out, "oversized requests: %u\n", server.OversizedRequests());
}

}  // namespace

int main(int argc, char** argv) {
    SOptions options;
    if (!ParseOptions(argc, argv, options)) {
        PrintUsage();
        return 2;
    }
    CSimWriter writer(options.identity, options.behaviour);
    if (options.silent) {
        for (std::uint32_t occurrence = 1; occurrence <= 8; ++occurrence) {
            writer.AddFault({CMD_IDENTIFY, occurrence, EFaultKind::NoReply, 0});
        }
    }
    int status = 0;
    {
        CPipeWriterServer server(writer, options.devicePath, options.pipeName);
        server.SetReplyDelay(options.replyDelayMs);
        if (options.stopReading) {
            const std::uint32_t requests = *options.stopReading;
            server.SetStopReading(requests, [requests] {
                std::printf("writer-pipe: stopped reading after %u request(s)\n", requests);
                std::fflush(stdout);
            });
        }
        std::string error;
        if (!server.Listen(error)) {
            std::fprintf(stderr, "writer-pipe: %s\n", error.c_str());
            return 1;
        }
        std::printf("writer-pipe: ready on \\\\?\\%s\n", options.devicePath.c_str());
        std::fflush(stdout);
        for (std::uint32_t served = 0; served < options.connections && !writer.IsGone(); ++served) {
            if (!server.AwaitConnection(error)) {
                std::fprintf(stderr, "writer-pipe: %s\n", error.c_str());
                status = 1;
                break;
            }
            std::printf("writer-pipe: connected\n");
            std::fflush(stdout);
            if (!server.ServeConnection(error)) {
                std::fprintf(stderr, "writer-pipe: %s\n", error.c_str());
                status = 1;
                break;
            }
            std::printf("writer-pipe: connection closed\n");
            std::fflush(stdout);
        }
        if (!options.summaryPath.empty()) {
            std::FILE* out = std::fopen(options.summaryPath.c_str(), "w");
            if (out == nullptr) {
                std::fprintf(stderr, "writer-pipe: cannot write %s\n", options.summaryPath.c_str());
                return 1;
            }
            WriteSummary(out, writer, server);
            std::fclose(out);
        }
    }
    return status;
}
