// Reads a PE32 (i386) executable into a Program.
#pragma once

#include <memory>
#include <string>

#include "PELoader/program.h"

namespace peloader {

// Returns no Program for any file it refuses; never logs, never throws for
// file contents.
std::unique_ptr<Program> loadProgram(const std::string& path);

}  // namespace peloader
