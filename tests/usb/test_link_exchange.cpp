#include <gtest/gtest.h>

#include "images/byte_buffer.h"
#include "tests/usb/scripted_transport.h"
#include "usb/recording_clock.h"
#include "usb/tessel_usb.h"

namespace {

struct LinkFixture : ::testing::Test {
    CScriptedTransport transport;
    CRecordingClock clock;
    CTesselUsb link{transport, clock, nullptr, SystemAllocator()};

    void OpenLink() { ASSERT_EQ(0u, link.Open()); }
    static std::uint32_t SequenceOf(const std::vector<std::uint8_t>& packet) {
        return ReadLittleEndian32(packet.data() + HEADER_OFFSET_SEQUENCE);
    }
};

TEST_F(LinkFixture, OpenOnOpenLink_ReturnsZeroWithoutPlatformCall) {
    OpenLink();
    EXPECT_TRUE(link.IsOpen());
    EXPECT_EQ(0u, link.Open());
    EXPECT_EQ(1u, transport.opens);
}

TEST_F(LinkFixture, OpenFailure_ReturnsPlatformErrorAndStaysClosed) {
    transport.openError = 259;
    EXPECT_EQ(259u, link.Open());
    EXPECT_FALSE(link.IsOpen());
    // Commands on a closed link touch no device and report a missing reply.
    EXPECT_EQ(RESULT_INVALID_REPLY, link.Identify(nullptr, nullptr, nullptr, nullptr));
    EXPECT_TRUE(transport.writes.empty());
    EXPECT_EQ(0u, transport.reads);
}

TEST_F(LinkFixture, Close_PausesTwoSecondsOnlyWhenOpen) {
    EXPECT_EQ(0u, link.Close());
    EXPECT_TRUE(clock.pauses.empty());
    EXPECT_EQ(0u, transport.closes);

    OpenLink();
    EXPECT_EQ(0u, link.Close());
    EXPECT_EQ(std::vector<std::uint32_t>{2000}, clock.pauses);
    EXPECT_EQ(1u, transport.closes);
    EXPECT_FALSE(link.IsOpen());
}

TEST_F(LinkFixture, Destruction_ClosesAnOpenLinkWithItsPause) {
    CScriptedTransport other;
    CRecordingClock otherClock;
    {
        CTesselUsb scoped(other, otherClock, nullptr, SystemAllocator());
        scoped.Open();
    }
    EXPECT_EQ(1u, other.closes);
    EXPECT_EQ(std::vector<std::uint32_t>{2000}, otherClock.pauses);
}

TEST_F(LinkFixture, WriteFailingThreeTimes_TwoControlRequestsThenZero) {
    OpenLink();
    transport.writeResults = {0, 0, 0};
    EXPECT_EQ(0u, link.SendRequest());
    EXPECT_EQ(3u, transport.writes.size());
    EXPECT_EQ((std::vector<std::uint32_t>{CONTROL_RESET, CONTROL_RESET}), transport.controls);
}

TEST_F(LinkFixture, ShortWrite_IsNotRepeated) {
    OpenLink();
    transport.writeResults = {0, 5};
    EXPECT_EQ(5u, link.SendRequest());
    EXPECT_EQ(2u, transport.writes.size());
    EXPECT_EQ(std::vector<std::uint32_t>{CONTROL_RESET}, transport.controls);
}

TEST_F(LinkFixture, FailedWrite_CommandStillReadsAndTheReadDecides) {
    OpenLink();
    transport.writeResults = {0, 0, 0};
    transport.replies.push_back(CScriptedTransport::Packet(CMD_IDENTIFY, 16, 0x02060000, 0, 14186));
    EXPECT_EQ(RESULT_OK, link.Identify(nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(16u, link.GetMachineType());
}

TEST_F(LinkFixture, SequenceCounter_CountsNonEmptyReadsAcrossReconnection) {
    OpenLink();
    // A read of 1 to 31 bytes is no reply, yet it moves the counter; an empty read does not.
    transport.replies.push_back(std::vector<std::uint8_t>(31, 0));
    EXPECT_EQ(RESULT_INVALID_REPLY, link.Identify(nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(RESULT_INVALID_REPLY, link.Identify(nullptr, nullptr, nullptr, nullptr));  // nothing read
    transport.replies.push_back(CScriptedTransport::Packet(CMD_IDENTIFY, 16));
    EXPECT_EQ(RESULT_OK, link.Identify(nullptr, nullptr, nullptr, nullptr));
    link.Close();
    OpenLink();
    link.Identify(nullptr, nullptr, nullptr, nullptr);

    ASSERT_EQ(4u, transport.writes.size());
    EXPECT_EQ(0u, SequenceOf(transport.writes[0]));  // the first request of a link carries 0
    EXPECT_EQ(1u, SequenceOf(transport.writes[1]));
    EXPECT_EQ(1u, SequenceOf(transport.writes[2]));
    EXPECT_EQ(2u, SequenceOf(transport.writes[3]));  // numbering continues after a reopen
    EXPECT_EQ(PACKET_MAGIC, ReadLittleEndian16(transport.writes[3].data()));
}

TEST_F(LinkFixture, ReadReply_ReturnsDeclaredSizeOfAWholeReply) {
    OpenLink();
    transport.replies.push_back(
        CScriptedTransport::Packet(CMD_SHOW_TEXT, 0, 0, 0, 0, 0, std::vector<std::uint8_t>(10)));
    EXPECT_EQ(42u, link.ReadReply());
    // More bytes than declared: the declared size counts.
    auto longer = CScriptedTransport::Packet(CMD_SHOW_TEXT, 0, 0, 0, 0, 0, std::vector<std::uint8_t>(4));
    longer.resize(longer.size() + 100);
    transport.replies.push_back(longer);
    EXPECT_EQ(36u, link.ReadReply());
}

TEST_F(LinkFixture, ReadReply_DeclaringMorePayloadThanArrived_IsNoReply) {
    OpenLink();
    struct SCase {
        std::uint32_t declared;
        std::size_t arrivedPayload;
    };
    const SCase cases[] = {{11, 10}, {65536, 0}, {0xFFFFFFE0u, 8}, {0xFFFFFFFFu, 65536}};
    std::uint32_t sequence = link.GetSequence();
    for (const SCase& c : cases) {
        auto packet = CScriptedTransport::Packet(CMD_IDENTIFY, 16, 0, 0, 0, 0,
                                                 std::vector<std::uint8_t>(c.arrivedPayload));
        WriteLittleEndian32(packet.data() + HEADER_OFFSET_LENGTH, c.declared);
        transport.replies.push_back(packet);
        EXPECT_EQ(0u, link.ReadReply()) << c.declared;
        EXPECT_EQ(++sequence, link.GetSequence());
    }
}

TEST_F(LinkFixture, ReplyWithWrongMagicAndSequence_IsAccepted) {
    OpenLink();
    auto packet = CScriptedTransport::Packet(CMD_IDENTIFY, 17, 0x02060000, 0, 14186);
    WriteLittleEndian16(packet.data(), 0xBEEF);
    WriteLittleEndian32(packet.data() + HEADER_OFFSET_SEQUENCE, 0xDEADBEEF);
    transport.replies.push_back(packet);
    EXPECT_EQ(RESULT_OK, link.Identify(nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(17u, link.GetMachineType());
}

}  // namespace
