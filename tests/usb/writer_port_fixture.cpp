#include "tests/usb/writer_port_fixture.h"

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

sockaddr_un AddressOf(const std::filesystem::path& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
    return address;
}

int BoundSocket(const std::filesystem::path& path) {
    const sockaddr_un address = AddressOf(path);
    const int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(0, bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)))
        << std::strerror(errno);
    return fd;
}

}  // namespace

void WriterPortFixture::SetUp() {
    char pattern[] = "/tmp/writer-port-test-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(pattern));
    m_root = pattern;
    if (const char* previous = std::getenv("XDG_RUNTIME_DIR")) {
        m_previousRuntime = previous;
    }
    setenv("XDG_RUNTIME_DIR", m_root.c_str(), 1);
}

void WriterPortFixture::TearDown() {
    if (m_child > 0) {
        kill(m_child, SIGKILL);
        waitpid(m_child, nullptr, 0);
    }
    for (const int fd : m_others) {
        close(fd);
    }
    for (const int fd : m_listeners) {
        close(fd);
    }
    if (m_previousRuntime) {
        setenv("XDG_RUNTIME_DIR", m_previousRuntime->c_str(), 1);
    } else {
        unsetenv("XDG_RUNTIME_DIR");
    }
    std::error_code ignored;
    std::filesystem::remove_all(m_root, ignored);
}

void WriterPortFixture::MakePortDirectory() {
    if (mkdir(PortDirectory().c_str(), 0700) != 0) {
        ASSERT_EQ(errno, EEXIST);
    }
}

int WriterPortFixture::ListenAt(const std::filesystem::path& path, int backlog) {
    const int fd = BoundSocket(path);
    EXPECT_EQ(0, listen(fd, backlog));
    m_listeners.push_back(fd);
    return fd;
}

int WriterPortFixture::Listen(const std::string& name, int backlog) {
    MakePortDirectory();
    return ListenAt(PortDirectory() / name, backlog);
}

bool WriterPortFixture::FillListenQueue(const std::filesystem::path& path) {
    const sockaddr_un address = AddressOf(path);
    for (int i = 0; i < 64; ++i) {
        const int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
            const bool full = errno == EAGAIN;
            close(fd);
            return full;
        }
        m_others.push_back(fd);
    }
    return false;
}

bool WriterPortFixture::ListenAsNobody(const std::filesystem::path& path) {
    const int fd = BoundSocket(path);
    m_listeners.push_back(fd);
    int ready[2];
    if (pipe2(ready, O_CLOEXEC) != 0) {
        return false;
    }
    const pid_t child = fork();
    if (child == 0) {
        // The peer's credentials are the listener's at listen(), so only that happens
        // after the switch.
        char answer = 'n';
        if (setgroups(0, nullptr) == 0 && setgid(NOBODY) == 0 && setuid(NOBODY) == 0 && listen(fd, 1) == 0) {
            answer = 'y';
        }
        (void)!write(ready[1], &answer, 1);
        while (answer == 'y') {
            pause();  // until the fixture ends it
        }
        _exit(0);
    }
    close(ready[1]);
    char answer = 'n';
    if (child > 0) {
        m_child = child;
        if (read(ready[0], &answer, 1) != 1) {
            answer = 'n';
        }
    }
    close(ready[0]);
    return answer == 'y';
}

bool WriterPortFixture::NothingArrived(int listener) {
    // Only what is already there counts: the accept must not wait for more.
    const int flags = fcntl(listener, F_GETFL);
    EXPECT_EQ(0, fcntl(listener, F_SETFL, flags | O_NONBLOCK));
    for (;;) {
        const int connection = accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (connection < 0) {
            return true;  // no connection is left waiting
        }
        char byte;
        const ssize_t received = recv(connection, &byte, 1, MSG_DONTWAIT);
        close(connection);
        if (received > 0) {
            return false;
        }
    }
}
