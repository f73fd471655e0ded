#include "sim/writer_port_server_posix.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

namespace {

std::string ErrorText(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

// Enough to fill any listen queue this server asks for.
constexpr int MAX_QUEUE_FILLERS = 64;

// Closes a descriptor when it goes out of scope.
class CDescriptor {
public:
    explicit CDescriptor(int fd) : m_fd(fd) {}
    ~CDescriptor() {
        if (m_fd >= 0) {
            close(m_fd);
        }
    }
    CDescriptor(const CDescriptor&) = delete;
    CDescriptor& operator=(const CDescriptor&) = delete;
    int Get() const { return m_fd; }

private:
    int m_fd;
};

}  // namespace

CWriterPortServer::CWriterPortServer(CSimWriter& writer, std::string directory, std::string name)
    : m_writer(writer),
      m_directory(std::move(directory)),
      m_name(std::move(name)),
      m_path(m_directory + "/" + m_name) {}

CWriterPortServer::~CWriterPortServer() {
    for (const int filler : m_queueFillers) {
        close(filler);
    }
    if (m_listener >= 0) {
        close(m_listener);
        // Through the checked directory, and only while the entry is still a socket.
        if (m_directoryHandle.CheckOwnSocket(m_name).Passed()) {
            unlinkat(m_directoryHandle.Descriptor(), m_name.c_str(), 0);
        }
    }
}

bool CWriterPortServer::Listen(std::string& error) {
    const auto refused = [&](const SPortCheck& check) {
        error = "writer port " + m_directory +
                ": refused: " + (check.reason.empty() ? std::strerror(check.error) : check.reason);
        return false;
    };
    // Only the directory itself is made: its parent ($XDG_RUNTIME_DIR or /tmp) is not
    // ours to create or change.
    if (mkdir(m_directory.c_str(), 0700) != 0 && errno != EEXIST) {
        error = ErrorText("cannot create " + m_directory);
        return false;
    }
    if (const SPortCheck check = m_directoryHandle.Open(m_directory); !check.Passed()) {
        return refused(check);
    }
    // A writer-sim that was killed leaves its socket behind; anything else of that
    // name is not ours to remove.
    if (const SPortCheck entry = m_directoryHandle.CheckOwnSocket(m_name); entry.Passed()) {
        unlinkat(m_directoryHandle.Descriptor(), m_name.c_str(), 0);
    } else if (entry.error != ENOENT) {
        return refused(SPortCheck{entry.error, entry.reason + ", so it is left alone"});
    }

    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (m_path.size() >= sizeof(address.sun_path)) {
        error = "socket path too long: " + m_path;
        return false;
    }
    std::memcpy(address.sun_path, m_path.c_str(), m_path.size() + 1);
    const int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = ErrorText("socket");
        return false;
    }
    // The path is safe to bind by: the directory it names is private.
    if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0 || listen(fd, 1) != 0) {
        error = ErrorText("cannot listen on " + m_path);
        close(fd);
        return false;
    }
    m_listener = fd;
    return true;
}

void CWriterPortServer::StopReadingAfter(std::uint32_t requests, std::function<void()> stopped) {
    m_stopReadingAfter = requests;
    m_readingStopped = std::move(stopped);
}

bool CWriterPortServer::FillListenQueue(std::string& error) {
    if (m_listener < 0) {
        error = "not listening";
        return false;
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, m_path.c_str(), m_path.size() + 1);
    for (int i = 0; i < MAX_QUEUE_FILLERS; ++i) {
        const int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (fd < 0) {
            error = ErrorText("socket");
            return false;
        }
        if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0) {
            m_queueFillers.push_back(fd);
            continue;
        }
        const int connectError = errno;
        close(fd);
        if (connectError == EAGAIN) {
            return true;  // a non-blocking connect to a full queue fails at once
        }
        errno = connectError;
        error = ErrorText("cannot fill the listen queue of " + m_path);
        return false;
    }
    error = "the listen queue of " + m_path + " did not fill";
    return false;
}

bool CWriterPortServer::WaitForHangUp(int connection, std::string& error) {
    for (;;) {
        // No events asked for: poll still reports the hang-up, and nothing is read.
        pollfd waiting{connection, 0, 0};
        if (poll(&waiting, 1, -1) > 0) {
            return true;
        }
        if (errno != EINTR) {
            error = ErrorText("poll");
            return false;
        }
    }
}

bool CWriterPortServer::ServeConnection(const RequestObserver& observer, std::string& error) {
    int accepted;
    do {
        accepted = accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
    } while (accepted < 0 && errno == EINTR);
    if (accepted < 0) {
        error = ErrorText("accept");
        return false;
    }
    const CDescriptor connection(accepted);

    std::vector<std::uint8_t> message(MAX_MESSAGE_SIZE);
    for (std::uint32_t served = 0;; ++served) {
        if (m_stopReadingAfter && served == *m_stopReadingAfter) {
            if (m_readingStopped) {
                m_readingStopped();
            }
            return WaitForHangUp(connection.Get(), error);
        }
        ssize_t received;
        do {
            received = recv(connection.Get(), message.data(), message.size(), MSG_TRUNC);
        } while (received < 0 && errno == EINTR);
        if (received < 0) {
            error = ErrorText("receive");
            return false;
        }
        if (received == 0) {
            return true;  // the updater closed the link
        }
        std::uint32_t size = static_cast<std::uint32_t>(received);
        if (size > MAX_MESSAGE_SIZE) {
            ++m_oversized;  // MSG_TRUNC reports the real length; only the buffer was kept
            size = MAX_MESSAGE_SIZE;
        }
        // The sender's write already succeeded, so a write the core refuses is simply
        // a request that gets no answer.
        m_writer.Write(message.data(), size);
        while (std::optional<std::vector<std::uint8_t>> reply = m_writer.Read()) {
            if (send(connection.Get(), reply->data(), reply->size(), MSG_NOSIGNAL) < 0) {
                error = ErrorText("send");
                return false;
            }
        }
        if (observer) {
            observer();
        }
        if (m_writer.IsGone()) {
            return true;  // unplugged: the connection drops
        }
    }
}
