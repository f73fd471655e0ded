#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "images/byte_buffer.h"
#include "tests/usb/scripted_transport.h"
#include "usb/recording_clock.h"
#include "usb/tessel_usb.h"

namespace {

class CRecordingNotice final : public IUserNotice {
public:
    void ShowNotice(const char* text) override { texts.emplace_back(text); }
    std::vector<std::string> texts;
};

struct CommandFixture : ::testing::Test {
    CScriptedTransport transport;
    CRecordingClock clock;
    CRecordingNotice notice;
    CTesselUsb link{transport, clock, &notice, SystemAllocator()};

    void SetUp() override { ASSERT_EQ(0u, link.Open()); }
    SUsbHeader LastRequest() const { return ReadUsbHeader(transport.writes.back().data()); }
    void Reply(std::vector<std::uint8_t> packet) { transport.replies.push_back(std::move(packet)); }
    static std::vector<std::uint8_t> Bytes(std::size_t n, std::uint8_t first) {
        std::vector<std::uint8_t> bytes(n);
        for (std::size_t i = 0; i < n; ++i) {
            bytes[i] = static_cast<std::uint8_t>(first + i);
        }
        return bytes;
    }
};

// Erase

struct SEraseCase {
    const char* name;
    std::uint32_t length, sent;
};

void PrintTo(const SEraseCase& c, std::ostream* out) {
    *out << c.name;
}

class EraseRounding : public CommandFixture, public ::testing::WithParamInterface<SEraseCase> {};

TEST_P(EraseRounding, SendsLengthInWholeEraseUnits) {
    Reply(CScriptedTransport::Packet(CMD_ERASE));
    EXPECT_TRUE(link.Erase(0x80000, GetParam().length));
    const SUsbHeader request = LastRequest();
    EXPECT_EQ(CMD_ERASE, request.command);
    EXPECT_EQ(0u, request.length);
    EXPECT_EQ(0x80000u, request.parameter[0]);
    EXPECT_EQ(GetParam().sent, request.parameter[1]);
    EXPECT_EQ(0u, request.parameter[2]);
}

INSTANTIATE_TEST_SUITE_P(Table, EraseRounding,
                         ::testing::Values(SEraseCase{"ZeroLengthStaysZero", 0, 0},
                                           SEraseCase{"OneByteIsOneUnit", 1, 0x20000},
                                           SEraseCase{"ExactlyOneUnit", 0x20000, 0x20000},
                                           SEraseCase{"OneByteOverOneUnitIsTwo", 0x20001, 0x40000}),
                         [](const ::testing::TestParamInfo<SEraseCase>& param) { return param.param.name; });

TEST_F(CommandFixture, EraseRefused_StoresParameterTwoThroughThePointer) {
    Reply(CScriptedTransport::Packet(CMD_ERROR, 7, 8, 9));
    std::uint32_t error = 0;
    EXPECT_FALSE(link.Erase(0, 1, &error));
    EXPECT_EQ(9u, error);

    Reply(CScriptedTransport::Packet(CMD_ERROR, 7, 8, 9));
    EXPECT_FALSE(link.Erase(0, 1));  // no pointer: nothing stored, nothing breaks
}

TEST_F(CommandFixture, EraseWithoutReplyOrWithAnotherCode_FailsAndStoresNothing) {
    for (const auto& reply :
         {std::vector<std::uint8_t>{}, CScriptedTransport::Packet(CMD_READ_MEMORY, 1, 2, 3)}) {
        Reply(reply);
        std::uint32_t error = 55;
        EXPECT_FALSE(link.Erase(0x40000, 0x40000, &error));
        EXPECT_EQ(55u, error);
    }
}

// ShowText

struct SShowTextCase {
    const char* name;
    std::uint32_t characters, length;
};

void PrintTo(const SShowTextCase& c, std::ostream* out) {
    *out << c.name;
}

class ShowTextLength : public CommandFixture, public ::testing::WithParamInterface<SShowTextCase> {};

TEST_P(ShowTextLength, SendsTextAndZeroInUnitsOf32) {
    const std::string text(GetParam().characters, 'x');
    Reply(CScriptedTransport::Packet(CMD_SHOW_TEXT));
    EXPECT_EQ(USB_HEADER_SIZE, link.ShowText(text.c_str()));

    const SUsbHeader request = LastRequest();
    EXPECT_EQ(CMD_SHOW_TEXT, request.command);
    EXPECT_EQ(GetParam().length, request.length);
    EXPECT_EQ(GetParam().characters, request.parameter[0]);
    const std::vector<std::uint8_t>& packet = transport.writes.back();
    ASSERT_EQ(USB_HEADER_SIZE + GetParam().length, packet.size());
    EXPECT_EQ(text, std::string(packet.begin() + USB_HEADER_SIZE,
                                packet.begin() + USB_HEADER_SIZE + GetParam().characters));
    EXPECT_EQ(0u, packet[USB_HEADER_SIZE + GetParam().characters]);
}

INSTANTIATE_TEST_SUITE_P(Table, ShowTextLength,
                         ::testing::Values(SShowTextCase{"EmptyTextInOneUnit", 0, 32},
                                           SShowTextCase{"ThirtyOneCharactersInOneUnit", 31, 32},
                                           SShowTextCase{"ThirtyTwoCharactersInTwoUnits", 32, 64},
                                           SShowTextCase{"LongestTextFillsThePayload", 65535, 65536}),
                         [](const ::testing::TestParamInfo<SShowTextCase>& param) {
                             return param.param.name;
                         });

TEST_F(CommandFixture, ShowTextNull_SendsNoPayloadUnlikeAnEmptyText) {
    Reply(CScriptedTransport::Packet(CMD_SHOW_TEXT));
    link.ShowText(nullptr);
    EXPECT_EQ(0u, LastRequest().length);
    EXPECT_EQ(0u, LastRequest().parameter[0]);
    EXPECT_EQ(USB_HEADER_SIZE, transport.writes.back().size());

    Reply(CScriptedTransport::Packet(CMD_SHOW_TEXT));
    link.ShowText("");
    EXPECT_EQ(32u, LastRequest().length);
    EXPECT_EQ(0u, transport.writes.back()[USB_HEADER_SIZE]);
}

TEST_F(CommandFixture, ShowTextOverlong_IsCutToOnePayload) {
    const std::string text(70000, 'y');
    Reply(CScriptedTransport::Packet(CMD_SHOW_TEXT));
    link.ShowText(text.c_str());
    EXPECT_EQ(65535u, LastRequest().parameter[0]);
    EXPECT_EQ(MAX_PAYLOAD_SIZE, LastRequest().length);
    EXPECT_EQ(PACKET_BUFFER_SIZE, transport.writes.back().size());
}

TEST_F(CommandFixture, ShowTextReturnsTheReadWithoutJudgingIt) {
    Reply(CScriptedTransport::Packet(CMD_ERROR, 1, 0, 0, 0, 0, Bytes(8, 0)));
    EXPECT_EQ(USB_HEADER_SIZE + 8, link.ShowText("a"));
    EXPECT_EQ(0u, link.ShowText("b"));  // no reply
}

// ReadMemory

struct SReadCase {
    const char* name;
    std::uint16_t command;
    std::uint32_t replyAddress, replyLength;
    bool result;
    std::uint32_t copied;
};

void PrintTo(const SReadCase& c, std::ostream* out) {
    *out << c.name;
}

class ReadMemoryReply : public CommandFixture, public ::testing::WithParamInterface<SReadCase> {};

TEST_P(ReadMemoryReply, CopiesBeforeItJudges) {
    const SReadCase& c = GetParam();
    constexpr std::uint32_t ADDRESS = 0x80000, LENGTH = 0x100;
    Reply(CScriptedTransport::Packet(c.command, c.replyAddress, 0, 0, 0, 0, Bytes(c.replyLength, 1)));
    std::vector<std::uint8_t> destination(LENGTH + 64, 0xEE);

    EXPECT_EQ(c.result, link.ReadMemory(ADDRESS, LENGTH, destination.data(), MEMORY_SELECTOR_READ_BACK));
    for (std::uint32_t i = 0; i < destination.size(); ++i) {
        ASSERT_EQ(i < c.copied ? static_cast<std::uint8_t>(1 + i) : 0xEE, destination[i]) << "byte " << i;
    }
    const SUsbHeader request = LastRequest();
    EXPECT_EQ(CMD_READ_MEMORY, request.command);
    EXPECT_EQ(0u, request.length);
    EXPECT_EQ(ADDRESS, request.parameter[0]);
    EXPECT_EQ(LENGTH, request.parameter[1]);
    EXPECT_EQ(MEMORY_SELECTOR_READ_BACK, request.parameter[4]);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ReadMemoryReply,
    ::testing::Values(SReadCase{"Exact", CMD_READ_MEMORY, 0x80000, 0x100, true, 0x100},
                      SReadCase{"Shorter", CMD_READ_MEMORY, 0x80000, 0x80, false, 0x80},
                      SReadCase{"OtherAddress", CMD_READ_MEMORY, 0x80100, 0x100, false, 0x100},
                      SReadCase{"Longer", CMD_READ_MEMORY, 0x80000, 0x140, false, 0x100},
                      SReadCase{"OtherCommand", CMD_ERROR, 0x80000, 0x100, false, 0}),
    [](const ::testing::TestParamInfo<SReadCase>& param) { return std::string(param.param.name); });

TEST_F(CommandFixture, ReadMemoryWithoutReply_FailsAndLeavesDestination) {
    std::vector<std::uint8_t> destination(16, 0xEE);
    EXPECT_FALSE(link.ReadMemory(0, 16, destination.data(), 4));
    EXPECT_EQ(std::vector<std::uint8_t>(16, 0xEE), destination);
}

TEST_F(CommandFixture, ReadMemoryLongerThanOnePayload_CopiesNoMoreThanArrived) {
    Reply(CScriptedTransport::Packet(CMD_READ_MEMORY, 0, 0, 0, 0, 0, Bytes(MAX_PAYLOAD_SIZE, 3)));
    std::vector<std::uint8_t> destination(0x20000, 0xEE);
    EXPECT_FALSE(link.ReadMemory(0, 0x20000, destination.data(), 4));
    EXPECT_EQ(static_cast<std::uint8_t>(3 + MAX_PAYLOAD_SIZE - 1), destination[MAX_PAYLOAD_SIZE - 1]);
    EXPECT_EQ(0xEE, destination[MAX_PAYLOAD_SIZE]);
}

// GetInfo

TEST_F(CommandFixture, GetInfoWithLongerBlock_CopiesTheMaximumAndReturnsTheBlockLength) {
    Reply(CScriptedTransport::Packet(CMD_INFO_BLOCK, 0, 0, 0, 0, 0, Bytes(64, 1)));
    std::vector<std::uint8_t> area(64, 0);
    EXPECT_EQ(64u, link.GetInfo(INFO_BOOT_GEOMETRY, area.data(), 44));
    EXPECT_EQ(Bytes(44, 1), std::vector<std::uint8_t>(area.begin(), area.begin() + 44));
    EXPECT_EQ(std::vector<std::uint8_t>(20, 0), std::vector<std::uint8_t>(area.begin() + 44, area.end()));
    EXPECT_EQ(CMD_INFO_BLOCK, LastRequest().command);
    EXPECT_EQ(INFO_BOOT_GEOMETRY, LastRequest().parameter[0]);
    EXPECT_EQ(0u, LastRequest().length);
}

TEST_F(CommandFixture, GetInfoWithShorterBlock_LeavesTheRestAsItWas) {
    Reply(CScriptedTransport::Packet(CMD_INFO_BLOCK, 0, 0, 0, 0, 0, Bytes(20, 1)));
    std::vector<std::uint8_t> area(44, 0);
    EXPECT_EQ(20u, link.GetInfo(4, area.data(), 44));
    EXPECT_EQ(Bytes(20, 1), std::vector<std::uint8_t>(area.begin(), area.begin() + 20));
    EXPECT_EQ(std::vector<std::uint8_t>(24, 0), std::vector<std::uint8_t>(area.begin() + 20, area.end()));
}

TEST_F(CommandFixture, GetInfoFailure_ReturnsZeroAndCopiesNothing) {
    for (const auto& reply :
         {std::vector<std::uint8_t>{}, CScriptedTransport::Packet(CMD_ERROR, 0, 0, 0, 0, 0, Bytes(44, 1))}) {
        Reply(reply);
        std::vector<std::uint8_t> area(44, 0);
        EXPECT_EQ(0u, link.GetInfo(4, area.data(), 44));
        EXPECT_EQ(std::vector<std::uint8_t>(44, 0), area);
    }
}

TEST_F(CommandFixture, GetInfoWithMaximumBeyondOnePayload_CopiesNoMoreThanArrived) {
    Reply(CScriptedTransport::Packet(CMD_INFO_BLOCK, 0, 0, 0, 0, 0, Bytes(MAX_PAYLOAD_SIZE, 1)));
    std::vector<std::uint8_t> area(0x20000, 0xEE);
    EXPECT_EQ(MAX_PAYLOAD_SIZE, link.GetInfo(4, area.data(), 0x20000));
    EXPECT_EQ(0xEE, area[MAX_PAYLOAD_SIZE]);
}

// Restart

struct SRestartCase {
    const char* name;
    bool replied;
    std::uint16_t command;
    std::uint32_t p0, p1;
    bool result;
    const char* shown;  // null: nothing shown
};

void PrintTo(const SRestartCase& c, std::ostream* out) {
    *out << c.name;
}

class RestartReply : public CommandFixture, public ::testing::WithParamInterface<SRestartCase> {};

TEST_P(RestartReply, AcknowledgesOrTellsTheUserWhy) {
    const SRestartCase& c = GetParam();
    if (c.replied) {
        Reply(CScriptedTransport::Packet(c.command, c.p0, c.p1));
    }
    EXPECT_EQ(c.result, link.Restart(0));
    EXPECT_EQ(c.shown ? std::vector<std::string>{c.shown} : std::vector<std::string>{}, notice.texts);
    EXPECT_EQ(CMD_RESTART, LastRequest().command);
    EXPECT_EQ(0u, LastRequest().length);
}

INSTANTIATE_TEST_SUITE_P(
    Table, RestartReply,
    ::testing::Values(
        SRestartCase{"Acknowledged", true, CMD_RESTART, 0, 0, true, nullptr},
        SRestartCase{"FileOpen", true, CMD_ERROR, 3, 1, false, "Cannot Program, File open"},
        SRestartCase{"RealTime", true, CMD_ERROR, 3, 2, false, "Cannot Program, Real-Time Active"},
        SRestartCase{"Both", true, CMD_ERROR, 3, 3, false, "Cannot Program, File open and Real-Time Active"},
        SRestartCase{"HighBitsIgnored", true, CMD_ERROR, 3, 5, false, "Cannot Program, File open"},
        SRestartCase{"OnlyHighBits", true, CMD_ERROR, 3, 4, false, nullptr},
        SRestartCase{"NoBits", true, CMD_ERROR, 3, 0, false, nullptr},
        SRestartCase{"OtherError", true, CMD_ERROR, 2, 1, false, nullptr},
        SRestartCase{"OtherCommand", true, CMD_CHUNK_ACCEPTED, 3, 1, false, nullptr},
        SRestartCase{"NoReply", false, 0, 0, 0, false, nullptr}),
    [](const ::testing::TestParamInfo<SRestartCase>& param) { return std::string(param.param.name); });

TEST_F(CommandFixture, RestartSendsItsParameter) {
    Reply(CScriptedTransport::Packet(CMD_RESTART));
    link.Restart(0x1234);
    EXPECT_EQ(0x1234u, LastRequest().parameter[0]);
}

TEST(RestartWithoutNotice, RefusalShowsNothingAndFails) {
    CScriptedTransport transport;
    CRecordingClock clock;
    CTesselUsb link(transport, clock, nullptr, SystemAllocator());
    link.Open();
    transport.replies.push_back(CScriptedTransport::Packet(CMD_ERROR, 3, 1));
    EXPECT_FALSE(link.Restart(0));
}

}  // namespace
