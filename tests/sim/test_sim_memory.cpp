#include <gtest/gtest.h>

#include <ostream>

#include "sim/sim_memory.h"

namespace {

TEST(SimMemory, StartsErasedOrWithOldFirmware) {
    const CSimMemory erased(0x100000, CSimMemory::EFill::Erased);
    const CSimMemory old(0x100000, CSimMemory::EFill::OldFirmware);
    for (std::uint32_t address = 0; address < 0x100000; ++address) {
        ASSERT_EQ(0xFF, *erased.At(address));
        // The old firmware never looks erased.
        ASSERT_EQ(CSimMemory::OldFirmwareByte(address), *old.At(address));
        ASSERT_NE(0xFF, *old.At(address));
    }
}

TEST(SimMemory, DefaultCoversBootAreasAndARoomyApplicationArea) {
    const CSimMemory memory;
    EXPECT_TRUE(memory.Holds(0, 0x80000));
    EXPECT_TRUE(memory.Holds(CSimMemory::APPLICATION_ADDRESS, 0x400000));
    EXPECT_FALSE(memory.Holds(CSimMemory::APPLICATION_ADDRESS, 0x400001));
    EXPECT_FALSE(memory.Holds(0xFFFFFFFF, 2));  // must not wrap
}

struct SEraseCase {
    const char* name;
    std::uint32_t address, length;
    std::uint32_t erasedFrom, erasedTo;  // erasedFrom == erasedTo: nothing erased
};

void PrintTo(const SEraseCase& c, std::ostream* out) {
    *out << c.name;
}

class SimMemoryErase : public ::testing::TestWithParam<SEraseCase> {};

TEST_P(SimMemoryErase, ClearsEveryUnitTheRangeTouches) {
    const SEraseCase& c = GetParam();
    CSimMemory memory(0x100000, CSimMemory::EFill::OldFirmware);
    ASSERT_TRUE(memory.Erase(c.address, c.length));
    for (std::uint32_t address = 0; address < memory.Size(); ++address) {
        const bool erased = address >= c.erasedFrom && address < c.erasedTo;
        ASSERT_EQ(erased ? 0xFF : CSimMemory::OldFirmwareByte(address), *memory.At(address)) << address;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, SimMemoryErase,
    ::testing::Values(SEraseCase{"NothingForZeroLength", 0x40000, 0, 0, 0},
                      SEraseCase{"OneByteAtAUnitStart", 0x40000, 1, 0x40000, 0x60000},
                      SEraseCase{"OneByteInsideAUnit", 0x40001, 1, 0x40000, 0x60000},
                      SEraseCase{"TwoBytesAcrossAUnitBoundary", 0x5FFFF, 2, 0x40000, 0x80000},
                      SEraseCase{"TwoWholeUnits", 0x40000, 0x40000, 0x40000, 0x80000},
                      SEraseCase{"LastUnitOfTheMemory", 0xE0000, 0x20000, 0xE0000, 0x100000}),
    [](const ::testing::TestParamInfo<SEraseCase>& param) { return param.param.name; });

TEST(SimMemory, Unchanged_UntilAByteDiffersFromTheFillOfItsMaking) {
    for (const CSimMemory::EFill fill : {CSimMemory::EFill::Erased, CSimMemory::EFill::OldFirmware}) {
        CSimMemory memory(0x100000, fill);
        EXPECT_TRUE(memory.Unchanged(0, 0x100000));
        const std::uint8_t byte = 0x5A;
        memory.Write(0x8FFFF, &byte, 1);
        EXPECT_FALSE(memory.Unchanged(0x80000, 0x20000));
        EXPECT_TRUE(memory.Unchanged(0x80000, 0xFFFF));
        EXPECT_TRUE(memory.Unchanged(0x90000, 0x70000));
        EXPECT_FALSE(memory.Unchanged(0x90000, 0x70001));  // reaches outside
    }
    CSimMemory old(0x100000, CSimMemory::EFill::OldFirmware);
    ASSERT_TRUE(old.Erase(0x20000, 1));
    EXPECT_FALSE(old.Unchanged(0x20000, 1));  // erased is not what it was made with
    EXPECT_TRUE(old.Unchanged(0, 0x20000));
}

TEST(SimMemory, EraseReachingOutside_ErasesNothing) {
    CSimMemory memory(0x100000, CSimMemory::EFill::OldFirmware);
    EXPECT_FALSE(memory.Erase(0xE0000, 0x20001));
    EXPECT_FALSE(memory.Erase(0xFFFFFFFF, 1));
    EXPECT_EQ(CSimMemory::OldFirmwareByte(0xE0000), *memory.At(0xE0000));
}

}  // namespace
