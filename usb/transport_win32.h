#pragma once

#include <cstdint>

#include "usb/transport.h"

// The writer as the device setup API finds it: the first present interface of the
// writer's class, opened as a synchronous file handle. Every call on the handle (write,
// read, control request) is bounded by one time-out: a writer that stops taking data
// or stays silent makes Write and Read return 0 and Control give up, instead of
// hanging. When the time-out cannot be set up, the call is not made and fails the same
// way. A writer that lets a call run out is taken for one that was unplugged: the
// handle is closed, and every later call fails at once until the next open.
class CDeviceSetupTransport final : public ITransport {
public:
    explicit CDeviceSetupTransport(std::uint32_t timeoutMs = REPLY_TIMEOUT_MS);
    ~CDeviceSetupTransport() override;

    CDeviceSetupTransport(const CDeviceSetupTransport&) = delete;
    CDeviceSetupTransport& operator=(const CDeviceSetupTransport&) = delete;

    std::uint32_t Open() override;
    std::uint32_t Write(const std::uint8_t* data, std::uint32_t size) override;
    std::uint32_t Read(std::uint8_t* buffer, std::uint32_t capacity) override;
    void Control(std::uint32_t code) override;
    std::uint32_t Close() override;

private:
    // The timer queue of the time-outs, made on first use; null when it cannot be made.
    void* TimerQueue();
    // After a call that timed out: the writer is let go, as one that was unplugged.
    void GiveUpOnWriter();

    std::uint32_t m_timeoutMs;
    // Win32 HANDLEs, kept as void* so this header needs no <windows.h>.
    void* m_device;
    void* m_timerQueue = nullptr;
};
