#pragma once

#include <cstdint>
#include <vector>

// The simulated writer's flash: one byte-addressed area from address 0 that covers
// the two boot areas (0 and 0x40000) and the application area from 0x80000.
class CSimMemory {
public:
    static constexpr std::uint32_t APPLICATION_ADDRESS = 0x80000;
    static constexpr std::uint32_t DEFAULT_SIZE = APPLICATION_ADDRESS + 0x400000;
    static constexpr std::uint32_t ERASE_UNIT = 0x20000;

    enum class EFill {
        Erased,       // every byte 0xFF
        OldFirmware,  // a deterministic pattern standing for the firmware already there
    };

    explicit CSimMemory(std::uint32_t size = DEFAULT_SIZE, EFill fill = EFill::OldFirmware);

    std::uint32_t Size() const { return static_cast<std::uint32_t>(m_bytes.size()); }
    // True when [address, address + length) lies inside the memory.
    bool Holds(std::uint32_t address, std::uint32_t length) const;
    // The byte the old-firmware pattern has at an address.
    static std::uint8_t OldFirmwareByte(std::uint32_t address);
    // True when every byte of [address, address + length) is still the one the memory
    // was made with; false when the range reaches outside it.
    bool Unchanged(std::uint32_t address, std::uint32_t length) const;

    // Both need Holds(address, length).
    void Write(std::uint32_t address, const std::uint8_t* bytes, std::uint32_t length);
    const std::uint8_t* At(std::uint32_t address) const { return m_bytes.data() + address; }
    std::vector<std::uint8_t> Read(std::uint32_t address, std::uint32_t length) const;

    // Sets every erase unit that [address, address + length) touches to 0xFF. False,
    // with nothing erased, when the units reach outside the memory.
    bool Erase(std::uint32_t address, std::uint32_t length);

private:
    std::vector<std::uint8_t> m_bytes;
    EFill m_fill;
};
