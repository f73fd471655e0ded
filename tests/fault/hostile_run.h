#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// One whole update run against a writer whose replies come from a script of bytes:
// the fuzz target of tests/fuzz/fuzz_whole_run.cpp feeds it fuzz inputs, and the
// regression tests of tests/fault/ replay every input that ever failed.
//
// Script layout. Byte 0 picks the writer (bits 0-1: the simulated writer's identity,
// bit 2: the answer to a downgrade question). Then one record per request, taken at
// the request's first write attempt; once the script is used up every request goes
// unanswered, so every run ends. A record starts with a control byte:
//   bits 0-2  what comes back
//             0 the simulated writer's own reply
//             1 nothing
//             2 the first 1 to 31 bytes of the writer's reply (next byte picks how many)
//             3 raw bytes: a 16-bit little-endian count, then that many bytes
//             4 the writer's reply with one header field replaced (next byte: the field,
//               then 4 bytes little-endian: the value)
//             5 the writer's reply with its last bytes cut off (next 2 bytes: how many)
//             6 the writer's reply followed by junk (next byte: how many bytes follow)
//             7 the writer is unplugged: no write or read reaches it any more
//   bits 3-4  write attempts of this request that fail (3: the request never arrives)
//
// Every reply reaches the link from a heap buffer of exactly its size, so reading past
// what arrived is a heap overflow that AddressSanitizer reports.
namespace hostile_run {

// Runs the script and checks what no writer may cause: more or less than one outcome,
// a restart of a writer whose application did not read back as the image, a broken
// exit path, an open link, a sequence field that is not the number of non-empty reads
// before it, a run that does not end. Returns an empty text, or what went wrong.
std::string CheckWholeRun(const std::uint8_t* script, std::size_t size);

// Where the writer's memory holds the boot image after a run.
enum class EBootImage {
    None,        // not where either method puts it
    At40000,     // copied unchanged to 0x40000 (current boot loaders)
    LaidOutAt0,  // at 0 in the early layout: header, first part, erased reserve, second block
};

// What the writer was left with, for scripts whose writer answers everything.
struct SWriterOutcome {
    std::uint32_t downloads = 0;  // downloads the writer took to their end
    std::uint32_t downloadsMatchingCrc =
        0;  // of those, the ones whose bytes have the CRC announced before them
    EBootImage bootImage = EBootImage::None;
    bool applicationImageInMemory = false;  // at 0x80000
    bool restartReceived = false;           // a restart request reached the writer
    bool dialogFinished = false;            // the host was told to end the dialog
};

struct SWholeRun {
    std::string failure;  // what CheckWholeRun returns
    SWriterOutcome writer;
};

// CheckWholeRun, with what the writer was left with.
SWholeRun RunWholeScript(const std::uint8_t* script, std::size_t size);

// The raw images the runs carry (small, so a fuzzer runs thousands of them a second).
std::size_t BootImageSize();
std::size_t ApplicationImageSize();

}  // namespace hostile_run
