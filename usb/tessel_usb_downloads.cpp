#include <algorithm>
#include <cstring>
#include <optional>

#include "images/byte_buffer.h"
#include "images/crc32.h"
#include "usb/tessel_usb.h"

namespace {

constexpr std::uint32_t APPLICATION_CHUNK_SIZE = 65536;
// The 8-byte header of a layout for load address 0: its first word, and the second
// word of a layout that spans two blocks. The second word is this constant whatever
// the block size; the writer's boot loader expects exactly it.
constexpr std::uint32_t LAYOUT_HEADER_SIZE = 8;
constexpr std::uint32_t LAYOUT_HEADER_FIRST_WORD = 8;
constexpr std::uint32_t LAYOUT_TWO_BLOCKS_WORD = 0x20000;
// The largest boot block taken from a writer's report (see BootLayoutSize).
constexpr std::uint32_t MAX_BOOT_BLOCK_SIZE = 0x100000;
constexpr std::uint32_t INFO_AREA_SIZE = 44;
constexpr std::uint32_t INFO_OFFSET_BLOCK_SIZE = 36;
constexpr std::uint32_t INFO_OFFSET_RESERVE = 40;

bool UsesBootGeometry(std::uint32_t machineType) {
    return machineType == 16 || machineType == 17;
}

// The layout size L for an image of n bytes, or nothing when the geometry or the image
// cannot make a sound layout. The geometry comes from the writer, so it is taken only
// when it can be what it claims: a power-of-two block B of at most 1 MiB (no boot
// block is larger; this also keeps 2B from wrapping and the layout a small
// allocation), and a reserve R that leaves room for the header and at least one image
// byte in the first block (R < B - 8). The image must be 1 to 2B - R - 8 bytes for
// load address 0 and 1 to 2B bytes otherwise: what the layout can hold.
std::optional<std::uint32_t> BootLayoutSize(std::uint32_t blockSize, std::uint32_t reserve, std::uint32_t n,
                                            std::uint32_t loadAddress) {
    const bool powerOfTwo = blockSize != 0 && (blockSize & (blockSize - 1)) == 0;
    if (!powerOfTwo || blockSize <= LAYOUT_HEADER_SIZE || blockSize > MAX_BOOT_BLOCK_SIZE ||
        reserve >= blockSize - LAYOUT_HEADER_SIZE) {
        return std::nullopt;
    }
    const std::uint32_t firstPart = blockSize - reserve - LAYOUT_HEADER_SIZE;
    const std::uint32_t capacity =
        loadAddress == 0 ? 2 * blockSize - reserve - LAYOUT_HEADER_SIZE : 2 * blockSize;
    if (n == 0 || n > capacity) {
        return std::nullopt;
    }
    const std::uint32_t working = n > firstPart ? 2 * blockSize : n;
    return (blockSize + working - 1) & ~(blockSize - 1);
}

// Lays the image out in the L-byte buffer, which the caller has filled with 0xFF.
void FillBootLayout(std::uint8_t* layout, std::uint32_t layoutSize, std::uint32_t blockSize,
                    std::uint32_t reserve, const std::uint8_t* image, std::uint32_t n,
                    std::uint32_t loadAddress) {
    if (loadAddress != 0) {
        std::memcpy(layout, image, n);
        return;
    }
    const bool twoBlocks = layoutSize > blockSize;
    WriteLittleEndian32(layout, LAYOUT_HEADER_FIRST_WORD);
    WriteLittleEndian32(layout + 4, twoBlocks ? LAYOUT_TWO_BLOCKS_WORD : 0);
    const std::uint32_t firstPart = std::min(n, blockSize - reserve - LAYOUT_HEADER_SIZE);
    std::memcpy(layout + LAYOUT_HEADER_SIZE, image, firstPart);
    if (twoBlocks) {
        // The reserve at the end of the first block stays 0xFF; the rest of the image
        // opens the second block.
        std::memcpy(layout + blockSize, image + firstPart, n - firstPart);
    }
}

}  // namespace

std::int32_t CTesselUsb::SendChunk(const std::uint8_t* bytes, std::uint32_t size, std::uint32_t offset) {
    std::memcpy(RequestPayload(), bytes, size);
    WriteLittleEndian32(m_sendBuffer + HEADER_OFFSET_LENGTH, size);
    WriteLittleEndian32(m_sendBuffer + HEADER_OFFSET_PARAMETER + 4 * 3, offset);
    if (!Exchange()) {
        return RESULT_NO_CHUNK_REPLY;
    }
    const SUsbHeader reply = ReplyHeader();
    if (reply.command == CMD_CHUNK_ACCEPTED) {
        return RESULT_OK;
    }
    if (reply.command == CMD_ERROR) {
        return static_cast<std::int32_t>(reply.parameter[0]);
    }
    return RESULT_INVALID_REPLY;
}

