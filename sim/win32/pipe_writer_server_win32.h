#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>

#include "sim/sim_writer.h"

// Serves a simulated writer where the Windows program looks for one: it makes the
// device path of a registered writer interface name a message-mode named pipe (an NT
// symbolic link in \??), and answers each request message with at most one reply
// message, written in one piece. The link lives as long as this object.
class CPipeWriterServer {
public:
    static constexpr std::uint32_t MAX_MESSAGE_SIZE = 65568;

    CPipeWriterServer(CSimWriter& writer, std::string devicePath, std::string pipeName);
    ~CPipeWriterServer();

    CPipeWriterServer(const CPipeWriterServer&) = delete;
    CPipeWriterServer& operator=(const CPipeWriterServer&) = delete;

    // Creates the link and the pipe. False with `error` set when it cannot.
    bool Listen(std::string& error);
    // Waits for the program to open the writer. False with `error` set when the pipe fails.
    bool AwaitConnection(std::string& error);
    // Serves the connection made until the program closes the handle or the writer is
    // unplugged. False with `error` set when the pipe fails.
    bool ServeConnection(std::string& error);

    // Holds back every reply this long, as a writer busy with its flash would: the
    // program's wait for a reply then lasts about as long as on a slow device.
    void SetReplyDelay(std::uint32_t milliseconds) { m_replyDelayMs = milliseconds; }

    // Takes `requests` requests (over all connections), answers them, and then reads no
    // more, as a writer whose firmware stops taking data: the program's next write
    // finds no room and blocks. `stopped` is called once, when that happens.
    void SetStopReading(std::uint32_t requests, std::function<void()> stopped) {
        m_stopReadingAfter = requests;
        m_stopped = std::move(stopped);
    }

    // Requests longer than MAX_MESSAGE_SIZE; only their first bytes reached the writer.
    std::uint32_t OversizedRequests() const { return m_oversized; }

private:
    // Returns once the program has closed its handle, without reading anything.
    void WaitUntilClosed();

    CSimWriter& m_writer;
    std::string m_devicePath;
    std::string m_pipeName;
    void* m_link = nullptr;  // HANDLE of the symbolic link
    void* m_pipe = nullptr;  // HANDLE of the pipe, or null
    std::uint32_t m_oversized = 0;
    std::uint32_t m_replyDelayMs = 0;
    std::uint32_t m_requestsTaken = 0;
    std::uint32_t m_stopReadingAfter = UINT32_MAX;
    std::function<void()> m_stopped;
};
