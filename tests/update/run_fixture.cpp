#include "tests/update/run_fixture.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "tests/support/run_record.h"
#include "tools/firmware_gen.h"
#include "tools/lzari_packer.h"

const char* const BOOT_ANNOUNCEMENT = "Sending boot code version 1.08.00 Build 8462 to Solenne...";
const char* const APPLICATION_ANNOUNCEMENT = "Sending software version 2.06.00 to Solenne...";
const char* const APPLICATION_STATUS = "\n\nSending Build 14186 to Solenne...";

const STestImages& STestImages::Get() {
    static const STestImages images = [] {
        STestImages made;
        made.boot = GenerateBootImage();
        made.application = GenerateApplicationImage();
        made.application.resize(200000);  // four application chunks
        made.packedBoot = PackLzari(made.boot);
        made.packedApplication = PackLzari(made.application);
        return made;
    }();
    return images;
}

std::uint32_t RawCrc(const std::vector<std::uint8_t>& bytes) {
    CCrc32 crc;
    crc.Update(bytes.data(), bytes.size());
    return crc.Value();
}

ByteBuffer CCountingAllocator::Allocate(std::size_t size) {
    ++allocations;
    if (allocations == failAt) {
        return nullptr;
    }
    return ByteBuffer(new (std::nothrow) std::uint8_t[size]);
}

SRunSetup::SRunSetup() {
    const STestImages& images = STestImages::Get();
    resources.containers[IDR_BOOT_IMAGE] = images.packedBoot;
    resources.containers[IDR_APPLICATION_IMAGE] = images.packedApplication;
    resources.records[IDR_BOOT_IMAGE] = {static_cast<std::uint32_t>(images.boot.size()), RawCrc(images.boot)};
    resources.records[IDR_APPLICATION_IMAGE] = {static_cast<std::uint32_t>(images.application.size()),
                                                RawCrc(images.application)};
    writer.Identity() = OldSolenne();
}

void SRunSetup::Run() {
    SJobEnvironment environment{transport, clock, &host, resources, allocator, progress};
    CUpdateJob job(host, environment);
    job.Run();
    WriteRunRecordIfAsked(RunRecord(transport.Calls(), host, clock.pauses, &writer));
}

SWriterIdentity SRunSetup::OldSolenne(std::uint32_t mainBootBuild) {
    return {16, 0x02050000, 0, 14000, 0x01070000, mainBootBuild, 0, 0};
}

std::vector<std::uint16_t> SRunSetup::Commands() const {
    std::vector<std::uint16_t> commands;
    for (const SReceivedRequest& request : writer.Transcript()) {
        commands.push_back(request.header.command);
    }
    return commands;
}

std::uint32_t SRunSetup::CountOf(std::uint16_t command) const {
    return static_cast<std::uint32_t>(writer.RequestsOf(command).size());
}

bool SRunSetup::MemoryHolds(std::uint32_t address, const std::vector<std::uint8_t>& bytes) const {
    const auto size = static_cast<std::uint32_t>(bytes.size());
    return writer.Memory().Holds(address, size) &&
           std::memcmp(writer.Memory().At(address), bytes.data(), size) == 0;
}
