// The guest's C strings as host strings.
//
// A guest string is a NUL-terminated run of bytes inside one guest memory
// block; the host string made from it is a new copy, never a view. Bytes
// above 126 are refused; bytes 1 to 31 pass unchanged (no code-page work).
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "types.h"

namespace platform {

using app::Addr;

// The guest string at address; the null address gives "".
std::string getString(Addr address);
// A copy of the bytes, refusing any byte for which isUnsupportedChar holds.
std::string toAsciiString(std::span<const uint8_t> bytes);
// True for a byte above 126.
bool isUnsupportedChar(uint8_t byte);

// The string whose address is the dword at slot.
std::string stringArg(Addr slot);
// The string whose address is stdcall argument k (the dword at esp + 4k).
std::string stringArg(uint32_t k);

}  // namespace platform
