#pragma once

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "images/byte_buffer.h"
#include "images/resource_source.h"
#include "sim/sim_transport.h"
#include "sim/sim_writer.h"
#include "tests/support/run_record.h"
#include "update/recording_host.h"
#include "update/update_job.h"
#include "usb/recording_clock.h"

// Resources held by the test.
class CTestResources final : public IResourceSource {
public:
    std::optional<std::span<const std::uint8_t>> Find(std::uint32_t id) const override {
        const auto found = containers.find(id);
        if (found == containers.end()) {
            return std::nullopt;
        }
        return std::span<const std::uint8_t>(found->second);
    }
    std::optional<SImageRecord> FindRecord(std::uint32_t id) const override {
        const auto found = records.find(id);
        if (found == records.end()) {
            return std::nullopt;
        }
        return found->second;
    }

    std::map<std::uint32_t, std::vector<std::uint8_t>> containers;
    std::map<std::uint32_t, SImageRecord> records;
};

// One simulated writer, the in-process wire, a recording host and clock.
struct JobFixture : ::testing::Test {
    CSimWriter writer;
    CSimTransport transport{&writer};
    CRecordingClock clock;
    CRecordingHost host;
    CTestResources resources;

    void Run() {
        SJobEnvironment environment{transport, clock, &host, resources, SystemAllocator()};
        CUpdateJob job(host, environment);
        job.Run();
        WriteRunRecordIfAsked(RunRecord(transport.Calls(), host, clock.pauses, &writer));
    }

    using SCall = CRecordingHost::SCall;
    static SCall Log(const std::string& text) { return {"LogLine", text, "", 0}; }
    static SCall ErrorBox(const std::string& text) { return {"MessageOk", text, "Error", MESSAGE_ICON_STOP}; }
    static SCall Question(const std::string& text) { return {"AskYesNo", text, "Warning", 0x24}; }
    static SCall Call(const std::string& operation) { return {operation, "", "", 0}; }
};
