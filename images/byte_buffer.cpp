#include "images/byte_buffer.h"

#include <new>

namespace {

class CSystemAllocator final : public IAllocator {
public:
    ByteBuffer Allocate(std::size_t size) override {
        return ByteBuffer(new (std::nothrow) std::uint8_t[size]);
    }
};

}  // namespace

IAllocator& SystemAllocator() {
    static CSystemAllocator allocator;
    return allocator;
}
