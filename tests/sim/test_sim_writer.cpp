#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "images/byte_buffer.h"
#include "images/crc32.h"
#include "sim/sim_transport.h"
#include "sim/sim_writer.h"
#include "usb/recording_clock.h"
#include "usb/tessel_usb.h"
#include "usb/usb_codes.h"

namespace {

struct WriterFixture : ::testing::Test {
    CSimWriter writer;
    CSimTransport transport{&writer};
    CRecordingClock clock;
    CTesselUsb link{transport, clock, nullptr, SystemAllocator()};

    void SetUp() override {
        ASSERT_EQ(0u, link.Open());
        ASSERT_EQ(RESULT_OK, link.Identify(nullptr, nullptr, nullptr, nullptr));
    }

    // Hands the writer one packet directly and returns the header of its reply.
    SUsbHeader Send(std::uint16_t command, const std::uint32_t (&parameters)[USB_PARAMETER_COUNT],
                    const std::vector<std::uint8_t>& payload, std::uint32_t declaredLength) {
        std::vector<std::uint8_t> packet = MakeReply(command, parameters, payload);
        WriteLittleEndian32(packet.data() + HEADER_OFFSET_LENGTH, declaredLength);
        writer.Write(packet.data(), static_cast<std::uint32_t>(packet.size()));
        const auto reply = writer.Read();
        return reply ? ReadUsbHeader(reply->data()) : SUsbHeader{};
    }
    SUsbHeader SendChunk(std::uint32_t type, std::uint32_t total, std::uint32_t offset, std::uint32_t length,
                         std::uint32_t marker = DOWNLOAD_MARKER) {
        return Send(CMD_PROGRAM_APPLICATION, {type, 0, total, offset, marker},
                    std::vector<std::uint8_t>(length, 0x5A), length);
    }
    std::vector<std::uint8_t> MemoryAt(std::uint32_t address, std::uint32_t length) const {
        return writer.Memory().Read(address, length);
    }
};

TEST_F(WriterFixture, ReadMemory_ReturnsTheBytesAtTheAddress) {
    std::vector<std::uint8_t> block(0x100);
    EXPECT_TRUE(link.ReadMemory(0x80000, 0x100, block.data(), MEMORY_SELECTOR_READ_BACK));
    EXPECT_EQ(MemoryAt(0x80000, 0x100), block);
}

TEST_F(WriterFixture, ReadMemoryItCannotServe_IsRefused) {
    std::vector<std::uint8_t> block(0x100);
    const std::uint32_t end = writer.Memory().Size();
    EXPECT_FALSE(link.ReadMemory(end - 0x80, 0x100, block.data(), MEMORY_SELECTOR_READ_BACK));
    EXPECT_FALSE(link.ReadMemory(0x80000, 0x100, block.data(), 3));
    EXPECT_EQ(CMD_ERROR, Send(CMD_READ_MEMORY, {0, MAX_PAYLOAD_SIZE + 1, 0, 0, 4}, {}, 0).command);
    EXPECT_EQ(CSimWriter::ERROR_OUT_OF_RANGE,
              Send(CMD_READ_MEMORY, {end - 0x80, 0x100, 0, 0, 4}, {}, 0).parameter[0]);
}

TEST_F(WriterFixture, ReadCorruption_FlipsTheByteInTheChosenPassOnly) {
    writer.AddReadCorruption({0x80010, 2});
    const std::vector<std::uint8_t> stored = MemoryAt(0x80000, 0x100);
    std::vector<std::uint8_t> block(0x100);
    ASSERT_TRUE(link.ReadMemory(0x90000, 0x100, block.data(), 4));  // does not cover it: no pass
    for (int pass = 1; pass <= 3; ++pass) {
        ASSERT_TRUE(link.ReadMemory(0x80000, 0x100, block.data(), 4));
        std::vector<std::uint8_t> expected = stored;
        if (pass == 2) {
            expected[0x10] ^= 0xFFu;
        }
        EXPECT_EQ(expected, block) << "pass " << pass;
    }
    EXPECT_EQ(stored, MemoryAt(0x80000, 0x100));  // the memory itself stays
}

struct SReadFaultCase {
    const char* name;
    EFaultKind kind;
    std::uint32_t amount;
    bool result;
    std::uint32_t copied;
    std::uint32_t flipped;  // index of an inverted byte, or 0xFFFFFFFF
};

void PrintTo(const SReadFaultCase& c, std::ostream* out) {
    *out << c.name;
}

class ReadFault : public WriterFixture, public ::testing::WithParamInterface<SReadFaultCase> {};

TEST_P(ReadFault, MisbehavesAtTheChosenRead) {
    const SReadFaultCase& c = GetParam();
    writer.AddFault({CMD_READ_MEMORY, 2, c.kind, c.amount});
    std::vector<std::uint8_t> block(0x100, 0xEE);
    ASSERT_TRUE(link.ReadMemory(0x80000, 0x100, block.data(), 4));
    std::fill(block.begin(), block.end(), std::uint8_t{0xEE});
    EXPECT_EQ(c.result, link.ReadMemory(0x80000, 0x100, block.data(), 4));
    std::vector<std::uint8_t> expected = MemoryAt(0x80000, 0x100);
    std::fill(expected.begin() + c.copied, expected.end(), std::uint8_t{0xEE});
    if (c.flipped < expected.size()) {
        expected[c.flipped] ^= 0xFFu;
    }
    EXPECT_EQ(expected, block);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ReadFault,
    ::testing::Values(SReadFaultCase{"ShorterBlock", EFaultKind::ShortBlock, 0x10, false, 0xF0, 0xFFFFFFFF},
                      SReadFaultCase{"OtherAddress", EFaultKind::OtherAddress, 0x100, false, 0x100,
                                     0xFFFFFFFF},
                      SReadFaultCase{"FlippedByte", EFaultKind::FlipByte, 5, true, 0x100, 5}),
    [](const ::testing::TestParamInfo<SReadFaultCase>& param) { return std::string(param.param.name); });

TEST_F(WriterFixture, Erase_ClearsWholeUnitsAndIsRecorded) {
    EXPECT_TRUE(link.Erase(0x80000, 0x20001));
    EXPECT_EQ(std::vector<std::uint8_t>(0x40000, 0xFF), MemoryAt(0x80000, 0x40000));
    EXPECT_EQ(CSimMemory::OldFirmwareByte(0xC0000), MemoryAt(0xC0000, 1)[0]);
    EXPECT_EQ(CSimMemory::OldFirmwareByte(0x7FFFF), MemoryAt(0x7FFFF, 1)[0]);
    ASSERT_EQ(1u, writer.Summary().erases.size());
    EXPECT_EQ(0x80000u, writer.Summary().erases[0].address);
    EXPECT_EQ(0x40000u, writer.Summary().erases[0].length);
}

TEST_F(WriterFixture, EraseOutsideTheMemory_IsRefusedWithItsCodeInParameterTwo) {
    std::uint32_t error = 0;
    EXPECT_FALSE(link.Erase(writer.Memory().Size(), 1, &error));
    EXPECT_EQ(CSimWriter::ERROR_OUT_OF_RANGE, error);
    EXPECT_TRUE(writer.Summary().erases.empty());
}

TEST_F(WriterFixture, InfoBlock_CarriesTheConfiguredGeometry) {
    writer.Behaviour().infoLength = 64;
    writer.Behaviour().reportedBootBlockSize = 0x10000;
    writer.Behaviour().reportedBootReserve = 1024;
    std::vector<std::uint8_t> area(64, 0xEE);
    EXPECT_EQ(64u, link.GetInfo(INFO_BOOT_GEOMETRY, area.data(), 64));
    EXPECT_EQ(0x10000u, ReadLittleEndian32(area.data() + 36));
    EXPECT_EQ(1024u, ReadLittleEndian32(area.data() + 40));
    EXPECT_EQ(0u, link.GetInfo(3, area.data(), 64));  // a selector this writer does not serve
}

TEST_F(WriterFixture, Download_IsCheckedAgainstTheAnnouncedCrc) {
    std::vector<std::uint8_t> image(70000);
    for (std::size_t i = 0; i < image.size(); ++i) {
        image[i] = static_cast<std::uint8_t>(i * 7);
    }
    CCrc32 crc;
    crc.Update(image.data(), image.size());

    link.SetImageCrc(crc.Value());
    ASSERT_EQ(RESULT_OK, link.ProgramApplication(image.data(), 70000, 16));
    link.SetImageCrc(crc.Value() ^ 1);
    ASSERT_EQ(RESULT_OK, link.ProgramApplication(image.data(), 70000, 16));
    ASSERT_EQ(RESULT_OK, link.ProgramApplication(image.data(), 70000, 16));  // nothing announced

    const std::vector<SDownloadRecord>& downloads = writer.Summary().downloads;
    ASSERT_EQ(3u, downloads.size());
    EXPECT_TRUE(downloads[0].MatchesAnnouncement());
    EXPECT_FALSE(downloads[1].MatchesAnnouncement());
    EXPECT_FALSE(downloads[2].announcedCrc.has_value());
    for (const SDownloadRecord& download : downloads) {
        EXPECT_EQ(crc.Value(), download.crc);
        EXPECT_TRUE(download.complete);
        EXPECT_EQ(CSimMemory::APPLICATION_ADDRESS, download.address);
    }
    EXPECT_EQ(image, MemoryAt(0x80000, 70000));
    EXPECT_TRUE(writer.Violations().empty());
}

TEST_F(WriterFixture, DownloadCutShort_IsNotComplete) {
    writer.AddFault({CMD_PROGRAM_APPLICATION, 2, EFaultKind::NoReply, 0});
    const std::vector<std::uint8_t> image(3 * 65536, 1);
    EXPECT_EQ(RESULT_NO_CHUNK_REPLY, link.ProgramApplication(image.data(), 3 * 65536, 16));
    ASSERT_EQ(1u, writer.Summary().downloads.size());
    EXPECT_FALSE(writer.Summary().downloads[0].complete);
    EXPECT_EQ(2 * 65536u, writer.Summary().downloads[0].received);
}

TEST_F(WriterFixture, RefusingToProgram_LeavesTheMemory) {
    writer.Behaviour().programRefusal = 3;
    const std::vector<std::uint8_t> before = MemoryAt(0x80000, 100);
    const std::vector<std::uint8_t> image(100, 1);
    EXPECT_EQ(3, link.ProgramApplication(image.data(), 100, 16));
    EXPECT_EQ(before, MemoryAt(0x80000, 100));
    EXPECT_TRUE(writer.Summary().downloads.empty());
}

TEST_F(WriterFixture, DownloadBeyondTheMemory_IsRefusedWithoutViolation) {
    const SUsbHeader reply = Send(CMD_PROGRAM_BOOT, {16, writer.Memory().Size() - 8, 16, 0, DOWNLOAD_MARKER},
                                  std::vector<std::uint8_t>(16, 1), 16);
    EXPECT_EQ(CMD_ERROR, reply.command);
    EXPECT_EQ(CSimWriter::ERROR_OUT_OF_RANGE, reply.parameter[0]);
    EXPECT_TRUE(writer.Violations().empty());
}

// Malformed chunks: each is refused and recorded.
struct SChunkCase {
    const char* name;
    std::uint32_t type, total, offset, length, marker;
    std::uint32_t sentBytes;  // payload bytes that actually go with the header
};

void PrintTo(const SChunkCase& c, std::ostream* out) {
    *out << c.name;
}

class MalformedChunk : public WriterFixture, public ::testing::WithParamInterface<SChunkCase> {};

TEST_P(MalformedChunk, IsRefusedAndRecordedAsViolation) {
    const SChunkCase& c = GetParam();
    ASSERT_EQ(CMD_CHUNK_ACCEPTED, SendChunk(16, 64, 0, 16).command);  // a sound start
    const SUsbHeader reply = Send(CMD_PROGRAM_APPLICATION, {c.type, 0, c.total, c.offset, c.marker},
                                  std::vector<std::uint8_t>(c.sentBytes, 1), c.length);
    EXPECT_EQ(CMD_ERROR, reply.command);
    EXPECT_EQ(CSimWriter::ERROR_BAD_CHUNK, reply.parameter[0]);
    EXPECT_EQ(1u, writer.Violations().size());
}

INSTANTIATE_TEST_SUITE_P(Table, MalformedChunk,
                         ::testing::Values(SChunkCase{"NoMarker", 16, 64, 16, 16, 0, 16},
                                           SChunkCase{"OtherType", 17, 64, 16, 16, DOWNLOAD_MARKER, 16},
                                           SChunkCase{"OffsetGap", 16, 64, 32, 16, DOWNLOAD_MARKER, 16},
                                           SChunkCase{"OffsetOverlaps", 16, 64, 8, 16, DOWNLOAD_MARKER, 16},
                                           SChunkCase{"TotalChanged", 16, 80, 16, 16, DOWNLOAD_MARKER, 16},
                                           SChunkCase{"PastTheTotal", 16, 64, 16, 64, DOWNLOAD_MARKER, 64},
                                           SChunkCase{"EmptyChunk", 16, 64, 16, 0, DOWNLOAD_MARKER, 0},
                                           SChunkCase{"PayloadMissing", 16, 64, 16, 16, DOWNLOAD_MARKER, 8}),
                         [](const ::testing::TestParamInfo<SChunkCase>& param) {
                             return std::string(param.param.name);
                         });

TEST_F(WriterFixture, ChunkWithoutADownloadUnderWay_IsAViolation) {
    EXPECT_EQ(CMD_ERROR, SendChunk(16, 64, 16, 16).command);
    EXPECT_EQ(1u, writer.Violations().size());
    EXPECT_EQ(CMD_ERROR, Send(CMD_PROGRAM_APPLICATION, {16, 4, 64, 0, DOWNLOAD_MARKER},
                              std::vector<std::uint8_t>(16, 1), 16)
                             .command);  // application chunks carry no address
    EXPECT_EQ(2u, writer.Violations().size());
}

TEST_F(WriterFixture, Restart_IsAcknowledgedAndRecorded) {
    EXPECT_TRUE(link.Restart(0));
    EXPECT_TRUE(writer.Summary().restarted);
    EXPECT_EQ(0u, writer.Summary().restartRefusals);
}

TEST_F(WriterFixture, RestartRefused_CarriesTheStatusBits) {
    writer.Behaviour().refuseRestart = true;
    writer.Behaviour().restartStatusBits = 2;
    EXPECT_FALSE(link.Restart(0));
    const SUsbHeader reply = ReadUsbHeader(link.ReceiveBuffer());
    EXPECT_EQ(CMD_ERROR, reply.command);
    EXPECT_EQ(CSimWriter::RESTART_REFUSED_BUSY, reply.parameter[0]);
    EXPECT_EQ(2u, reply.parameter[1]);
    EXPECT_FALSE(writer.Summary().restarted);
    EXPECT_EQ(1u, writer.Summary().restartRefusals);
}

}  // namespace

