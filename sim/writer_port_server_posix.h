#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "sim/sim_writer.h"

// Serves a simulated writer on a writer port: a SOCK_SEQPACKET Unix-domain socket in the
// writer-port directory, the contract CWriterPortTransport connects to. One connection
// at a time; each request message goes to the writer core, and whatever the core
// answers (one reply, or none when it is told not to answer) goes back as messages.
class CWriterPortServer {
public:
    // Called after each request the writer took, so the caller can show what changed.
    using RequestObserver = std::function<void()>;

    // Largest request the link sends: the 32-byte header and 65536 bytes of payload.
    static constexpr std::uint32_t MAX_MESSAGE_SIZE = 65568;

    CWriterPortServer(CSimWriter& writer, std::string directory, std::string name);
    // Closes the socket and removes its entry, so no stale writer stays listed.
    ~CWriterPortServer();

    CWriterPortServer(const CWriterPortServer&) = delete;
    CWriterPortServer& operator=(const CWriterPortServer&) = delete;

    // Creates the directory when missing (mode 0700) and listens on <directory>/<name>,
    // replacing a stale entry of that name. False with `error` set when it cannot.
    bool Listen(std::string& error);
    // Accepts one connection and serves it until the peer closes it or the writer is
    // unplugged (a Gone fault). False with `error` set when accepting or receiving fails.
    bool ServeConnection(const RequestObserver& observer, std::string& error);

    const std::string& Path() const { return m_path; }
    // Requests that arrived longer than MAX_MESSAGE_SIZE; they are cut to that size.
    std::uint32_t OversizedRequests() const { return m_oversized; }

private:
    CSimWriter& m_writer;
    std::string m_directory;
    std::string m_path;
    int m_listener = -1;
    std::uint32_t m_oversized = 0;
};
