// Consecutive whole runs against writers that misbehave at random (a fixed seed, so
// every run can be replayed by its number), early and current boot loaders reporting
// boot geometries of their own. After each run: one outcome, every buffer released,
// the sequence counter and the log kept (SFaultRun::InvariantBreaches).
// 100 runs by default; TESSEL_SOAK_RUNS=1000 for the full soak.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "tests/fault/fault_run.h"
#include "usb/usb_codes.h"

namespace {

// splitmix64: the same sequence on every platform and standard library.
class CFixedSeedGenerator {
public:
    explicit CFixedSeedGenerator(std::uint64_t seed) : m_state(seed) {}
    std::uint64_t Next() {
        std::uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    std::uint32_t Below(std::uint32_t bound) { return static_cast<std::uint32_t>(Next() % bound); }

private:
    std::uint64_t m_state;
};

constexpr std::uint64_t SOAK_SEED = 0x50A4C0DEull;

const std::uint16_t kCommands[] = {CMD_IDENTIFY,   CMD_BOOT_VERSIONS,      CMD_SHOW_TEXT,    CMD_ERASE,
                                   CMD_INFO_BLOCK, CMD_SET_IMAGE_CRC,      CMD_PROGRAM_BOOT, CMD_READ_MEMORY,
                                   CMD_RESTART,    CMD_PROGRAM_APPLICATION};

SFault RandomFault(CFixedSeedGenerator& random) {
    SFault fault;
    fault.command = kCommands[random.Below(std::size(kCommands))];
    const bool repeated = fault.command == CMD_READ_MEMORY || fault.command == CMD_PROGRAM_BOOT ||
                          fault.command == CMD_PROGRAM_APPLICATION || fault.command == CMD_SHOW_TEXT;
    fault.occurrence = 1 + random.Below(repeated ? 8 : 2);
    fault.kind = static_cast<EFaultKind>(random.Below(9));
    switch (fault.kind) {
        case EFaultKind::ShortReply:
            fault.amount = 1 + random.Below(31);
            break;
        case EFaultKind::WrongCommand:
            fault.amount = random.Below(0x10000);
            break;
        case EFaultKind::ErrorReply:
            fault.amount = random.Below(2) == 0 ? 3 : random.Below(0x100);
            break;
        case EFaultKind::WriteFails:
            fault.amount = 1 + random.Below(3);
            break;
        case EFaultKind::ShortBlock:
        case EFaultKind::OtherAddress:
            fault.amount = 1 + random.Below(0x10000);
            break;
        case EFaultKind::FlipByte:
            fault.amount = random.Below(0x10000);
            break;
        default:
            break;
    }
    return fault;
}

// Boot geometries a writer may report (reserve 0 keeps the default); the default comes
// up most often. The 32 KiB blocks cannot hold the boot image at any address, the
// 64 KiB ones with the default reserve not at address 0.
struct SReportedGeometry {
    std::uint32_t blockSize;
    std::uint32_t reserve;
};
const SReportedGeometry kGeometries[] = {{0x20000, 2048}, {0x20000, 2048}, {0x20000, 2048}, {0x10000, 1024},
                                         {0x10000, 0},    {0x20000, 1024}, {0x20000, 4096}, {0x40000, 4096},
                                         {0x40000, 0},    {0x8000, 0}};

std::uint32_t SoakRuns() {
    const char* runs = std::getenv("TESSEL_SOAK_RUNS");
    return runs != nullptr ? static_cast<std::uint32_t>(std::strtoul(runs, nullptr, 10)) : 100;
}

TEST(Soak, ConsecutiveRunsWithRandomFaults_EachReportsOnceAndReleasesEverything) {
    CFixedSeedGenerator random(SOAK_SEED);
    const SWriterIdentity writers[] = {Solenne(3183),
                                       Solenne(8000),
                                       {17, 0x01080000, 1, 3000, 0, 0, 0, 0},
                                       {16, 0x02050000, 0, 14000, 0x01080000, 8462, 0, 0}};
    const std::uint32_t runs = SoakRuns();
    std::uint32_t successes = 0;
    std::uint64_t allocations = 0;
    for (std::uint32_t run = 1; run <= runs; ++run) {
        const SWriterIdentity& identity = writers[random.Below(std::size(writers))];
        const SReportedGeometry& geometry = kGeometries[random.Below(std::size(kGeometries))];
        std::vector<SFault> faults;
        for (std::uint32_t i = 1 + random.Below(3); i > 0; --i) {
            faults.push_back(RandomFault(random));
        }
        std::vector<SReadCorruption> corruptions;
        if (random.Below(4) == 0) {
            corruptions.push_back({random.Below(0xC0000), 1 + random.Below(3)});
        }
        SFaultRun soak(identity, faults, corruptions);
        soak.writer.Behaviour().reportedBootBlockSize = geometry.blockSize;
        soak.writer.Behaviour().reportedBootReserve = geometry.reserve;
        soak.Run();
        const std::vector<std::string> breaches = soak.InvariantBreaches();
        EXPECT_TRUE(breaches.empty()) << "run " << run << ": " << breaches.front();
        successes += soak.Succeeded() ? 1 : 0;
        allocations += soak.allocator.Allocations();
        if (Verbose()) {
            std::printf("run %4u: boot block 0x%X reserve %u, %zu faults -> %s\n", run, geometry.blockSize,
                        geometry.reserve, faults.size(), soak.Outcome().c_str());
        }
    }
    std::printf("soak: %u runs, %u succeeded, %u failed and said so; %llu buffers allocated, all released\n",
                runs, successes, runs - successes, static_cast<unsigned long long>(allocations));
}

}  // namespace
