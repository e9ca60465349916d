// Linked into a test program, allocationLimit.cpp replaces the global
// allocation functions: a test can make large allocations fail (bad_alloc,
// nothing committed) and read the most memory the program held at once.
// A program that links it is kept apart from the other tests of its package.
#pragma once

#include <cstddef>
#include <cstdint>

namespace testalloc {

// Allocations larger than this fail.
extern std::size_t allocationLimit;

// Bytes held through operator new now, and the most held since the last
// resetPeak.
std::size_t liveBytes();
std::size_t peakBytes();
void resetPeak();

// Sets the limit for one scope.
struct LimitAllocations {
    explicit LimitAllocations(std::size_t limit) { allocationLimit = limit; }
    ~LimitAllocations() { allocationLimit = SIZE_MAX; }
    LimitAllocations(const LimitAllocations&) = delete;
    LimitAllocations& operator=(const LimitAllocations&) = delete;
};

}  // namespace testalloc
