// libFuzzer target: loadProgram on any bytes returns a Program or none; it
// never crashes, reads out of bounds, leaks, or allocates beyond the file.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "peloader/loader.h"

namespace {

// Section data is VirtualSize bytes per section, which the file does not
// bound (a section may be mostly zeros in memory). Inputs declaring more than
// this in all are skipped, so that every run stays small and fast.
constexpr uint64_t virtualSizeBudget = 1u << 20;

bool read32(const uint8_t* data, size_t size, uint64_t offset, uint32_t& value) {
    if (offset + 4 > size) return false;
    value = uint32_t(data[offset]) | uint32_t(data[offset + 1]) << 8 |
            uint32_t(data[offset + 2]) << 16 | uint32_t(data[offset + 3]) << 24;
    return true;
}

// The sum of VirtualSize over the complete section-table entries, found as
// the loader finds them.
bool declaresTooMuchMemory(const uint8_t* data, size_t size) {
    uint32_t peOffset, counts, sizes;
    if (!read32(data, size, 0x3C, peOffset) ||
        !read32(data, size, uint64_t(peOffset) + 4, counts) ||
        !read32(data, size, uint64_t(peOffset) + 20, sizes))
        return false;
    uint32_t sectionCount = counts >> 16;
    uint64_t table = uint64_t(peOffset) + 24 + (sizes & 0xFFFF);
    uint64_t total = 0;
    for (uint32_t i = 0; i < sectionCount; ++i) {
        uint32_t virtualSize;
        if (table + 40 * uint64_t(i + 1) > size) break;
        read32(data, size, table + 40 * uint64_t(i) + 8, virtualSize);
        total += virtualSize;
    }
    return total > virtualSizeBudget;
}

// The loader reads a file by path: each input is written to this one, in
// memory where the system has /dev/shm (rewriting a file on disk costs a
// flush each time on ext4), else in the working folder.
const std::string& inputPath() {
    static const std::string path =
        std::string(std::filesystem::is_directory("/dev/shm") ? "/dev/shm/" : "") +
        "peloader-fuzz-input-" + std::to_string(getpid()) + ".exe";
    static const bool removedAtExit = [] {
        std::atexit([] { std::remove(inputPath().c_str()); });
        return true;
    }();
    (void)removedAtExit;
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (declaresTooMuchMemory(data, size)) return 0;
    std::FILE* file = std::fopen(inputPath().c_str(), "wb");
    if (!file) std::abort();
    if (size) std::fwrite(data, 1, size, file);
    std::fclose(file);

    try {
        std::unique_ptr<peloader::Program> program = peloader::loadProgram(inputPath());
        if (program) {
            // Touch what a load produced, so that a bad size shows here.
            volatile uint8_t sink = 0;
            for (const peloader::Section& section : program->sections)
                if (!section.data.empty()) sink = sink + section.data.back();
            (void)sink;
        }
    } catch (const app::RangeError&) {
        // An export name's ordinal outside the function table: raised by design.
    }
    return 0;
}
