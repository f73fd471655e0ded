#include "usb/transport_posix.h"

#include <dirent.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

std::string WriterPortDirectory() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && runtime[0] != '\0') {
        return std::string(runtime) + "/steno-writers";
    }
    return "/tmp/steno-writers-" + std::to_string(getuid());
}

namespace {

// The first entry of `directory` in byte-wise name order, or an errno value.
std::uint32_t FirstWriterEntry(const std::string& directory, std::string& name) {
    DIR* dir = opendir(directory.c_str());
    if (dir == nullptr) {
        return errno != 0 ? static_cast<std::uint32_t>(errno) : ENOENT;
    }
    bool found = false;
    while (const dirent* entry = readdir(dir)) {
        const std::string candidate = entry->d_name;
        if (candidate == "." || candidate == "..") {
            continue;
        }
        // std::string compares as unsigned bytes, which is the order the port promises.
        if (!found || candidate < name) {
            name = candidate;
            found = true;
        }
    }
    closedir(dir);
    return found ? 0 : ENOENT;
}

}  // namespace

CWriterPortTransport::CWriterPortTransport(std::uint32_t replyTimeoutMs) : m_replyTimeoutMs(replyTimeoutMs) {}

CWriterPortTransport::~CWriterPortTransport() {
    Close();
}

std::uint32_t CWriterPortTransport::Open() {
    if (m_socket >= 0) {
        return 0;
    }
    const std::string directory = WriterPortDirectory();
    std::string name;
    if (const std::uint32_t error = FirstWriterEntry(directory, name); error != 0) {
        return error;
    }
    m_path = directory + "/" + name;

    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (m_path.size() >= sizeof(address.sun_path)) {
        return ENAMETOOLONG;
    }
    std::memcpy(address.sun_path, m_path.c_str(), m_path.size() + 1);

    const int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return static_cast<std::uint32_t>(errno);
    }
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        const int error = errno;
        close(fd);
        return static_cast<std::uint32_t>(error);
    }
    m_socket = fd;
    return 0;
}

std::uint32_t CWriterPortTransport::Write(const std::uint8_t* data, std::uint32_t size) {
    if (m_socket < 0) {
        return 0;
    }
    const ssize_t sent = send(m_socket, data, size, MSG_NOSIGNAL);
    return sent > 0 ? static_cast<std::uint32_t>(sent) : 0;
}

std::uint32_t CWriterPortTransport::Read(std::uint8_t* buffer, std::uint32_t capacity) {
    if (m_socket < 0) {
        return 0;
    }
    pollfd waiting{m_socket, POLLIN, 0};
    int ready;
    do {
        ready = poll(&waiting, 1, static_cast<int>(m_replyTimeoutMs));
    } while (ready < 0 && errno == EINTR);
    if (ready <= 0) {
        return 0;  // no reply within the time-out
    }
    const ssize_t received = recv(m_socket, buffer, capacity, 0);
    return received > 0 ? static_cast<std::uint32_t>(received) : 0;
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