std::int32_t CTesselUsb::ProgramApplication(const std::uint8_t* image, std::uint32_t length,
                                            std::uint32_t machineType) {
    if (machineType != m_machineType) {
        return RESULT_WRONG_MACHINE;
    }
    // A type-3 writer in boot mode that Identify took for a type 4 or 5 by its version
    // still expects its own type 3 in the download.
    const bool fromType3 =
        m_bootMode != 0 && ((m_machineType == 4 && m_version >= 0x50 && m_version <= 0x53) ||
                            (m_machineType == 5 && m_version >= 0x60 && m_version <= 0x62));
    const std::uint32_t typeSent = fromType3 ? 3 : machineType;
    if (length == 0) {
        return RESULT_OK;
    }
    SetRequest(CMD_PROGRAM_APPLICATION, 0, typeSent, 0, length, 0, DOWNLOAD_MARKER);
    for (std::uint32_t offset = 0; offset < length;) {
        const std::uint32_t size = std::min(APPLICATION_CHUNK_SIZE, length - offset);
        const std::int32_t result = SendChunk(image + offset, size, offset);
        if (result != RESULT_OK) {
            return result;
        }
        offset += size;
        if (m_observer != nullptr) {
            m_observer->ChunkTaken(offset, length);
        }
    }
    return RESULT_OK;
}

void CTesselUsb::LearnBootGeometry() {
    m_bootBlockSize = DEFAULT_BOOT_BLOCK_SIZE;
    m_bootReserve = DEFAULT_BOOT_RESERVE;
    std::uint8_t info[INFO_AREA_SIZE] = {};
    if (GetInfo(INFO_BOOT_GEOMETRY, info, INFO_AREA_SIZE) == 0) {
        return;
    }
    // A zero word means the writer keeps the default.
    if (const std::uint32_t blockSize = ReadLittleEndian32(info + INFO_OFFSET_BLOCK_SIZE); blockSize != 0) {
        m_bootBlockSize = blockSize;
    }
    if (const std::uint32_t reserve = ReadLittleEndian32(info + INFO_OFFSET_RESERVE); reserve != 0) {
        m_bootReserve = reserve;
    }
}

std::int32_t CTesselUsb::ProgramBoot(const std::uint8_t* image, std::uint32_t length,
                                     std::uint32_t loadAddress) {
    CCrc32 crc(CCrc32::START);
    if (!UsesBootGeometry(m_machineType)) {
        return RESULT_OK;
    }
    LearnBootGeometry();
    const std::optional<std::uint32_t> layoutSize =
        BootLayoutSize(m_bootBlockSize, m_bootReserve, length, loadAddress);
    if (!layoutSize) {
        return RESULT_INVALID_REPLY;  // nothing is sent for a layout that cannot be sound
    }
    const std::uint32_t total = *layoutSize;
    SetRequest(CMD_PROGRAM_BOOT, 0, m_machineType, loadAddress, total, 0, DOWNLOAD_MARKER);

    const ByteBuffer layout = m_allocator.Allocate(total);
    if (!layout) {
        return RESULT_INVALID_REPLY;
    }
    std::memset(layout.get(), 0xFF, total);
    FillBootLayout(layout.get(), total, m_bootBlockSize, m_bootReserve, image, length, loadAddress);
    crc.Update(layout.get(), total);
    SetImageCrc(crc.Value());

    // SetImageCrc gave the prepared header back; the total is taken from it, bounded by
    // the buffer so a changed header could never send bytes from outside it.
    const std::uint32_t sent =
        std::min(ReadLittleEndian32(m_sendBuffer + HEADER_OFFSET_PARAMETER + 4 * 2), total);
    const std::uint32_t chunkLimit = std::min(m_transferBlockSize, MAX_PAYLOAD_SIZE);
    for (std::uint32_t offset = 0;;) {
        const std::uint32_t size = std::min(chunkLimit, sent - offset);
        if (size == 0) {
            return RESULT_OK;
        }
        const std::int32_t result = SendChunk(layout.get() + offset, size, offset);
        if (result != RESULT_OK) {
            return result;
        }
        offset += size;
        if (m_observer != nullptr) {
            m_observer->ChunkTaken(offset, sent);
        }
    }
}
