#pragma once

#include <cstdint>
#include <vector>

#include "sim/sim_writer.h"
#include "usb/clock.h"
#include "usb/transport.h"

// In-process transport for tests: hands the link the replies of a simulated writer
// and records every call the link makes.
class CSimTransport final : public ITransport {
public:
    enum class ECall { Open, Write, Read, Control, Close };

    struct SCall {
        ECall kind;
        std::vector<std::uint8_t> bytes;  // the packet of a Write, what a Read delivered
        std::uint32_t value = 0;          // result of Open/Write/Read/Close, code of a Control
    };

    // Error code of an Open with no writer attached (the platform's "not found").
    static constexpr std::uint32_t NO_WRITER_ERROR = 2;

    // `writer` null means no writer is attached.
    explicit CSimTransport(CSimWriter* writer) : m_writer(writer) {}

    // With a clock, a read that finds no reply waits the reply time-out on it before it
    // gives up, as the real transports do; a recording clock shows the wait.
    void SetReplyTimeoutClock(IClock* clock) { m_timeoutClock = clock; }
    // Without bytes, calls are recorded with their results only (for long runs).
    void SetRecordBytes(bool record) { m_recordBytes = record; }

    std::uint32_t Open() override;
    std::uint32_t Write(const std::uint8_t* data, std::uint32_t size) override;
    std::uint32_t Read(std::uint8_t* buffer, std::uint32_t capacity) override;
    void Control(std::uint32_t code) override;
    std::uint32_t Close() override;

    const std::vector<SCall>& Calls() const { return m_calls; }
    std::uint32_t Count(ECall kind) const;
    bool IsOpen() const { return m_open; }

private:
    CSimWriter* m_writer;
    IClock* m_timeoutClock = nullptr;
    bool m_recordBytes = true;
    bool m_open = false;
    std::vector<SCall> m_calls;
};
