#include "tests/fault/release_tracking.h"

#include <array>
#include <cstdlib>
#include <new>

namespace {

// Buffers of the tracking allocators that have not been released. A run holds only a
// handful at a time; a fixed table keeps operator delete[] free of allocations.
constexpr std::size_t MAX_TRACKED = 256;
std::array<void*, MAX_TRACKED> g_live{};

void Track(void* pointer) {
    for (void*& slot : g_live) {
        if (slot == nullptr) {
            slot = pointer;
            return;
        }
    }
    std::abort();  // more live buffers than any run holds: a leak in the making
}

void Forget(void* pointer) {
    if (pointer == nullptr) {
        return;
    }
    for (void*& slot : g_live) {
        if (slot == pointer) {
            slot = nullptr;
            return;
        }
    }
}

}  // namespace

ByteBuffer CTrackingAllocator::Allocate(std::size_t size) {
    if (++m_allocations == failAt) {
        return nullptr;
    }
    ByteBuffer buffer(new (std::nothrow) std::uint8_t[size]);
    if (buffer) {
        Track(buffer.get());
    }
    return buffer;
}

std::uint32_t CTrackingAllocator::Live() const {
    std::uint32_t live = 0;
    for (void* slot : g_live) {
        live += slot != nullptr ? 1 : 0;
    }
    return live;
}

// Array new and delete of the whole test program: malloc and free underneath (so the
// sanitizers still see every block), with released buffers taken off the table.
void* operator new[](std::size_t size) {
    if (void* pointer = std::malloc(size == 0 ? 1 : size)) {
        return pointer;
    }
    throw std::bad_alloc();
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return std::malloc(size == 0 ? 1 : size);
}

void operator delete[](void* pointer) noexcept {
    Forget(pointer);
    std::free(pointer);
}

void operator delete[](void* pointer, std::size_t) noexcept {
    Forget(pointer);
    std::free(pointer);
}

void operator delete[](void* pointer, const std::nothrow_t&) noexcept {
    Forget(pointer);
    std::free(pointer);
}
