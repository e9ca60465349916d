// Reads a PE32 (i386) executable into a Program.
#pragma once

#include <memory>
#include <string>

#include "PELoader/program.h"
#include "types.h"

namespace peloader {

// Returns no Program for any file it refuses; never logs. Raises IoError when
// the stream itself fails (not for a file that merely ends too soon), and
// app::RangeError for an export name whose ordinal lies outside the export
// function table.
std::unique_ptr<Program> loadProgram(const std::string& path);

// File offset of an RVA, by the section that holds its directory (wrapping;
// the section's size takes no part).
uint32_t rvaToFileOffset(uint32_t virtualAddress, uint32_t virtualSize,
                         uint32_t pointerToRawData, uint32_t rva);

// A seek, a position query or a read that the file stream reports as failed.
class IoError : public app::Exception {
public:
    explicit IoError(std::string message, const char* file = __builtin_FILE(),
                     int line = __builtin_LINE())
        : Exception(std::move(message), file, line) {}
    const char* kind() const override { return "IoError"; }
};

}  // namespace peloader
