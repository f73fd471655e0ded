#include "usb/transport_posix.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ostream>
#include <string>

namespace {

// The end of one bounded wait; a signal that interrupts the wait does not extend it.
class CDeadline {
public:
    explicit CDeadline(std::uint32_t ms)
        : m_end(std::chrono::steady_clock::now() + std::chrono::milliseconds(ms)) {}

    std::uint32_t RemainingMs() const {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(m_end - std::chrono::steady_clock::now());
        return left.count() > 0 ? static_cast<std::uint32_t>(std::min<std::int64_t>(left.count(), INT32_MAX))
                                : 0;
    }

private:
    std::chrono::steady_clock::time_point m_end;
};

// Waits until `fd` reports one of `events`, a hang-up or an error. False when the
// deadline passed first.
bool WaitFor(int fd, short events, const CDeadline& deadline) {
    for (;;) {
        pollfd waiting{fd, events, 0};
        const int ready = poll(&waiting, 1, static_cast<int>(deadline.RemainingMs()));
        if (ready > 0) {
            return true;
        }
        if (ready == 0 || errno != EINTR) {
            return false;
        }
    }
}

}  // namespace

CWriterPortTransport::CWriterPortTransport(std::uint32_t timeoutMs, std::ostream* refusals)
    : m_timeoutMs(timeoutMs), m_refusals(refusals) {}

CWriterPortTransport::~CWriterPortTransport() {
    Close();
}

std::uint32_t CWriterPortTransport::Refuse(const std::string& directory, const SPortCheck& check) {
    if (!check.reason.empty()) {
        m_lastRefusal = "writer port " + directory + ": refused: " + check.reason;
        if (m_refusals != nullptr) {
            *m_refusals << m_lastRefusal << std::endl;
        }
    }
    return static_cast<std::uint32_t>(check.error);
}

std::uint32_t CWriterPortTransport::Open() {
    if (m_socket >= 0) {
        return 0;
    }
    m_lastRefusal.clear();
    const std::string directory = WriterPortDirectory();
    CPortDirectory port;
    if (const SPortCheck check = port.Open(directory); !check.Passed()) {
        return Refuse(directory, check);
    }
    std::string name;
    if (const SPortCheck check = port.FirstEntry(name); !check.Passed()) {
        return Refuse(directory, check);
    }
    m_path = directory + "/" + name;
    if (const SPortCheck check = port.CheckOwnSocket(name); !check.Passed()) {
        return Refuse(directory, check);
    }

    const int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return static_cast<std::uint32_t>(errno);
    }
    // The directory is private by now, so the path leads where the checks looked; the
    // peer's credentials cover what could still have changed.
    if (const int error = Connect(fd); error != 0) {
        close(fd);
        return static_cast<std::uint32_t>(error);
    }
    if (const SPortCheck check = CheckPeerIsOwnUser(fd); !check.Passed()) {
        close(fd);
        return Refuse(directory, check);
    }
    m_socket = fd;
    return 0;
}

// A Unix-domain connect does not go on in the background: with the listener's queue
// full it waits in the kernel, or fails at once with EAGAIN when non-blocking, so poll
// cannot bound it. The kernel bounds that wait by the socket's send time-out.
int CWriterPortTransport::Connect(int fd) const {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (m_path.size() >= sizeof(address.sun_path)) {
        return ENAMETOOLONG;
    }
    std::memcpy(address.sun_path, m_path.c_str(), m_path.size() + 1);

    const CDeadline deadline(m_timeoutMs);
    for (bool first = true;; first = false) {
        const std::uint32_t remaining = deadline.RemainingMs();
        if (remaining == 0 && !first) {
            return ETIMEDOUT;
        }
        // A zero time-out would mean no bound at all.
        const std::uint32_t bound = std::max<std::uint32_t>(remaining, 1);
        const timeval limit{static_cast<time_t>(bound / 1000), static_cast<suseconds_t>(bound % 1000 * 1000)};
        if (setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit) != 0) {
            return errno;
        }
        if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0) {
            return 0;
        }
        if (errno != EINTR) {
            return errno == EAGAIN ? ETIMEDOUT : errno;
        }
    }
}

std::uint32_t CWriterPortTransport::Write(const std::uint8_t* data, std::uint32_t size) {
    if (m_socket < 0) {
        return 0;
    }
    // A message goes whole or not at all, so a send that finds no room is tried again
    // once the peer has taken some, until the time-out.
    const CDeadline deadline(m_timeoutMs);
    for (;;) {
        const ssize_t sent = send(m_socket, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent >= 0) {
            return static_cast<std::uint32_t>(sent);
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            return 0;
        }
        if (!WaitFor(m_socket, POLLOUT, deadline)) {
            GiveUpOnPeer();
            return 0;
        }
    }
}

std::uint32_t CWriterPortTransport::Read(std::uint8_t* buffer, std::uint32_t capacity) {
    if (m_socket < 0) {
        return 0;
    }
    const CDeadline deadline(m_timeoutMs);
    for (;;) {
        if (!WaitFor(m_socket, POLLIN, deadline)) {
            GiveUpOnPeer();  // no reply within the time-out
            return 0;
        }
        const ssize_t received = recv(m_socket, buffer, capacity, MSG_DONTWAIT);
        if (received >= 0) {
            return static_cast<std::uint32_t>(received);
        }
        if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) {
            return 0;
        }
    }
}

void CWriterPortTransport::GiveUpOnPeer() {
    close(m_socket);
    m_socket = -1;
}

void CWriterPortTransport::Control(std::uint32_t) {
    ++m_controlRequests;
}

std::uint32_t CWriterPortTransport::Close() {
    if (m_socket < 0) {
        return 0;
    }
    const int result = close(m_socket);
    m_socket = -1;
    return result == 0 ? 0 : static_cast<std::uint32_t>(errno);
}
