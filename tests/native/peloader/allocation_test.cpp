// A file whose sizes ask for more memory than the host can give. The program
// replaces the global allocation functions so that a test can make large
// allocations fail; it is kept apart from the loader's other tests for that.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "allocationLimit.h"
#include "peloader/loader.h"
#include "peImage.h"

namespace {

TEST(LoaderAllocation, SectionTooLargeForTheHostGivesNoProgram) {
    peimage::PeImage image;
    image.addSection(0x1000, 0x10000000, {0xC3}, peimage::codeSection);  // 256 MiB in memory
    std::string path = peimage::writeTempFile(
        "peloader_allocation_" + std::to_string(getpid()) + ".exe", image.build());
    std::unique_ptr<peloader::Program> program;
    {
        testalloc::LimitAllocations limit(64u << 20);
        program = peloader::loadProgram(path);
    }
    std::filesystem::remove(path);
    EXPECT_EQ(program, nullptr);
}

}  // namespace
