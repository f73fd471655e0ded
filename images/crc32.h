#pragma once

#include <cstddef>
#include <cstdint>

// CRC-32 register with the reflected polynomial 0xEDB88320. Value() is the raw
// register without a final complement (with the start value 0xFFFFFFFF this is
// CRC-32/JAMCRC, the complement of the zlib CRC-32). The writer compares against the
// same raw value, so it must never be inverted.
class CCrc32 {
public:
    static constexpr std::uint32_t START = 0xFFFFFFFFu;

    explicit CCrc32(std::uint32_t start = START);

    void Reset() { m_crc = START; }
    void Update(const std::uint8_t* data, std::size_t length);
    std::uint32_t Value() const { return m_crc; }

    // Entry `index` of the shared table (for tests).
    static std::uint32_t TableEntry(std::uint8_t index);

private:
    std::uint32_t m_crc;
};
