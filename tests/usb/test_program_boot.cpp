#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "images/crc32.h"
#include "tests/usb/sim_link_fixture.h"

namespace {

// Where the image's bytes must be in the layout; every other byte of the L bytes is
// 0xFF.
struct SLayoutCase {
    const char* name;
    std::uint32_t blockSize, reserve;  // as the writer reports them (0: default)
    std::uint32_t infoLength;
    std::uint32_t imageLength, loadAddress;
    std::uint32_t layoutSize;
    bool header;               // the 8-byte header of load address 0
    std::uint32_t secondWord;  // its second word
    std::uint32_t firstAt, firstLength;
    std::uint32_t secondAt;  // the rest of the image, when firstLength < imageLength
    std::uint32_t linkBlockSize, linkReserve;
};

void PrintTo(const SLayoutCase& c, std::ostream* out) {
    *out << c.name;
}

std::vector<std::uint8_t> ExpectedLayout(const SLayoutCase& c, const std::vector<std::uint8_t>& image) {
    std::vector<std::uint8_t> layout(c.layoutSize, 0xFF);
    if (c.header) {
        WriteLittleEndian32(layout.data(), 8);
        WriteLittleEndian32(layout.data() + 4, c.secondWord);
    }
    std::memcpy(layout.data() + c.firstAt, image.data(), c.firstLength);
    std::memcpy(layout.data() + c.secondAt, image.data() + c.firstLength, c.imageLength - c.firstLength);
    return layout;
}

class BootLayout : public SimLinkFixture, public ::testing::WithParamInterface<SLayoutCase> {};

TEST_P(BootLayout, WriterReceivesTheLayoutAndItsCrc) {
    const SLayoutCase& c = GetParam();
    writer.Behaviour().reportedBootBlockSize = c.blockSize;
    writer.Behaviour().reportedBootReserve = c.reserve;
    writer.Behaviour().infoLength = c.infoLength;
    Connect();
    const std::vector<std::uint8_t> image = Pattern(c.imageLength);

    ASSERT_EQ(RESULT_OK, link.ProgramBoot(image.data(), c.imageLength, c.loadAddress));

    EXPECT_EQ(c.linkBlockSize, link.GetBootBlockSize());
    EXPECT_EQ(c.linkReserve, link.GetBootReserve());
    const std::vector<std::uint8_t> expected = ExpectedLayout(c, image);
    const std::uint8_t* memory = writer.Memory().At(c.loadAddress);
    for (std::uint32_t i = 0; i < c.layoutSize; ++i) {
        ASSERT_EQ(expected[i], memory[i]) << "layout byte " << i;
    }
    // Nothing past the layout was written.
    EXPECT_EQ(CSimMemory::OldFirmwareByte(c.loadAddress + c.layoutSize), memory[c.layoutSize]);

    // The announced CRC covers all L bytes, fill and header included.
    CCrc32 crc;
    crc.Update(expected.data(), expected.size());
    const std::vector<SReceivedRequest> announced = writer.RequestsOf(CMD_SET_IMAGE_CRC);
    ASSERT_EQ(1u, announced.size());
    EXPECT_EQ(crc.Value(), announced[0].header.parameter[0]);
    ASSERT_EQ(1u, writer.Summary().downloads.size());
    EXPECT_TRUE(writer.Summary().downloads[0].MatchesAnnouncement());
    EXPECT_EQ(c.layoutSize, writer.Summary().downloads[0].total);
    EXPECT_TRUE(writer.Violations().empty()) << writer.Violations().front();
    EXPECT_EQ(std::vector<std::size_t>{c.layoutSize}, allocator.sizes);
}

constexpr std::uint32_t B = 0x20000, R = 2048;

INSTANTIATE_TEST_SUITE_P(
    Table, BootLayout,
    ::testing::Values(
        SLayoutCase{"OneBlock", B, R, 44, 100000, 0, 0x20000, true, 0, 8, 100000, 0, B, R},
        SLayoutCase{"FullFirstBlock", B, R, 44, 129016, 0, 0x20000, true, 0, 8, 129016, 0, B, R},
        SLayoutCase{"OneByteIntoSecondBlock", B, R, 44, 129017, 0, 0x40000, true, 0x20000, 8, 129016, 131072,
                    B, R},
        SLayoutCase{"TwoBlocks", B, R, 44, 200000, 0, 0x40000, true, 0x20000, 8, 129016, 131072, B, R},
        SLayoutCase{"LargestForAddressZero", B, R, 44, 260088, 0, 0x40000, true, 0x20000, 8, 129016, 131072,
                    B, R},
        SLayoutCase{"OtherAddressOneBlock", B, R, 44, 100000, 0x40000, 0x20000, false, 0, 0, 100000, 0, B, R},
        SLayoutCase{"OtherAddressTwoBlocks", B, R, 44, 133488, 0x40000, 0x40000, false, 0, 0, 133488, 0, B,
                    R},
        SLayoutCase{"OtherAddressLargest", B, R, 44, 0x40000, 0x40000, 0x40000, false, 0, 0, 0x40000, 0, B,
                    R},
        // Words 0, or a block too short to carry them, leave the defaults.
        SLayoutCase{"ZeroWordsKeepDefaults", 0, 0, 44, 200000, 0, 0x40000, true, 0x20000, 8, 129016, 131072,
                    B, R},
        SLayoutCase{"ShortBlockKeepsDefaults", 0x10000, 1024, 36, 100000, 0, 0x20000, true, 0, 8, 100000, 0,
                    B, R},
        // A smaller geometry, reported in a 64-byte block; the second word stays 0x20000.
        SLayoutCase{"SmallBlocksTwo", 0x10000, 1024, 64, 100000, 0, 0x20000, true, 0x20000, 8, 64504, 65536,
                    0x10000, 1024},
        SLayoutCase{"SmallBlocksOne", 0x10000, 1024, 64, 64504, 0, 0x10000, true, 0, 8, 64504, 0, 0x10000,
                    1024},
        SLayoutCase{"OnlyReserveReported", 0, 4096, 44, 127000, 0, 0x40000, true, 0x20000, 8, 126968, 131072,
                    B, 4096},
        SLayoutCase{"LargestBlock", 0x100000, 16, 44, 0x100000, 0x80000, 0x200000, false, 0, 0, 0x100000, 0,
                    0x100000, 16}),
    [](const ::testing::TestParamInfo<SLayoutCase>& param) { return std::string(param.param.name); });

using BootFixture = SimLinkFixture;

TEST_F(BootFixture, TwoBlockLayout_GoesOutInFourChunksAfterGeometryAndCrc) {
    Connect();
    const std::vector<std::uint8_t> image = Pattern(133488);
    ASSERT_EQ(RESULT_OK, link.ProgramBoot(image.data(), 133488, 0));

    const std::vector<std::uint16_t> expectedOrder = {CMD_INFO_BLOCK,   CMD_SET_IMAGE_CRC, CMD_PROGRAM_BOOT,
                                                      CMD_PROGRAM_BOOT, CMD_PROGRAM_BOOT,  CMD_PROGRAM_BOOT};
    EXPECT_EQ(expectedOrder, CommandsAfterIdentify());
    EXPECT_EQ(INFO_BOOT_GEOMETRY, writer.RequestsOf(CMD_INFO_BLOCK)[0].header.parameter[0]);
    const std::vector<SReceivedRequest> chunks = writer.RequestsOf(CMD_PROGRAM_BOOT);
    for (std::uint32_t i = 0; i < 4; ++i) {
        const SUsbHeader& header = chunks[i].header;
        EXPECT_EQ(0x10000u, header.length);
        EXPECT_EQ(16u, header.parameter[0]);
        EXPECT_EQ(0u, header.parameter[1]);
        EXPECT_EQ(0x40000u, header.parameter[2]);
        EXPECT_EQ(i * 0x10000u, header.parameter[3]);
        EXPECT_EQ(DOWNLOAD_MARKER, header.parameter[4]);
    }
}

TEST_F(BootFixture, SetImageCrc_PutsTheWholeHeaderBackAndLeavesThePayload) {
    Connect();
    const std::vector<std::uint8_t> image = Pattern(133488);
    ASSERT_EQ(RESULT_OK, link.ProgramBoot(image.data(), 133488, 0x40000));
    // The last chunk's header: every parameter nonzero, magic and sequence stamped.
    const std::vector<std::uint8_t> before(link.SendBuffer(), link.SendBuffer() + PACKET_BUFFER_SIZE);
    ASSERT_EQ(0x30000u, ReadUsbHeader(before.data()).parameter[3]);

    link.SetImageCrc(0xDEADBEEF);
    EXPECT_EQ(before, std::vector<std::uint8_t>(link.SendBuffer(), link.SendBuffer() + PACKET_BUFFER_SIZE));
    const SReceivedRequest& request = writer.Transcript().back();
    EXPECT_EQ(CMD_SET_IMAGE_CRC, request.header.command);
    EXPECT_EQ(0u, request.header.length);
    EXPECT_EQ(0xDEADBEEFu, request.header.parameter[0]);
    ASSERT_TRUE(writer.PendingCrc());
    EXPECT_EQ(0xDEADBEEFu, *writer.PendingCrc());

    // Without a reply the header comes back all the same.
    writer.AddFault({CMD_SET_IMAGE_CRC, 3, EFaultKind::NoReply, 0});
    link.SetImageCrc(1);
    EXPECT_EQ(before, std::vector<std::uint8_t>(link.SendBuffer(), link.SendBuffer() + PACKET_BUFFER_SIZE));
}

TEST_F(BootFixture, OtherMachineTypes_ReturnZeroWithoutAnyPacket) {
    for (std::uint32_t type : {0u, 1u, 3u, 15u, 18u}) {
        SWriterIdentity identity;
        identity.machineType = type;
        Connect(identity);
        const std::size_t before = writer.Transcript().size();
        const std::vector<std::uint8_t> image = Pattern(1000);
        EXPECT_EQ(RESULT_OK, link.ProgramBoot(image.data(), 1000, 0)) << "type " << type;
        EXPECT_EQ(before, writer.Transcript().size());
        EXPECT_TRUE(allocator.sizes.empty());
    }
}

TEST_F(BootFixture, GetInfoFailing_LeavesDefaultsAndTheDownloadGoesAhead) {
    writer.Behaviour().reportedBootBlockSize = 0x10000;
    Connect();
    writer.AddFault({CMD_INFO_BLOCK, 1, EFaultKind::NoReply, 0});
    const std::vector<std::uint8_t> image = Pattern(1000);
    EXPECT_EQ(RESULT_OK, link.ProgramBoot(image.data(), 1000, 0));
    EXPECT_EQ(CTesselUsb::DEFAULT_BOOT_BLOCK_SIZE, link.GetBootBlockSize());
    EXPECT_EQ(CTesselUsb::DEFAULT_BOOT_RESERVE, link.GetBootReserve());
    EXPECT_EQ(0x20000u, writer.Summary().downloads.at(0).total);
}

TEST_F(BootFixture, EveryCallStartsFromTheDefaults) {
    writer.Behaviour().reportedBootBlockSize = 0x10000;
    writer.Behaviour().reportedBootReserve = 1024;
    Connect();
    const std::vector<std::uint8_t> image = Pattern(1000);
    ASSERT_EQ(RESULT_OK, link.ProgramBoot(image.data(), 1000, 0));
    EXPECT_EQ(0x10000u, link.GetBootBlockSize());
    writer.Behaviour().reportedBootBlockSize = 0;
    writer.Behaviour().reportedBootReserve = 0;
    ASSERT_EQ(RESULT_OK, link.ProgramBoot(image.data(), 1000, 0));
    EXPECT_EQ(CTesselUsb::DEFAULT_BOOT_BLOCK_SIZE, link.GetBootBlockSize());
    EXPECT_EQ(CTesselUsb::DEFAULT_BOOT_RESERVE, link.GetBootReserve());
}

struct SBootFailure {
    const char* name;
    EFaultKind kind;
    std::uint32_t amount;
    std::int32_t result;
};

void PrintTo(const SBootFailure& c, std::ostream* out) {
    *out << c.name;
}

class BootChunkFailure : public SimLinkFixture, public ::testing::WithParamInterface<SBootFailure> {};

TEST_P(BootChunkFailure, StopsAtTheFailingChunk) {
    Connect();
    writer.AddFault({CMD_PROGRAM_BOOT, 2, GetParam().kind, GetParam().amount});
    const std::vector<std::uint8_t> image = Pattern(133488);
    EXPECT_EQ(GetParam().result, link.ProgramBoot(image.data(), 133488, 0));
    EXPECT_EQ(2u, writer.RequestsOf(CMD_PROGRAM_BOOT).size());
}

INSTANTIATE_TEST_SUITE_P(
    Table, BootChunkFailure,
    ::testing::Values(SBootFailure{"NoReply", EFaultKind::NoReply, 0, RESULT_NO_CHUNK_REPLY},
                      SBootFailure{"FileOpen", EFaultKind::ErrorReply, 3, 3},
                      SBootFailure{"WritersCode", EFaultKind::ErrorReply, 77, 77},
                      SBootFailure{"UnexpectedCode", EFaultKind::WrongCommand, CMD_PROGRAM_BOOT,
                                   RESULT_INVALID_REPLY}),
    [](const ::testing::TestParamInfo<SBootFailure>& param) { return std::string(param.param.name); });

TEST_F(BootFixture, NoMemoryForTheLayout_Returns111AndSendsNothingMore) {
    Connect();
    allocator.fail = true;
    const std::vector<std::uint8_t> image = Pattern(133488);
    EXPECT_EQ(RESULT_INVALID_REPLY, link.ProgramBoot(image.data(), 133488, 0));
    EXPECT_EQ(std::vector<std::size_t>{0x40000}, allocator.sizes);
    EXPECT_EQ(std::vector<std::uint16_t>{CMD_INFO_BLOCK}, CommandsAfterIdentify());
}

// Geometry and images that cannot make a sound layout are refused after the geometry
// is learned and before anything else goes out.
struct SRefusalCase {
    const char* name;
    std::uint32_t blockSize, reserve;
    std::uint32_t imageLength, loadAddress;
};

void PrintTo(const SRefusalCase& c, std::ostream* out) {
    *out << c.name;
}

class BootRefusal : public SimLinkFixture, public ::testing::WithParamInterface<SRefusalCase> {};

TEST_P(BootRefusal, Returns111BeforeCrcOrChunk) {
    const SRefusalCase& c = GetParam();
    writer.Behaviour().reportedBootBlockSize = c.blockSize;
    writer.Behaviour().reportedBootReserve = c.reserve;
    Connect();
    const std::vector<std::uint8_t> image = Pattern(c.imageLength);
    EXPECT_EQ(RESULT_INVALID_REPLY, link.ProgramBoot(image.data(), c.imageLength, c.loadAddress));
    EXPECT_EQ(std::vector<std::uint16_t>{CMD_INFO_BLOCK}, CommandsAfterIdentify());
    EXPECT_TRUE(allocator.sizes.empty());
}

INSTANTIATE_TEST_SUITE_P(Table, BootRefusal,
                         ::testing::Values(
                             // Block sizes that are no power of two.
                             SRefusalCase{"BlockNotPowerOfTwo", 0x30000, 2048, 1000, 0},
                             SRefusalCase{"BlockAllOnes", 0xFFFFFFFF, 2048, 1000, 0x40000},
                             // Too small to hold the header and one byte, whatever the reserve.
                             SRefusalCase{"BlockOfEight", 8, 0, 4, 0},
                             SRefusalCase{"BlockOfOne", 1, 0, 1, 0x40000},
                             SRefusalCase{"BlockOfFour", 4, 0, 1, 0},
                             // Larger than any boot block; the largest also makes 2B wrap to 0.
                             SRefusalCase{"BlockTooLarge", 0x200000, 2048, 1000, 0},
                             SRefusalCase{"DoubleBlockWraps", 0x80000000, 2048, 1000, 0},
                             // A reserve that leaves no room for image bytes in the first block.
                             SRefusalCase{"ReserveFillsBlock", 0x20000, 0x1FFF8, 1000, 0},
                             SRefusalCase{"ReserveIsBlock", 0x20000, 0x20000, 1000, 0x40000},
                             SRefusalCase{"ReserveBeyondBlock", 0x10000, 0x30000, 1000, 0},
                             SRefusalCase{"ReserveAllOnes", 0x20000, 0xFFFFFFFF, 1000, 0},
                             SRefusalCase{"DefaultReserveSmallBlock", 0x800, 0, 100, 0},
                             // Images the layout cannot hold, and no image at all.
                             SRefusalCase{"ImageBeyondAddressZeroLayout", 0x20000, 2048, 260089, 0},
                             SRefusalCase{"ImageBeyondOtherLayout", 0x20000, 2048, 0x40001, 0x40000},
                             SRefusalCase{"ImageBeyondSmallLayout", 0x10000, 1024, 130041, 0},
                             SRefusalCase{"EmptyImageAddressZero", 0x20000, 2048, 0, 0},
                             SRefusalCase{"EmptyImageOtherAddress", 0x20000, 2048, 0, 0x40000}),
                         [](const ::testing::TestParamInfo<SRefusalCase>& param) {
                             return std::string(param.param.name);
                         });

}  // namespace
