// The link moves every packet through its two fixed buffers: no command allocates per
// packet. This binary replaces the global allocation functions to count.
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <new>
#include <vector>

#include "images/byte_buffer.h"
#include "usb/recording_clock.h"
#include "usb/tessel_usb.h"

namespace {

std::size_t g_allocations = 0;

// A writer that answers every request from fixed storage.
class CFixedWriterTransport final : public ITransport {
public:
    std::uint32_t Open() override { return 0; }
    std::uint32_t Write(const std::uint8_t* data, std::uint32_t size) override {
        const SUsbHeader request = ReadUsbHeader(data);
        SUsbHeader reply;
        reply.command = request.command;
        switch (request.command) {
            case CMD_IDENTIFY:
                reply.parameter[0] = 16;
                break;
            case CMD_PROGRAM_APPLICATION:
            case CMD_PROGRAM_BOOT:
                reply.command = CMD_CHUNK_ACCEPTED;
                break;
            case CMD_READ_MEMORY:
                reply.parameter[0] = request.parameter[0];
                reply.length = request.parameter[1];
                break;
            case CMD_INFO_BLOCK:
                reply.length = 44;
                break;
            default:
                break;
        }
        WriteUsbHeader(m_reply.data(), reply);
        m_replySize = USB_HEADER_SIZE + reply.length;
        return size;
    }
    std::uint32_t Read(std::uint8_t* buffer, std::uint32_t capacity) override {
        const std::uint32_t size = m_replySize < capacity ? m_replySize : capacity;
        std::copy(m_reply.begin(), m_reply.begin() + size, buffer);
        return size;
    }
    void Control(std::uint32_t) override {}
    std::uint32_t Close() override { return 0; }

private:
    std::array<std::uint8_t, PACKET_BUFFER_SIZE> m_reply{};
    std::uint32_t m_replySize = 0;
};

TEST(LinkAllocations, CommandsAndDownloadsAllocateNothingPerPacket) {
    CFixedWriterTransport transport;
    CRecordingClock clock;
    auto link = std::make_unique<CTesselUsb>(transport, clock, nullptr, SystemAllocator());
    std::vector<std::uint8_t> image(200000, 0x5A);
    std::vector<std::uint8_t> readBack(65536);
    ASSERT_EQ(0u, link->Open());
    ASSERT_EQ(RESULT_OK, link->Identify(nullptr, nullptr, nullptr, nullptr));

    const std::size_t before = g_allocations;
    link->SetImageCrc(0x12345678);
    link->ShowText("Programming Application Code");
    EXPECT_EQ(RESULT_OK,
              link->ProgramApplication(image.data(), static_cast<std::uint32_t>(image.size()), 16));
    for (std::uint32_t offset = 0; offset < 0x40000; offset += 0x10000) {
        EXPECT_TRUE(link->ReadMemory(0x80000 + offset, 0x10000, readBack.data(), 4));
    }
    link->Erase(0x80000, 0x20000);
    link->Restart(0);
    EXPECT_EQ(before, g_allocations);

    // The boot download allocates its layout once per call, whatever its chunk count.
    EXPECT_EQ(RESULT_OK, link->ProgramBoot(image.data(), 133488, 0x40000));
    EXPECT_EQ(before + 1, g_allocations);
}

}  // namespace

void* operator new(std::size_t size) {
    ++g_allocations;
    if (void* memory = std::malloc(size != 0 ? size : 1)) {
        return memory;
    }
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
    return operator new(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    ++g_allocations;
    return std::malloc(size != 0 ? size : 1);
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
    return operator new(size, tag);
}
void operator delete(void* memory) noexcept {
    std::free(memory);
}
void operator delete[](void* memory) noexcept {
    std::free(memory);
}
void operator delete(void* memory, std::size_t) noexcept {
    std::free(memory);
}
void operator delete[](void* memory, std::size_t) noexcept {
    std::free(memory);
}
