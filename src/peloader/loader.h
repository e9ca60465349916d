// Reads a PE32 (i386) executable into a Program.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "peloader/program.h"
#include "types.h"

namespace peloader {

// Returns no Program for any file it refuses, also for one whose stream fails
// or whose sizes make an allocation fail; never logs. Raises app::RangeError
// for an export name whose ordinal lies outside the export function table.
std::unique_ptr<Program> loadProgram(const std::string& path);

// Test hook: the loader opens its file through opener instead of
// app::openFile (nullptr restores that), so that a test can hand it a stream
// that fails part-way.
using FileOpener = std::FILE* (*)(const std::string& path, const char* mode);
void setFileOpenerForTests(FileOpener opener);

// File offset of an RVA, by the section that holds its directory (wrapping;
// the section's size takes no part).
uint32_t rvaToFileOffset(uint32_t virtualAddress, uint32_t virtualSize,
                         uint32_t pointerToRawData, uint32_t rva);

}  // namespace peloader
