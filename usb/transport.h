#pragma once

#include <cstdint>

// The transport seam under CTesselUsb: it moves whole packets and nothing else. All
// packet logic stays in the link. The link calls Write, Read, Control and Close only
// between a successful Open and the next Close.
//
// Implementations: transport_win32 (device setup API and a synchronous file handle),
// transport_posix (the writer port: a SOCK_SEQPACKET socket), and the in-process
// transport of the simulated writer for tests.
class ITransport {
public:
    virtual ~ITransport() = default;

    // Opens the first writer found. Returns 0 on success, otherwise a nonzero platform
    // error code, and then the transport stays closed.
    virtual std::uint32_t Open() = 0;
    // Writes one packet. Returns the number of bytes written, 0 on failure.
    virtual std::uint32_t Write(const std::uint8_t* data, std::uint32_t size) = 0;
    // Reads one packet of at most `capacity` bytes into `buffer`. Returns the number of
    // bytes read; 0 when nothing arrived (failure, the writer gone, or no reply within
    // the transport's reply time-out).
    virtual std::uint32_t Read(std::uint8_t* buffer, std::uint32_t capacity) = 0;
    // Issues a control request to the driver; its result is not used.
    virtual void Control(std::uint32_t code) = 0;
    // Closes the writer. Returns 0, or the platform error code of a failed close; the
    // transport is closed afterwards either way.
    virtual std::uint32_t Close() = 0;
};

// Reply time-out of the real transports: a writer that stops answering must not hang
// the program.
constexpr std::uint32_t REPLY_TIMEOUT_MS = 30000;
