#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

// Owned byte buffers and the allocation seam. Every large buffer of a run (images,
// read-backs, the boot layout) comes from an IAllocator, so tests can make any one
// of them fail without exhausting the machine.

using ByteBuffer = std::unique_ptr<std::uint8_t[]>;

class IAllocator {
public:
    virtual ~IAllocator() = default;
    // Returns an uninitialised buffer of `size` bytes, or null when there is no memory.
    virtual ByteBuffer Allocate(std::size_t size) = 0;
};

// The allocator of the programs: operator new without exceptions.
IAllocator& SystemAllocator();
