#pragma once

#include <cstdint>
#include <iostream>
#include <string>

#include "usb/transport.h"
#include "usb/writer_port_posix.h"

// The writer port: a writer is a SOCK_SEQPACKET Unix-domain socket in the writer-port
// directory (WriterPortDirectory). The first entry in byte-wise sorted name order is
// the writer; one packet is one message. The directory, the entry and the peer must
// all be the user's own (writer_port_posix.h); anything else fails the open as a
// missing writer does, with one line on `refusals` saying why.
//
// Every wait is bounded by the time-out given: the connect, each send and each reply.
// A peer that lets one of them run out is taken for a writer that has gone: the
// transport lets go of it, and every later call fails at once until the next open, so
// a stalled writer costs a run one time-out rather than one for each request left.
class CWriterPortTransport final : public ITransport {
public:
    // `refusals` may be null: then a refusal is only kept for LastRefusal.
    explicit CWriterPortTransport(std::uint32_t timeoutMs = REPLY_TIMEOUT_MS,
                                  std::ostream* refusals = &std::cerr);
    ~CWriterPortTransport() override;

    CWriterPortTransport(const CWriterPortTransport&) = delete;
    CWriterPortTransport& operator=(const CWriterPortTransport&) = delete;

    std::uint32_t Open() override;
    // A message the peer has no room for within the time-out is not sent: 0.
    std::uint32_t Write(const std::uint8_t* data, std::uint32_t size) override;
    std::uint32_t Read(std::uint8_t* buffer, std::uint32_t capacity) override;
    // The driver's reset has no meaning on a writer port; the request is only counted.
    void Control(std::uint32_t code) override;
    std::uint32_t Close() override;

    std::uint32_t ControlRequests() const { return m_controlRequests; }
    // The socket path of the last successful or attempted open.
    const std::string& Path() const { return m_path; }
    // The line written for the last refused open; empty when the last open was not
    // refused.
    const std::string& LastRefusal() const { return m_lastRefusal; }

private:
    std::uint32_t Refuse(const std::string& directory, const SPortCheck& check);
    int Connect(int fd) const;
    // After a time-out: the peer is let go, as a writer that was unplugged.
    void GiveUpOnPeer();

    std::uint32_t m_timeoutMs;
    std::ostream* m_refusals;
    int m_socket = -1;
    std::uint32_t m_controlRequests = 0;
    std::string m_path;
    std::string m_lastRefusal;
};
