#pragma once

#include <cstdint>

#include "usb/transport.h"

// The writer as the device setup API finds it: the first present interface of the
// writer's class, opened as a synchronous file handle. Reads are bounded by a reply
// time-out; a writer that stays silent makes Read return 0 instead of hanging.
class CDeviceSetupTransport final : public ITransport {
public:
    explicit CDeviceSetupTransport(std::uint32_t replyTimeoutMs = REPLY_TIMEOUT_MS);
    ~CDeviceSetupTransport() override;

    CDeviceSetupTransport(const CDeviceSetupTransport&) = delete;
    CDeviceSetupTransport& operator=(const CDeviceSetupTransport&) = delete;

    std::uint32_t Open() override;
    std::uint32_t Write(const std::uint8_t* data, std::uint32_t size) override;
    std::uint32_t Read(std::uint8_t* buffer, std::uint32_t capacity) override;
    void Control(std::uint32_t code) override;
    std::uint32_t Close() override;

private:
    std::uint32_t m_replyTimeoutMs;
    // Win32 HANDLEs, kept as void* so this header needs no <windows.h>.
    void* m_device;
    void* m_timerQueue = nullptr;
};
