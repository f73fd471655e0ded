#include "images/crc32.h"

namespace {

// The table all CCrc32 objects share, and its built flag. Both live for the whole
// program; the first construction builds the table. Every CCrc32 is used on one
// thread, so the lazy build needs no lock.
//
// g_crcTable[0] is the CRC table proper. The seven tables after it are derived from it
// once, in the same build, so Update can take eight bytes per step, still with one
// look-up per byte: entry i of table k is the register after byte i and k zero bytes.
std::uint32_t g_crcTable[8][256];
bool g_crcTableBuilt = false;

void BuildTable() {
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t x = i;
        for (int bit = 0; bit < 8; ++bit) {
            x = (x & 1u) != 0 ? (x >> 1) ^ 0xEDB88320u : x >> 1;
        }
        g_crcTable[0][i] = x;
    }
    for (int k = 1; k < 8; ++k) {
        for (std::uint32_t i = 0; i < 256; ++i) {
            const std::uint32_t previous = g_crcTable[k - 1][i];
            g_crcTable[k][i] = (previous >> 8) ^ g_crcTable[0][previous & 0xFFu];
        }
    }
    g_crcTableBuilt = true;
}

std::uint32_t Word(const std::uint8_t* bytes) {
    return static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8) |
           (static_cast<std::uint32_t>(bytes[2]) << 16) | (static_cast<std::uint32_t>(bytes[3]) << 24);
}

}  // namespace

CCrc32::CCrc32(std::uint32_t start) : m_crc(start) {
    if (!g_crcTableBuilt) {
        BuildTable();
    }
}

void CCrc32::Update(const std::uint8_t* data, std::size_t length) {
    const auto& t = g_crcTable;
    std::uint32_t crc = m_crc;
    for (; length >= 8; data += 8, length -= 8) {
        const std::uint32_t low = crc ^ Word(data);
        const std::uint32_t high = Word(data + 4);
        crc = t[7][low & 0xFFu] ^ t[6][(low >> 8) & 0xFFu] ^ t[5][(low >> 16) & 0xFFu] ^ t[4][low >> 24] ^
              t[3][high & 0xFFu] ^ t[2][(high >> 8) & 0xFFu] ^ t[1][(high >> 16) & 0xFFu] ^ t[0][high >> 24];
    }
    for (; length > 0; ++data, --length) {
        crc = (crc >> 8) ^ t[0][(crc ^ *data) & 0xFFu];
    }
    m_crc = crc;
}

std::uint32_t CCrc32::TableEntry(std::uint8_t index) {
    if (!g_crcTableBuilt) {
        BuildTable();
    }
    return g_crcTable[0][index];
}
