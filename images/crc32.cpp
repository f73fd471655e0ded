#include "images/crc32.h"

namespace {

// The table all CCrc32 objects share, and its built flag. Both live for
// the whole program; the first construction builds the table. Every CCrc32 is used on
// one thread, so the lazy build needs no lock.
std::uint32_t g_crcTable[256];
bool g_crcTableBuilt = false;

void BuildTable() {
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t x = i;
        for (int bit = 0; bit < 8; ++bit) {
            x = (x & 1u) != 0 ? (x >> 1) ^ 0xEDB88320u : x >> 1;
        }
        g_crcTable[i] = x;
    }
    g_crcTableBuilt = true;
}

}  // namespace

CCrc32::CCrc32(std::uint32_t start) : m_crc(start) {
    if (!g_crcTableBuilt) {
        BuildTable();
    }
}

void CCrc32::Update(const std::uint8_t* data, std::size_t length) {
    std::uint32_t crc = m_crc;
    for (std::size_t i = 0; i < length; ++i) {
        crc = (crc >> 8) ^ g_crcTable[(crc ^ data[i]) & 0xFFu];
    }
    m_crc = crc;
}

std::uint32_t CCrc32::TableEntry(std::uint8_t index) {
    if (!g_crcTableBuilt) {
        BuildTable();
    }
    return g_crcTable[index];
}
