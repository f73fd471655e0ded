#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "images/byte_buffer.h"
#include "images/crc32.h"
#include "images/resource_source.h"
#include "sim/sim_transport.h"
#include "sim/sim_writer.h"
#include "tests/update/job_fixture.h"
#include "update/recording_host.h"
#include "update/update_job.h"
#include "usb/recording_clock.h"

// Raw and packed images for whole runs: the stand-in boot image and a shorter
// application image, so a run stays quick under the sanitizers.
struct STestImages {
    std::vector<std::uint8_t> boot;
    std::vector<std::uint8_t> application;
    std::vector<std::uint8_t> packedBoot;
    std::vector<std::uint8_t> packedApplication;

    static const STestImages& Get();
};

std::uint32_t RawCrc(const std::vector<std::uint8_t>& bytes);

// An allocator that fails the `failAt`-th allocation (1-based; 0: never).
class CCountingAllocator final : public IAllocator {
public:
    ByteBuffer Allocate(std::size_t size) override;

    std::uint32_t failAt = 0;
    std::uint32_t allocations = 0;
};

// A whole run against a simulated writer with the test images; a test may set up two.
struct SRunSetup {
    CSimWriter writer;
    CSimTransport transport{&writer};
    CRecordingClock clock;
    CRecordingHost host;
    CTestResources resources;
    CCountingAllocator allocator;
    IProgressSink* progress = nullptr;

    SRunSetup();
    void Run();

    // The writer as a Solenne running an old application and old boot loaders.
    static SWriterIdentity OldSolenne(std::uint32_t mainBootBuild = 8000);

    std::vector<std::uint16_t> Commands() const;
    std::uint32_t CountOf(std::uint16_t command) const;
    bool MemoryHolds(std::uint32_t address, const std::vector<std::uint8_t>& bytes) const;

    using SCall = CRecordingHost::SCall;
};

struct RunFixture : ::testing::Test, SRunSetup {
    using SRunSetup::Run;  // not the test framework's own Run
};

extern const char* const BOOT_ANNOUNCEMENT;
extern const char* const APPLICATION_ANNOUNCEMENT;
extern const char* const APPLICATION_STATUS;
