#pragma once

#include <cstddef>
#include <cstdint>

#include "images/byte_buffer.h"

// An allocator that knows which of its buffers are still alive. The test program
// replaces the global array new and delete (release_tracking.cpp), so a buffer counts
// as released the moment its owner lets it go, on whatever path.
class CTrackingAllocator final : public IAllocator {
public:
    ByteBuffer Allocate(std::size_t size) override;

    // Buffers handed out by this allocator, and those of them not yet released.
    std::uint32_t Allocations() const { return m_allocations; }
    std::uint32_t Live() const;

    // The `failAt`-th allocation (1-based) fails; 0: none does.
    std::uint32_t failAt = 0;

private:
    std::uint32_t m_allocations = 0;
};
