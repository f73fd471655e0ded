#include <gtest/gtest.h>

#include <ostream>

#include "images/byte_buffer.h"
#include "tests/usb/scripted_transport.h"
#include "usb/recording_clock.h"
#include "usb/tessel_usb.h"

namespace {

struct SIdentifyCase {
    const char* name;
    std::uint32_t reportedType, version, bootMode;
    std::uint32_t type, transferBlockSize, flag;
};

void PrintTo(const SIdentifyCase& c, std::ostream* out) {
    *out << c.name;
}

class IdentifyCorrections : public ::testing::TestWithParam<SIdentifyCase> {};

TEST_P(IdentifyCorrections, StoresCorrectedIdentity) {
    const SIdentifyCase& c = GetParam();
    CScriptedTransport transport;
    CRecordingClock clock;
    CTesselUsb link(transport, clock, nullptr, SystemAllocator());
    link.Open();
    transport.replies.push_back(
        CScriptedTransport::Packet(CMD_IDENTIFY, c.reportedType, c.version, c.bootMode, 777));

    std::uint32_t type = 99, version = 99, flag = 99, build = 12345;
    ASSERT_EQ(RESULT_OK, link.Identify(&type, &version, &flag, &build));
    EXPECT_EQ(c.type, type);
    EXPECT_EQ(c.type, link.GetMachineType());
    EXPECT_EQ(c.version, version);
    EXPECT_EQ(c.flag, flag);
    EXPECT_EQ(c.flag, link.GetBootMode());
    EXPECT_EQ(c.transferBlockSize, link.GetTransferBlockSize());
    // Only types 16 and above report a build; for the others the caller's value stays.
    EXPECT_EQ(c.type >= 16 ? 777u : 12345u, build);
    EXPECT_EQ(c.type >= 16 ? 777u : 0u, link.GetBuild());

    // The request: command 1, no parameters, no payload.
    ASSERT_EQ(1u, transport.writes.size());
    const SUsbHeader request = ReadUsbHeader(transport.writes[0].data());
    EXPECT_EQ(CMD_IDENTIFY, request.command);
    EXPECT_EQ(0u, request.length);
    for (std::uint32_t p : request.parameter) {
        EXPECT_EQ(0u, p);
    }
    EXPECT_EQ(USB_HEADER_SIZE, transport.writes[0].size());
}

INSTANTIATE_TEST_SUITE_P(
    Table, IdentifyCorrections,
    ::testing::Values(
        // Transfer block size by type.
        SIdentifyCase{"Type0Blocks64KiB", 0, 0x100, 0, 0, 65536, 0},
        SIdentifyCase{"Type2Blocks8KiB", 2, 0x100, 0, 2, 8192, 0},
        SIdentifyCase{"Type5Blocks64KiB", 5, 0x100, 0, 5, 65536, 0},
        SIdentifyCase{"Type6Blocks8KiB", 6, 0x100, 0, 6, 8192, 0},
        SIdentifyCase{"Type15Blocks8KiB", 15, 0x100, 0, 15, 8192, 0},
        SIdentifyCase{"Type16Blocks64KiB", 16, 0x02060000, 0, 16, 65536, 0},
        SIdentifyCase{"Type17InBootMode", 17, 0x02060000, 1, 17, 65536, 1},
        // Types above 18 are held as 18.
        SIdentifyCase{"Type18Kept", 18, 0, 0, 18, 65536, 0},
        SIdentifyCase{"Type25HeldAs18", 25, 0, 0, 18, 65536, 0},
        SIdentifyCase{"LargestTypeHeldAs18", 0xFFFFFFFF, 0, 0, 18, 65536, 0},
        // Type 1: boot mode with an application 1.xx is not boot mode.
        SIdentifyCase{"Type1BootFlagVersion0x100IsNotBootMode", 1, 0x100, 1, 1, 65536, 0},
        SIdentifyCase{"Type1BootFlagVersion0x180IsNotBootMode", 1, 0x180, 1, 1, 65536, 0},
        SIdentifyCase{"Type1BootFlagVersion0x1FFIsNotBootMode", 1, 0x1FF, 1, 1, 65536, 0},
        SIdentifyCase{"Type1BootFlagVersion0xFFIsBootMode", 1, 0xFF, 1, 1, 65536, 1},
        SIdentifyCase{"Type1BootFlagVersion0x200IsBootMode", 1, 0x200, 1, 1, 65536, 1},
        // Type 3 in boot mode: the version tells type 4 and 5 apart; the transfer block
        // size stays that of type 3.
        SIdentifyCase{"Type3BootModeVersion0x4FStaysType3", 3, 0x4F, 1, 3, 65536, 1},
        SIdentifyCase{"Type3BootModeVersion0x50AsType4", 3, 0x50, 1, 4, 65536, 1},
        SIdentifyCase{"Type3BootModeVersion0x52AsType4", 3, 0x52, 1, 4, 65536, 1},
        SIdentifyCase{"Type3BootModeVersion0x53AsType4", 3, 0x53, 1, 4, 65536, 1},
        SIdentifyCase{"Type3BootModeVersion0x54StaysType3", 3, 0x54, 1, 3, 65536, 1},
        SIdentifyCase{"Type3BootModeVersion0x60AsType5", 3, 0x60, 1, 5, 65536, 1},
        SIdentifyCase{"Type3BootModeVersion0x62AsType5", 3, 0x62, 1, 5, 65536, 1},
        SIdentifyCase{"Type3BootModeVersion0x63StaysType3", 3, 0x63, 1, 3, 65536, 1},
        SIdentifyCase{"Type3ApplicationVersion0x52StaysType3", 3, 0x52, 0, 3, 65536, 0},
        SIdentifyCase{"Type3ApplicationVersion0x62StaysType3", 3, 0x62, 0, 3, 65536, 0}),
    [](const ::testing::TestParamInfo<SIdentifyCase>& param) { return param.param.name; });

struct QueryFixture : ::testing::Test {
    CScriptedTransport transport;
    CRecordingClock clock;
    CTesselUsb link{transport, clock, nullptr, SystemAllocator()};
    void SetUp() override { link.Open(); }
};

TEST_F(QueryFixture, FailedIdentify_Returns111AndChangesNothing) {
    transport.replies.push_back(CScriptedTransport::Packet(CMD_IDENTIFY, 16, 0x02060000, 0, 14186));
    ASSERT_EQ(RESULT_OK, link.Identify(nullptr, nullptr, nullptr, nullptr));

    const std::vector<std::uint8_t> failures[] = {
        {},                                                          // no reply
        std::vector<std::uint8_t>(20, 1),                            // part of a header
        CScriptedTransport::Packet(CMD_BOOT_VERSIONS, 3, 0x100, 1),  // another command code
        CScriptedTransport::Packet(CMD_ERROR, 3, 0x100, 1),
    };
    for (const auto& failure : failures) {
        transport.replies.push_back(failure);
        std::uint32_t type = 5, version = 5, flag = 5, build = 5;
        EXPECT_EQ(RESULT_INVALID_REPLY, link.Identify(&type, &version, &flag, &build));
        EXPECT_EQ(5u, type);
        EXPECT_EQ(5u, version);
        EXPECT_EQ(5u, flag);
        EXPECT_EQ(5u, build);
        EXPECT_EQ(16u, link.GetMachineType());
        EXPECT_EQ(0x02060000u, link.GetVersion());
        EXPECT_EQ(14186u, link.GetBuild());
        EXPECT_EQ(65536u, link.GetTransferBlockSize());
    }
}

TEST_F(QueryFixture, GetBootVersions_StoresTheFourParameters) {
    transport.replies.push_back(
        CScriptedTransport::Packet(CMD_BOOT_VERSIONS, 0x01070000, 8000, 0x01080100, 8462));
    std::uint32_t values[4] = {};
    ASSERT_EQ(RESULT_OK, link.GetBootVersions(&values[0], &values[1], &values[2], &values[3]));
    EXPECT_EQ(0x01070000u, values[0]);
    EXPECT_EQ(8000u, values[1]);
    EXPECT_EQ(0x01080100u, values[2]);
    EXPECT_EQ(8462u, values[3]);
    EXPECT_EQ(CMD_BOOT_VERSIONS, ReadUsbHeader(transport.writes.back().data()).command);

    // Null pointers are allowed.
    transport.replies.push_back(CScriptedTransport::Packet(CMD_BOOT_VERSIONS, 1, 2, 3, 4));
    EXPECT_EQ(RESULT_OK, link.GetBootVersions(nullptr, &values[1], nullptr, nullptr));
    EXPECT_EQ(2u, values[1]);
}

TEST_F(QueryFixture, GetBootVersionsWithAnotherCommand_Returns111AndStoresNothing) {
    for (const auto& failure :
         {std::vector<std::uint8_t>{}, CScriptedTransport::Packet(CMD_IDENTIFY, 1, 2, 3, 4)}) {
        transport.replies.push_back(failure);
        std::uint32_t values[4] = {9, 9, 9, 9};
        EXPECT_EQ(RESULT_INVALID_REPLY, link.GetBootVersions(&values[0], &values[1], &values[2], &values[3]));
        for (std::uint32_t v : values) {
            EXPECT_EQ(9u, v);
        }
    }
}

}  // namespace
