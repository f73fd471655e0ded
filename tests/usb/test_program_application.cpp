#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "images/crc32.h"
#include "tests/usb/scripted_transport.h"
#include "tests/usb/sim_link_fixture.h"

namespace {

using ApplicationFixture = SimLinkFixture;

struct SChunk {
    std::uint32_t offset, length;
};

struct SChunkingCase {
    const char* name;
    std::uint32_t reportedType;  // 6 has a transfer block size of 8192
    std::uint32_t imageLength;
    std::vector<SChunk> chunks;
};

void PrintTo(const SChunkingCase& c, std::ostream* out) {
    *out << c.name;
}

class ApplicationChunking : public SimLinkFixture, public ::testing::WithParamInterface<SChunkingCase> {};

TEST_P(ApplicationChunking, SendsChunksOf64KiBWithTheSameParameters) {
    const SChunkingCase& c = GetParam();
    SWriterIdentity identity;
    identity.machineType = c.reportedType;
    Connect(identity);
    const std::vector<std::uint8_t> image = Pattern(c.imageLength);
    CCrc32 crc;
    crc.Update(image.data(), image.size());
    link.SetImageCrc(crc.Value());

    EXPECT_EQ(RESULT_OK, link.ProgramApplication(image.data(), c.imageLength, c.reportedType));

    const std::vector<SReceivedRequest> chunks = writer.RequestsOf(CMD_PROGRAM_APPLICATION);
    ASSERT_EQ(c.chunks.size(), chunks.size());
    for (std::size_t i = 0; i < chunks.size(); ++i) {
        const SUsbHeader& header = chunks[i].header;
        EXPECT_EQ(c.chunks[i].length, header.length) << "chunk " << i;
        EXPECT_EQ(c.chunks[i].offset, header.parameter[3]) << "chunk " << i;
        EXPECT_EQ(c.reportedType, header.parameter[0]);
        EXPECT_EQ(0u, header.parameter[1]);
        EXPECT_EQ(c.imageLength, header.parameter[2]);
        EXPECT_EQ(DOWNLOAD_MARKER, header.parameter[4]);
    }
    EXPECT_TRUE(writer.Violations().empty()) << writer.Violations().front();
    ASSERT_EQ(1u, writer.Summary().downloads.size());
    const SDownloadRecord& download = writer.Summary().downloads[0];
    EXPECT_EQ(0x80000u, download.address);
    EXPECT_TRUE(download.MatchesAnnouncement());
    EXPECT_EQ(0, std::memcmp(image.data(), writer.Memory().At(0x80000), image.size()));
}

INSTANTIATE_TEST_SUITE_P(
    Table, ApplicationChunking,
    ::testing::Values(
        SChunkingCase{"OneByteInOneChunk", 16, 1, {{0, 1}}},
        SChunkingCase{"ExactlyOneChunk", 16, 65536, {{0, 65536}}},
        SChunkingCase{"OneByteIntoASecondChunk", 16, 65537, {{0, 65536}, {65536, 1}}},
        SChunkingCase{"Type6With8KiBTransferBlocks", 6, 65537, {{0, 65536}, {65536, 1}}},
        SChunkingCase{"Type17ThreeFullChunks", 17, 3 * 65536, {{0, 65536}, {65536, 65536}, {131072, 65536}}}),
    [](const ::testing::TestParamInfo<SChunkingCase>& param) { return param.param.name; });

TEST_F(ApplicationFixture, FullSizeImage_LandsAtTheApplicationArea) {
    Connect();
    const std::vector<std::uint8_t> image = Pattern(3198584, 5);
    EXPECT_EQ(RESULT_OK, link.ProgramApplication(image.data(), 3198584, 16));
    EXPECT_EQ(49u, writer.RequestsOf(CMD_PROGRAM_APPLICATION).size());
    EXPECT_TRUE(writer.Violations().empty());
    EXPECT_EQ(0, std::memcmp(image.data(), writer.Memory().At(0x80000), image.size()));
}

TEST_F(ApplicationFixture, WrongMachineType_Returns11AndSendsNothing) {
    Connect();
    const std::size_t before = writer.Transcript().size();
    const std::vector<std::uint8_t> image = Pattern(100);
    EXPECT_EQ(RESULT_WRONG_MACHINE, link.ProgramApplication(image.data(), 100, 17));
    EXPECT_EQ(RESULT_WRONG_MACHINE, link.ProgramApplication(image.data(), 0, 17));
    EXPECT_EQ(before, writer.Transcript().size());
}

TEST_F(ApplicationFixture, EmptyImage_ReturnsZeroAndSendsNothing) {
    Connect();
    const std::size_t before = writer.Transcript().size();
    EXPECT_EQ(RESULT_OK, link.ProgramApplication(nullptr, 0, 16));
    EXPECT_EQ(before, writer.Transcript().size());
}

struct SApplicationFailure {
    const char* name;
    EFaultKind kind;
    std::uint32_t amount;
    std::int32_t result;
};

void PrintTo(const SApplicationFailure& c, std::ostream* out) {
    *out << c.name;
}

class ApplicationFailure : public SimLinkFixture,
                           public ::testing::WithParamInterface<SApplicationFailure> {};

TEST_P(ApplicationFailure, StopsAtTheFailingChunk) {
    Connect();
    writer.AddFault({CMD_PROGRAM_APPLICATION, 2, GetParam().kind, GetParam().amount});
    const std::vector<std::uint8_t> image = Pattern(3 * 65536);
    EXPECT_EQ(GetParam().result, link.ProgramApplication(image.data(), 3 * 65536, 16));
    EXPECT_EQ(2u, writer.RequestsOf(CMD_PROGRAM_APPLICATION).size());
}

INSTANTIATE_TEST_SUITE_P(
    Table, ApplicationFailure,
    ::testing::Values(SApplicationFailure{"NoReply", EFaultKind::NoReply, 0, RESULT_NO_CHUNK_REPLY},
                      SApplicationFailure{"PartOfAHeader", EFaultKind::ShortReply, 10, RESULT_NO_CHUNK_REPLY},
                      SApplicationFailure{"FileOpen", EFaultKind::ErrorReply, 3, 3},
                      SApplicationFailure{"WritersCode", EFaultKind::ErrorReply, 0x1234, 0x1234},
                      SApplicationFailure{"UnexpectedCode", EFaultKind::WrongCommand, CMD_IDENTIFY,
                                          RESULT_INVALID_REPLY}),
    [](const ::testing::TestParamInfo<SApplicationFailure>& param) { return std::string(param.param.name); });

TEST_F(ApplicationFixture, WriterRefusingToProgram_ReturnsItsCode) {
    writer.Behaviour().programRefusal = 3;
    Connect();
    const std::vector<std::uint8_t> image = Pattern(100);
    EXPECT_EQ(3, link.ProgramApplication(image.data(), 100, 16));
}

// The type sent for writers that Identify moved from type 3 to 4 or 5.
struct STypeCase {
    const char* name;
    std::uint32_t reportedType, version, bootMode;
    std::uint32_t givenType;
    std::int32_t result;
    std::uint32_t sentType;  // meaningful when the result is 0
};

void PrintTo(const STypeCase& c, std::ostream* out) {
    *out << c.name;
}

class ApplicationTypeRule : public ::testing::TestWithParam<STypeCase> {};

TEST_P(ApplicationTypeRule, SendsTypeThreeForTheBootLoadersOfTypeThree) {
    const STypeCase& c = GetParam();
    CScriptedTransport transport;
    CRecordingClock clock;
    CTesselUsb link(transport, clock, nullptr, SystemAllocator());
    link.Open();
    transport.replies.push_back(
        CScriptedTransport::Packet(CMD_IDENTIFY, c.reportedType, c.version, c.bootMode));
    ASSERT_EQ(RESULT_OK, link.Identify(nullptr, nullptr, nullptr, nullptr));
    transport.replies.push_back(CScriptedTransport::Packet(CMD_CHUNK_ACCEPTED));

    const std::uint8_t image[4] = {1, 2, 3, 4};
    EXPECT_EQ(c.result, link.ProgramApplication(image, 4, c.givenType));
    if (c.result == RESULT_OK) {
        ASSERT_EQ(2u, transport.writes.size());
        EXPECT_EQ(c.sentType, ReadUsbHeader(transport.writes[1].data()).parameter[0]);
    } else {
        EXPECT_EQ(1u, transport.writes.size());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, ApplicationTypeRule,
    ::testing::Values(
        // Type 3 in boot mode, taken for a type 4 or 5 by its version.
        STypeCase{"Type3BootModeVersion0x51AsType4SendsType3", 3, 0x51, 1, 4, RESULT_OK, 3},
        STypeCase{"Type3BootModeVersion0x51GivenType3IsTheWrongMachine", 3, 0x51, 1, 3, RESULT_WRONG_MACHINE,
                  0},
        STypeCase{"Type3BootModeVersion0x50AsType4SendsType3", 3, 0x50, 1, 4, RESULT_OK, 3},
        STypeCase{"Type3BootModeVersion0x53AsType4SendsType3", 3, 0x53, 1, 4, RESULT_OK, 3},
        STypeCase{"Type3BootModeVersion0x60AsType5SendsType3", 3, 0x60, 1, 5, RESULT_OK, 3},
        STypeCase{"Type3BootModeVersion0x62AsType5SendsType3", 3, 0x62, 1, 5, RESULT_OK, 3},
        // Outside the windows, or outside boot mode, the type goes as given.
        STypeCase{"Type3BootModeVersion0x54SentAsGiven", 3, 0x54, 1, 3, RESULT_OK, 3},
        STypeCase{"Type3ApplicationVersion0x51SentAsGiven", 3, 0x51, 0, 3, RESULT_OK, 3},
        STypeCase{"Type4BootModeVersion0x54SentAsGiven", 4, 0x54, 1, 4, RESULT_OK, 4},
        STypeCase{"Type5BootModeVersion0x63SentAsGiven", 5, 0x63, 1, 5, RESULT_OK, 5},
        STypeCase{"Type4ApplicationVersion0x51SentAsGiven", 4, 0x51, 0, 4, RESULT_OK, 4},
        // The rule looks at the identified type, however it came about.
        STypeCase{"Type4BootModeVersion0x52SendsType3", 4, 0x52, 1, 4, RESULT_OK, 3},
        STypeCase{"Type5BootModeVersion0x61SendsType3", 5, 0x61, 1, 5, RESULT_OK, 3},
        STypeCase{"Type16SentAsGiven", 16, 0x02060000, 0, 16, RESULT_OK, 16}),
    [](const ::testing::TestParamInfo<STypeCase>& param) { return param.param.name; });

}  // namespace
