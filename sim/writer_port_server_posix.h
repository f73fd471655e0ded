#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "sim/sim_writer.h"
#include "usb/writer_port_posix.h"

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
    // replacing a stale socket of that name. A directory that is not private
    // (writer_port_posix.h) is refused, and so is an entry of that name that is not a
    // socket: it is left alone. False with `error` set when it cannot listen.
    bool Listen(std::string& error);
    // Accepts one connection and serves it until the peer closes it or the writer is
    // unplugged (a Gone fault). False with `error` set when accepting or receiving fails.
    bool ServeConnection(const RequestObserver& observer, std::string& error);

    // A writer that stops reading: each connection gets `requests` requests read and
    // answered, then none; it stays open and unread, so what the updater sends piles up
    // in the socket, until the updater hangs up. `stopped` is told when reading stops.
    void StopReadingAfter(std::uint32_t requests, std::function<void()> stopped);
    // A writer that never accepts: fills the listen queue with connections of its own,
    // so a connect finds no room and waits. Call after Listen; false with `error` set
    // when the queue does not fill.
    bool FillListenQueue(std::string& error);

    const std::string& Path() const { return m_path; }
    const std::string& Name() const { return m_name; }
    // The checked directory, open while the server listens: -1 before.
    int DirectoryDescriptor() const { return m_directoryHandle.Descriptor(); }
    // Requests that arrived longer than MAX_MESSAGE_SIZE; they are cut to that size.
    std::uint32_t OversizedRequests() const { return m_oversized; }

private:
    // Waits without reading until the peer of `connection` hangs up.
    bool WaitForHangUp(int connection, std::string& error);

    CSimWriter& m_writer;
    std::string m_directory;
    std::string m_name;
    std::string m_path;
    CPortDirectory m_directoryHandle;
    int m_listener = -1;
    std::uint32_t m_oversized = 0;
    std::optional<std::uint32_t> m_stopReadingAfter;
    std::function<void()> m_readingStopped;
    std::vector<int> m_queueFillers;
};
