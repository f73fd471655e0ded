#pragma once

#include <cstdint>
#include <cstring>
#include <deque>
#include <vector>

#include "usb/transport.h"
#include "usb/usb_header.h"

// A transport that hands out scripted reads and write results and records the rest:
// for tests that need replies no writer would send.
class CScriptedTransport final : public ITransport {
public:
    std::uint32_t Open() override {
        ++opens;
        return openError;
    }
    std::uint32_t Write(const std::uint8_t* data, std::uint32_t size) override {
        writes.emplace_back(data, data + size);
        if (writeResults.empty()) {
            return size;
        }
        const std::uint32_t result = writeResults.front();
        writeResults.pop_front();
        return result;
    }
    std::uint32_t Read(std::uint8_t* buffer, std::uint32_t capacity) override {
        ++reads;
        if (replies.empty()) {
            return 0;
        }
        std::vector<std::uint8_t> reply = std::move(replies.front());
        replies.pop_front();
        const auto size = static_cast<std::uint32_t>(reply.size() < capacity ? reply.size() : capacity);
        if (size > 0) {
            std::memcpy(buffer, reply.data(), size);
        }
        return size;
    }
    void Control(std::uint32_t code) override { controls.push_back(code); }
    std::uint32_t Close() override {
        ++closes;
        return 0;
    }

    // A reply packet with the given header fields and payload.
    static std::vector<std::uint8_t> Packet(std::uint16_t command, std::uint32_t p0 = 0, std::uint32_t p1 = 0,
                                            std::uint32_t p2 = 0, std::uint32_t p3 = 0, std::uint32_t p4 = 0,
                                            std::vector<std::uint8_t> payload = {}) {
        SUsbHeader header;
        header.magic = PACKET_MAGIC;
        header.command = command;
        header.length = static_cast<std::uint32_t>(payload.size());
        header.parameter[0] = p0;
        header.parameter[1] = p1;
        header.parameter[2] = p2;
        header.parameter[3] = p3;
        header.parameter[4] = p4;
        std::vector<std::uint8_t> packet(USB_HEADER_SIZE);
        WriteUsbHeader(packet.data(), header);
        packet.insert(packet.end(), payload.begin(), payload.end());
        return packet;
    }

    std::uint32_t openError = 0;
    std::deque<std::uint32_t> writeResults;  // empty: every write takes the whole packet
    std::deque<std::vector<std::uint8_t>> replies;

    std::uint32_t opens = 0;
    std::uint32_t reads = 0;
    std::uint32_t closes = 0;
    std::vector<std::vector<std::uint8_t>> writes;
    std::vector<std::uint32_t> controls;
};
