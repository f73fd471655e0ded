#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/sim_writer.h"

// What a whole run must do when the writer misbehaves once, worked out from the rules
// of the run and of the link alone: which requests reach the writer, what each command
// makes of the reply it gets, and where the run goes from there. It never looks at the
// program, so a fault matrix can hold the program against it.
namespace rules_oracle {

// The writer: a Solenne with an older application (2.05.00, build 14000) and a main
// boot loader of build `mainBootBuild` at 1.07.00, reporting the given boot geometry
// in its information block; the images of the run with their lengths.
struct SRunSetup {
    std::uint32_t mainBootBuild = 8000;
    std::uint32_t bootImageLength = 0;
    std::uint32_t applicationImageLength = 0;
    // The words at offsets 36 and 40 of the information block; 0 keeps the default.
    std::uint32_t reportedBlockSize = 0x20000;
    std::uint32_t reportedReserve = 2048;
};

// A request that reached the writer, by the fields that place it.
struct SRequest {
    std::uint16_t command = 0;
    std::uint32_t address = 0;  // erase and read-back: its address; boot chunk: the load address
    std::uint32_t length = 0;   // erase and read-back: its length; download chunk: the download's total
    std::uint32_t offset = 0;   // download chunk: where it goes in the download
    std::uint32_t marker = 0;   // download chunk: the download marker it carries
    std::uint32_t type = 0;     // download chunk: the machine type it is meant for
    bool operator==(const SRequest&) const = default;
};

struct SErase {
    std::uint32_t address = 0;
    std::uint32_t length = 0;
    bool operator==(const SErase&) const = default;
};

struct SExpectedRun {
    bool success = false;
    std::string box;                  // the one box: the success text or the error text
    bool mainBootLineLogged = false;  // the boot versions were answered
    bool earlyMethod = false;         // the boot stage erased and laid the image out at 0
    std::uint32_t bootAttempts = 0;   // attempts the boot stage started
    std::uint32_t applicationAttempts = 0;
    std::vector<std::string> display;  // texts that reached the writer's display, in order
    std::vector<SErase> erases;        // erase requests that reached the writer
    std::vector<SRequest> requests;    // every request that reached the writer, in order
    bool restartRequested = false;     // the link wrote a restart request
    bool restartReachedWriter = false;
    bool displayClearedAtEnd = false;  // the exit path's empty text reached the writer
    std::string notice;                // the link's own box about a refused restart, if any
};

SExpectedRun Expect(const SRunSetup& setup, const SFault& fault);

// Short names for tables and reports.
std::string CommandName(std::uint16_t command);
std::string FaultName(const SFault& fault);
std::string RequestName(const SRequest& request);

}  // namespace rules_oracle
