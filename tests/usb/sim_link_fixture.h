#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "images/byte_buffer.h"
#include "sim/sim_transport.h"
#include "sim/sim_writer.h"
#include "usb/recording_clock.h"
#include "usb/tessel_usb.h"

// An allocator that records every request and can be told to fail.
class CRecordingAllocator final : public IAllocator {
public:
    ByteBuffer Allocate(std::size_t size) override {
        sizes.push_back(size);
        return fail ? nullptr : SystemAllocator().Allocate(size);
    }

    bool fail = false;
    std::vector<std::size_t> sizes;
};

// A link to one simulated writer over the in-process wire.
struct SimLinkFixture : ::testing::Test {
    CSimWriter writer;
    CSimTransport transport{&writer};
    CRecordingClock clock;
    CRecordingAllocator allocator;
    CTesselUsb link{transport, clock, nullptr, allocator};

    // Opens the link and identifies the writer as `identity`.
    void Connect(const SWriterIdentity& identity = {}) {
        writer.Identity() = identity;
        ASSERT_EQ(0u, link.Open());
        ASSERT_EQ(RESULT_OK, link.Identify(nullptr, nullptr, nullptr, nullptr));
    }

    // The commands the writer received after Identify, in order.
    std::vector<std::uint16_t> CommandsAfterIdentify() const {
        std::vector<std::uint16_t> commands;
        for (const SReceivedRequest& request : writer.Transcript()) {
            if (request.header.command != CMD_IDENTIFY) {
                commands.push_back(request.header.command);
            }
        }
        return commands;
    }

    // An image of `n` bytes whose every byte depends on its position.
    static std::vector<std::uint8_t> Pattern(std::uint32_t n, std::uint32_t seed = 1) {
        std::vector<std::uint8_t> bytes(n);
        for (std::uint32_t i = 0; i < n; ++i) {
            bytes[i] = static_cast<std::uint8_t>((i * 131u + (i >> 9) + seed) & 0x7Fu);
        }
        return bytes;
    }
};
