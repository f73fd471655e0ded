#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/sim_transport.h"
#include "sim/sim_writer.h"
#include "tests/fault/release_tracking.h"
#include "tests/update/job_fixture.h"
#include "update/recording_host.h"
#include "usb/recording_clock.h"

// The images of the fault runs: a boot image just long enough for the two-block layout
// (130000 bytes) and an application of three chunks (140000 bytes). Their content
// repeats a lot, so unpacking them costs little and hundreds of runs stay quick.
struct SFaultImages {
    std::vector<std::uint8_t> boot;
    std::vector<std::uint8_t> application;
    std::vector<std::uint8_t> packedBoot;
    std::vector<std::uint8_t> packedApplication;

    static const SFaultImages& Get();
};

extern const char* const BOOT_ANNOUNCEMENT;

// One whole run of CUpdateJob against a simulated Solenne with those images, and the
// checks that hold whatever the writer did.
struct SFaultRun {
    explicit SFaultRun(const SWriterIdentity& identity, const std::vector<SFault>& faults = {},
                       const std::vector<SReadCorruption>& corruptions = {});

    void Run();

    // Breaches of what every run must keep, whatever its outcome: one outcome box (or
    // none after a declined question), OpenLog first and RestoreStatus, CloseLog last,
    // each once; the dialog ended only on success; no restart unless the application
    // in the writer's memory is the image; the link closed once; each request's
    // sequence field the number of non-empty reads before it; every buffer released.
    std::vector<std::string> InvariantBreaches() const;

    bool Succeeded() const;
    bool RestartWritten() const;
    std::string Outcome() const;  // "success" or the error box text, for reports

    CSimWriter writer;
    CSimTransport transport{&writer};
    CRecordingClock clock;
    CRecordingHost host;
    CTestResources resources;
    CTrackingAllocator allocator;
};

// The Solenne of the runs: application 2.05.00 build 14000, main boot loader 1.07.00
// with the given build.
SWriterIdentity Solenne(std::uint32_t mainBootBuild);

// TESSEL_VERBOSE=1 in the environment: the tests print their tables.
bool Verbose();
