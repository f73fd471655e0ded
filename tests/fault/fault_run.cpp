#include "tests/fault/fault_run.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "images/crc32.h"
#include "tests/support/run_record.h"
#include "tools/lzari_packer.h"
#include "usb/usb_codes.h"
#include "usb/usb_header.h"

namespace {

// Blocks of 1000 bytes that mostly repeat the block before them, with a few bytes
// changed in each: long matches for the packer, yet no two blocks alike.
std::vector<std::uint8_t> RepetitiveImage(std::size_t size, std::uint32_t seed) {
    std::vector<std::uint8_t> bytes(size);
    std::uint32_t state = seed;
    const auto next = [&state] {
        state = state * 1664525u + 1013904223u;
        return state >> 24;
    };
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = i < 1000 ? static_cast<std::uint8_t>(next()) : bytes[i - 1000];
        if (i % 97 == 0) {
            bytes[i] = static_cast<std::uint8_t>(next());
        }
    }
    return bytes;
}

std::uint32_t RawCrc(const std::vector<std::uint8_t>& bytes) {
    CCrc32 crc;
    crc.Update(bytes.data(), bytes.size());
    return crc.Value();
}

SWriterBehaviour SmallMemory() {
    // The boot areas and the application area with room for the test application.
    SWriterBehaviour behaviour;
    behaviour.memorySize = CSimMemory::APPLICATION_ADDRESS + 0x40000;
    return behaviour;
}

}  // namespace

const char* const BOOT_ANNOUNCEMENT = "Sending boot code version 1.08.00 Build 8462 to Solenne...";

const SFaultImages& SFaultImages::Get() {
    static const SFaultImages images = [] {
        SFaultImages made;
        made.boot = RepetitiveImage(130000, 0xB0B0);
        made.application = RepetitiveImage(140000, 0xA0A0);
        made.packedBoot = PackLzari(made.boot);
        made.packedApplication = PackLzari(made.application);
        return made;
    }();
    return images;
}

SWriterIdentity Solenne(std::uint32_t mainBootBuild) {
    return {16, 0x02050000, 0, 14000, 0x01070000, mainBootBuild, 0, 0};
}

bool Verbose() {
    const char* verbose = std::getenv("TESSEL_VERBOSE");
    return verbose != nullptr && std::strcmp(verbose, "0") != 0;
}

SFaultRun::SFaultRun(const SWriterIdentity& identity, const std::vector<SFault>& faults,
                     const std::vector<SReadCorruption>& corruptions)
    : writer(identity, SmallMemory()) {
    for (const SFault& fault : faults) {
        writer.AddFault(fault);
    }
    for (const SReadCorruption& corruption : corruptions) {
        writer.AddReadCorruption(corruption);
    }
    const SFaultImages& images = SFaultImages::Get();
    resources.containers[IDR_BOOT_IMAGE] = images.packedBoot;
    resources.containers[IDR_APPLICATION_IMAGE] = images.packedApplication;
    resources.records[IDR_BOOT_IMAGE] = {static_cast<std::uint32_t>(images.boot.size()), RawCrc(images.boot)};
    resources.records[IDR_APPLICATION_IMAGE] = {static_cast<std::uint32_t>(images.application.size()),
                                                RawCrc(images.application)};
}

void SFaultRun::Run() {
    SJobEnvironment environment{transport, clock, &host, resources, allocator};
    CUpdateJob job(host, environment);
    job.Run();
    WriteRunRecordIfAsked(RunRecord(transport.Calls(), host, clock.pauses, &writer));
}

bool SFaultRun::Succeeded() const {
    const auto boxes = host.CallsOf("MessageOk");
    return boxes.size() == 1 && boxes[0].caption == host.applicationTitle;
}

bool SFaultRun::RestartWritten() const {
    for (const CSimTransport::SCall& call : transport.Calls()) {
        if (call.kind == CSimTransport::ECall::Write && call.bytes.size() >= USB_HEADER_SIZE &&
            ReadUsbHeader(call.bytes.data()).command == CMD_RESTART) {
            return true;
        }
    }
    return false;
}

std::string SFaultRun::Outcome() const {
    const auto boxes = host.CallsOf("MessageOk");
    if (boxes.size() != 1) {
        return std::to_string(boxes.size()) + " boxes";
    }
    return Succeeded() ? std::string("success") : boxes[0].text;
}

std::vector<std::string> SFaultRun::InvariantBreaches() const {
    std::vector<std::string> breaches;
    const auto breach = [&](bool broken, const char* what) {
        if (broken) {
            breaches.emplace_back(what);
        }
    };
    const auto& calls = host.calls;
    const auto count = [&](const char* operation) { return host.CallsOf(operation).size(); };
    const auto boxes = host.CallsOf("MessageOk");
    const bool declined = boxes.empty() && count("AskYesNo") == 1;

    breach(calls.size() < 3 || calls.front().operation != "OpenLog", "the log is not opened first");
    breach(calls.size() < 3 || calls[calls.size() - 2].operation != "RestoreStatus" ||
               calls.back().operation != "CloseLog",
           "the run does not end with RestoreStatus, CloseLog");
    breach(count("OpenLog") != 1 || count("RestoreStatus") != 1 || count("CloseLog") != 1,
           "OpenLog, RestoreStatus or CloseLog not exactly once");
    breach(boxes.size() != 1 && !declined, "not exactly one outcome box");
    breach((count("FinishDialog") == 1) != Succeeded(), "the dialog ended without success, or not after it");
    if (boxes.size() == 1 && !Succeeded()) {
        breach(boxes[0].caption != "Error" || boxes[0].icon != MESSAGE_ICON_STOP,
               "a failure box without caption Error and the stop icon");
    }
    breach(RestartWritten() != Succeeded(), "a restart without success, or success without a restart");
    if (RestartWritten()) {
        const std::vector<std::uint8_t>& image = SFaultImages::Get().application;
        const auto size = static_cast<std::uint32_t>(image.size());
        breach(!writer.Memory().Holds(CSimMemory::APPLICATION_ADDRESS, size) ||
                   std::memcmp(writer.Memory().At(CSimMemory::APPLICATION_ADDRESS), image.data(), size) != 0,
               "a restart of a writer whose application is not the image");
    }

    const auto& wire = transport.Calls();
    breach(transport.IsOpen() || transport.Count(CSimTransport::ECall::Open) != 1 ||
               transport.Count(CSimTransport::ECall::Close) != 1 ||
               wire.back().kind != CSimTransport::ECall::Close,
           "the link is not opened once and closed once, last");
    std::uint32_t nonEmptyReads = 0;
    bool sequenceKept = true;
    for (const CSimTransport::SCall& call : wire) {
        if (call.kind == CSimTransport::ECall::Read && call.value > 0) {
            ++nonEmptyReads;
        }
        if (call.kind == CSimTransport::ECall::Write) {
            sequenceKept = sequenceKept && call.bytes.size() >= USB_HEADER_SIZE &&
                           ReadLittleEndian32(call.bytes.data() + HEADER_OFFSET_SEQUENCE) == nonEmptyReads;
        }
    }
    breach(!sequenceKept, "a request whose sequence is not the number of non-empty reads before it");
    breach(allocator.Live() != 0, "a buffer of the run was not released");
    breach(!writer.Violations().empty(), "a malformed download chunk");
    breach(clock.pauses != std::vector<std::uint32_t>{100, 2000, 100},
           "the closing pauses are not 100, 2000, 100");
    return breaches;
}
