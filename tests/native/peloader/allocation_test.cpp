// A file whose sizes ask for more memory than the host can give. This program
// replaces the global allocation functions so that a test can make large
// allocations fail; it is kept apart from the loader's other tests for that.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <new>

#include "peloader/loader.h"
#include "peImage.h"

namespace {

std::size_t allocationLimit = SIZE_MAX;

void* allocate(std::size_t size) {
    if (size > allocationLimit) return nullptr;
    return std::malloc(size ? size : 1);
}

}  // namespace

void* operator new(std::size_t size) {
    if (void* block = allocate(size)) return block;
    throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void operator delete(void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { std::free(block); }

namespace {

TEST(LoaderAllocation, SectionTooLargeForTheHostGivesNoProgram) {
    peimage::PeImage image;
    image.addSection(0x1000, 0x10000000, {0xC3}, peimage::codeSection);  // 256 MiB in memory
    std::string path = peimage::writeTempFile(
        "peloader_allocation_" + std::to_string(getpid()) + ".exe", image.build());
    allocationLimit = 64u << 20;
    std::unique_ptr<peloader::Program> program = peloader::loadProgram(path);
    allocationLimit = SIZE_MAX;
    std::filesystem::remove(path);
    EXPECT_EQ(program, nullptr);
}

}  // namespace
