#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tests/usb/writer_port_fixture.h"
#include "usb/transport_posix.h"

namespace {

// Long enough for any wait that must succeed, short enough for one that must not.
constexpr std::uint32_t SHORT_TIMEOUT_MS = 50;
// The largest packet the link sends: a header and a full payload.
constexpr std::uint32_t LARGEST_PACKET = 65568;

using TransportPosix = WriterPortFixture;

TEST_F(TransportPosix, Directory_FollowsXdgRuntimeDir) {
    EXPECT_EQ(PortDirectory().string(), WriterPortDirectory());
}

TEST_F(TransportPosix, NoDirectoryOrNoEntry_OpenFailsWithAnError_AndRefusesNothing) {
    CWriterPortTransport transport(SHORT_TIMEOUT_MS, nullptr);
    EXPECT_EQ(static_cast<std::uint32_t>(ENOENT), transport.Open());
    MakePortDirectory();
    EXPECT_EQ(static_cast<std::uint32_t>(ENOENT), transport.Open());
    EXPECT_EQ("", transport.LastRefusal());  // a missing writer is not a refusal
    EXPECT_EQ(0u, transport.Write(reinterpret_cast<const std::uint8_t*>("x"), 1));
}

TEST_F(TransportPosix, FirstSortedEntry_IsTheWriter_OnePacketPerMessage) {
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

TEST_F(TransportPosix, SilentWriter_ReadEndsAtTheTimeout_AndTheWriterIsTakenForGone) {
    const int listener = Listen("writer");
    CWriterPortTransport transport(SHORT_TIMEOUT_MS);
    ASSERT_EQ(0u, transport.Open());
    const int connection = accept(listener, nullptr, nullptr);
    std::uint8_t buffer[64];
    EXPECT_EQ(0u, transport.Read(buffer, sizeof buffer));

    // Nothing more goes either way: the peer sees the connection end, as when a writer
    // is unplugged, and the transport sends and reads nothing until it is opened again.
    EXPECT_EQ(0, recv(connection, buffer, sizeof buffer, MSG_DONTWAIT));
    const std::uint8_t packet[32] = {0x43, 0x56};
    EXPECT_EQ(0u, transport.Write(packet, sizeof packet));
    EXPECT_EQ(0u, transport.Read(buffer, sizeof buffer));
    EXPECT_EQ(0u, transport.Close());
    close(connection);
}

TEST_F(TransportPosix, ListenerThatNeverAccepts_ConnectEndsAtTheTimeout_TransportStaysClosed) {
    // With its queue full, a listener that never accepts keeps a connect waiting.
    Listen("writer", 0);
    ASSERT_TRUE(FillListenQueue(PortDirectory() / "writer"));
    CWriterPortTransport transport(SHORT_TIMEOUT_MS, nullptr);
    EXPECT_EQ(static_cast<std::uint32_t>(ETIMEDOUT), transport.Open());
    const std::uint8_t packet[32] = {0x43, 0x56};
    EXPECT_EQ(0u, transport.Write(packet, sizeof packet));
}

// Sends largest packets until one fails; the number that went.
std::uint32_t WriteUntilOneFails(CWriterPortTransport& transport, std::uint32_t limit) {
    const std::vector<std::uint8_t> packet(LARGEST_PACKET, 0x5A);
    for (std::uint32_t sent = 0; sent < limit; ++sent) {
        if (transport.Write(packet.data(), LARGEST_PACKET) == 0) {
            return sent;
        }
    }
    return limit;
}

TEST_F(TransportPosix, PeerThatNeverReads_AWriteEndsAsAFailedWrite_AndSendsNoPartOfIt) {
    const int listener = Listen("writer");
    CWriterPortTransport transport(SHORT_TIMEOUT_MS);
    ASSERT_EQ(0u, transport.Open());
    const int connection = accept(listener, nullptr, nullptr);
    ASSERT_GE(connection, 0);

    // The socket's buffer holds a few packets; one the peer has no room for fails.
    constexpr std::uint32_t LIMIT = 256;
    const std::uint32_t sent = WriteUntilOneFails(transport, LIMIT);
    EXPECT_LT(sent, LIMIT);
    EXPECT_GT(sent, 0u);

    // Whole packets only: exactly the ones that went, nothing of the failed one.
    std::vector<std::uint8_t> buffer(2 * LARGEST_PACKET);
    std::uint32_t arrived = 0;
    for (;;) {
        const ssize_t size = recv(connection, buffer.data(), buffer.size(), MSG_DONTWAIT);
        if (size <= 0) {
            break;
        }
        EXPECT_EQ(static_cast<ssize_t>(LARGEST_PACKET), size);
        ++arrived;
    }
    EXPECT_EQ(sent, arrived);
    // A peer that took nothing for the whole time-out is taken for gone: even with room
    // again, nothing more is sent, and the peer sees the connection end.
    EXPECT_EQ(0u, transport.Write(buffer.data(), LARGEST_PACKET));
    EXPECT_EQ(0, recv(connection, buffer.data(), buffer.size(), MSG_DONTWAIT));
    close(connection);
}

TEST_F(TransportPosix, PeerThatReadsLate_EveryWriteWaitsForRoom_AndGoes) {
    constexpr std::uint32_t PACKETS = 16;  // more than the socket's buffer holds
    const int listener = Listen("writer");
    CWriterPortTransport transport;
    ASSERT_EQ(0u, transport.Open());
    const int connection = accept(listener, nullptr, nullptr);
    std::uint32_t arrived = 0;
    std::thread peer([&] {
        // Late enough that the writes find the buffer full and must wait.
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        std::vector<std::uint8_t> buffer(LARGEST_PACKET);
        while (arrived < PACKETS && recv(connection, buffer.data(), buffer.size(), 0) > 0) {
            ++arrived;
        }
    });
    EXPECT_EQ(PACKETS, WriteUntilOneFails(transport, PACKETS));
    transport.Close();  // a peer still waiting for packets that never went stops here
    peer.join();
    EXPECT_EQ(PACKETS, arrived);
    close(connection);
}

}  // namespace
