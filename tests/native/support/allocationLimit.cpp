// Every block carries its size in front, so that the bytes held are known.
#include "allocationLimit.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

namespace testalloc {

std::size_t allocationLimit = SIZE_MAX;

namespace {

constexpr std::size_t sizeField = alignof(std::max_align_t);  // keeps the block aligned
std::size_t live = 0;
std::size_t peak = 0;

void* allocate(std::size_t size) {
    if (size > allocationLimit) return nullptr;
    auto* block = static_cast<unsigned char*>(std::malloc(sizeField + size));
    if (block == nullptr) return nullptr;
    std::memcpy(block, &size, sizeof size);
    live += size;
    peak = std::max(peak, live);
    return block + sizeField;
}

void release(void* pointer) {
    if (pointer == nullptr) return;
    unsigned char* block = static_cast<unsigned char*>(pointer) - sizeField;
    std::size_t size;
    std::memcpy(&size, block, sizeof size);
    live -= size;
    std::free(block);
}

}  // namespace

std::size_t liveBytes() { return live; }
std::size_t peakBytes() { return peak; }
void resetPeak() { peak = live; }

}  // namespace testalloc

// Every form, so that no block is freed by an allocator that did not make it.
void* operator new(std::size_t size) {
    if (void* block = testalloc::allocate(size)) return block;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return testalloc::allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return testalloc::allocate(size); }
void operator delete(void* block) noexcept { testalloc::release(block); }
void operator delete[](void* block) noexcept { testalloc::release(block); }
void operator delete(void* block, std::size_t) noexcept { testalloc::release(block); }
void operator delete[](void* block, std::size_t) noexcept { testalloc::release(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { testalloc::release(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { testalloc::release(block); }
