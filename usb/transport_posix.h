#pragma once

#include <cstdint>
#include <string>

#include "usb/transport.h"

// The writer port: a writer is a SOCK_SEQPACKET Unix-domain socket in
// $XDG_RUNTIME_DIR/steno-writers/ (or /tmp/steno-writers-<uid>/ when XDG_RUNTIME_DIR is
// unset). The first entry in byte-wise sorted name order is the writer; one packet is
// one message.
std::string WriterPortDirectory();

class CWriterPortTransport final : public ITransport {
public:
    explicit CWriterPortTransport(std::uint32_t replyTimeoutMs = REPLY_TIMEOUT_MS);
    ~CWriterPortTransport() override;

    CWriterPortTransport(const CWriterPortTransport&) = delete;
    CWriterPortTransport& operator=(const CWriterPortTransport&) = delete;

    std::uint32_t Open() override;
    std::uint32_t Write(const std::uint8_t* data, std::uint32_t size) override;
    std::uint32_t Read(std::uint8_t* buffer, std::uint32_t capacity) override;
    // The driver's reset has no meaning on a writer port; the request is only counted.
    void Control(std::uint32_t code) override;
    std::uint32_t Close() override;

    std::uint32_t ControlRequests() const { return m_controlRequests; }
    // The socket path of the last successful or attempted open.
    const std::string& Path() const { return m_path; }

private:
    std::uint32_t m_replyTimeoutMs;
    int m_socket = -1;
    std::uint32_t m_controlRequests = 0;
    std::string m_path;
};
