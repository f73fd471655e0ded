#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include "usb/transport_posix.h"

namespace {

// A private XDG_RUNTIME_DIR with a writer-port directory in it.
class WriterPortFixture : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/writer-port-test-XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(pattern));
        m_root = pattern;
        const char* old = getenv("XDG_RUNTIME_DIR");
        m_oldRuntime = old != nullptr ? old : "";
        m_hadRuntime = old != nullptr;
        setenv("XDG_RUNTIME_DIR", m_root.c_str(), 1);
    }
    void TearDown() override {
        for (int fd : m_listeners) {
            close(fd);
        }
        if (m_hadRuntime) {
            setenv("XDG_RUNTIME_DIR", m_oldRuntime.c_str(), 1);
        } else {
            unsetenv("XDG_RUNTIME_DIR");
        }
        std::filesystem::remove_all(m_root);
    }

    std::filesystem::path PortDirectory() const { return m_root / "steno-writers"; }

    // Listens on a seqpacket socket named `name` in the port directory.
    int Listen(const std::string& name) {
        std::filesystem::create_directories(PortDirectory());
        const std::string path = (PortDirectory() / name).string();
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
        const int fd = socket(AF_UNIX, SOCK_SEQPACKET, 0);
        EXPECT_EQ(0, bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)));
        EXPECT_EQ(0, listen(fd, 1));
        m_listeners.push_back(fd);
        return fd;
    }

private:
    std::filesystem::path m_root;
    std::string m_oldRuntime;
    bool m_hadRuntime = false;
    std::vector<int> m_listeners;
};

TEST_F(WriterPortFixture, Directory_FollowsXdgRuntimeDir) {
    EXPECT_EQ(PortDirectory().string(), WriterPortDirectory());
}

TEST_F(WriterPortFixture, NoDirectoryOrNoEntry_OpenFailsWithAnError) {
    CWriterPortTransport transport;
    EXPECT_NE(0u, transport.Open());
    std::filesystem::create_directories(PortDirectory());
    EXPECT_NE(0u, transport.Open());
    EXPECT_EQ(0u, transport.Write(reinterpret_cast<const std::uint8_t*>("x"), 1));
}

TEST_F(WriterPortFixture, FirstSortedEntry_IsTheWriter_OnePacketPerMessage) {
    Listen("b-writer");
    const int first = Listen("a-writer");

    std::vector<std::uint8_t> request;
    std::thread peer([&] {
        const int connection = accept(first, nullptr, nullptr);
        std::uint8_t buffer[100];
        const ssize_t size = recv(connection, buffer, sizeof buffer, 0);
        request.assign(buffer, buffer + (size > 0 ? size : 0));
        const std::uint8_t reply[40] = {1, 2, 3};
        send(connection, reply, sizeof reply, 0);
        send(connection, reply, 7, 0);
        close(connection);
    });

    CWriterPortTransport transport;
    ASSERT_EQ(0u, transport.Open());
    EXPECT_EQ((PortDirectory() / "a-writer").string(), transport.Path());
    const std::uint8_t packet[36] = {0x43, 0x56};
    EXPECT_EQ(36u, transport.Write(packet, sizeof packet));
    std::uint8_t buffer[100] = {};
    EXPECT_EQ(40u, transport.Read(buffer, sizeof buffer));
    EXPECT_EQ(3, buffer[2]);
    EXPECT_EQ(7u, transport.Read(buffer, sizeof buffer));  // message boundaries are kept
    peer.join();
    EXPECT_EQ(std::vector<std::uint8_t>(packet, packet + 36), request);

    EXPECT_EQ(0u, transport.Read(buffer, sizeof buffer));  // the peer has gone
    transport.Control(1);
    EXPECT_EQ(1u, transport.ControlRequests());
    EXPECT_EQ(0u, transport.Close());
}

TEST_F(WriterPortFixture, SilentWriter_ReadEndsAtTheReplyTimeout) {
    const int listener = Listen("writer");
    CWriterPortTransport transport(20);
    ASSERT_EQ(0u, transport.Open());
    const int connection = accept(listener, nullptr, nullptr);
    std::uint8_t buffer[64];
    EXPECT_EQ(0u, transport.Read(buffer, sizeof buffer));
    close(connection);
}

}  // namespace
