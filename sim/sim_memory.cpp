#include "sim/sim_memory.h"

#include <algorithm>

CSimMemory::CSimMemory(std::uint32_t size, EFill fill) : m_bytes(size, 0xFF), m_fill(fill) {
    if (fill == EFill::OldFirmware) {
        for (std::uint32_t address = 0; address < size; ++address) {
            m_bytes[address] = OldFirmwareByte(address);
        }
    }
}

std::uint8_t CSimMemory::OldFirmwareByte(std::uint32_t address) {
    // Varies within every byte run and never repeats a 0xFF fill, so a read-back that
    // was not programmed cannot pass for one that was.
    return static_cast<std::uint8_t>((address * 7u + (address >> 8) * 13u + 0x21u) % 0xFFu);
}

bool CSimMemory::Holds(std::uint32_t address, std::uint32_t length) const {
    return address <= m_bytes.size() && length <= m_bytes.size() - address;
}

bool CSimMemory::Unchanged(std::uint32_t address, std::uint32_t length) const {
    if (!Holds(address, length)) {
        return false;
    }
    for (std::uint32_t i = 0; i < length; ++i) {
        const std::uint32_t at = address + i;
        const std::uint8_t made = m_fill == EFill::OldFirmware ? OldFirmwareByte(at) : std::uint8_t{0xFF};
        if (m_bytes[at] != made) {
            return false;
        }
    }
    return true;
}

void CSimMemory::Write(std::uint32_t address, const std::uint8_t* bytes, std::uint32_t length) {
    std::copy(bytes, bytes + length, m_bytes.begin() + address);
}

std::vector<std::uint8_t> CSimMemory::Read(std::uint32_t address, std::uint32_t length) const {
    return std::vector<std::uint8_t>(m_bytes.begin() + address, m_bytes.begin() + address + length);
}

bool CSimMemory::Erase(std::uint32_t address, std::uint32_t length) {
    if (length == 0) {
        return Holds(address, 0);
    }
    const std::uint64_t first = address & ~std::uint64_t{ERASE_UNIT - 1};
    const std::uint64_t end =
        (std::uint64_t{address} + length + ERASE_UNIT - 1) & ~std::uint64_t{ERASE_UNIT - 1};
    if (end > m_bytes.size()) {
        return false;
    }
    std::fill(m_bytes.begin() + static_cast<std::ptrdiff_t>(first),
              m_bytes.begin() + static_cast<std::ptrdiff_t>(end), std::uint8_t{0xFF});
    return true;
}
