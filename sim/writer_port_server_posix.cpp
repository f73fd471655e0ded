#include "sim/writer_port_server_posix.h"

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

// mkdir -p with mode 0700 for the parts it creates.
bool MakeDirectories(const std::string& directory, std::string& error) {
    for (std::size_t slash = directory.find('/', 1);; slash = directory.find('/', slash + 1)) {
        const std::string part = directory.substr(0, slash);
        if (!part.empty() && mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
            error = ErrorText("cannot create " + part);
            return false;
        }
        if (slash == std::string::npos) {
            break;
        }
    }
    struct stat info {};
    if (stat(directory.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        error = directory + " is not a directory";
        return false;
    }
    return true;
}

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
    : m_writer(writer), m_directory(std::move(directory)), m_path(m_directory + "/" + name) {}

CWriterPortServer::~CWriterPortServer() {
    if (m_listener >= 0) {
        close(m_listener);
        unlink(m_path.c_str());
    }
}

bool CWriterPortServer::Listen(std::string& error) {
    if (!MakeDirectories(m_directory, error)) {
        return false;
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
    unlink(m_path.c_str());  // a writer-sim that was killed leaves its entry behind
    if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0 || listen(fd, 1) != 0) {
        error = ErrorText("cannot listen on " + m_path);
        close(fd);
        return false;
    }
    m_listener = fd;
    return true;
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
    for (;;) {
        const ssize_t received = recv(connection.Get(), message.data(), message.size(), MSG_TRUNC);
        if (received < 0 && errno == EINTR) {
            continue;
        }
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