namespace {

// A writer that stops taking data: the write that meets it waits out the transport's
// time-out once and fails; from then on the writer is as good as unplugged, so nothing
// else waits.
TEST(SimStall, BlockedWriteWaitsTheTimeOutOnce_ThenTheWriterIsGone) {
    CSimWriter writer;
    writer.AddFault({CMD_BOOT_VERSIONS, 1, EFaultKind::Stalls, 0});
    CSimTransport transport(&writer);
    CRecordingClock timeouts;
    transport.SetReplyTimeoutClock(&timeouts);
    CRecordingClock clock;
    CTesselUsb link(transport, clock, nullptr, SystemAllocator());
    ASSERT_EQ(0u, link.Open());
    ASSERT_EQ(RESULT_OK, link.Identify(nullptr, nullptr, nullptr, nullptr));
    EXPECT_TRUE(timeouts.pauses.empty());

    std::uint32_t version = 0;
    EXPECT_NE(RESULT_OK, link.GetBootVersions(&version, nullptr, nullptr, nullptr));
    EXPECT_TRUE(writer.IsGone());
    EXPECT_EQ(timeouts.pauses, (std::vector<std::uint32_t>{REPLY_TIMEOUT_MS}));
    EXPECT_EQ(writer.RequestsOf(CMD_BOOT_VERSIONS).size(), 0u);  // nothing of it was taken
}

}  // namespace
