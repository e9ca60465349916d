// The guest addresses that tests and benchmarks share: the addresses the
// machine reserves, and the layouts of the small guests the suites build.
// Suites and benchmarks take their stack, code and data addresses from here
// instead of typing them again.
//
//   the instruction guest (guestFixture.h, the differentials, x87, benchmarks)
//     stack  0x100000 - 0x110000   esp at its top
//     code   0x401000 -            eip at its start
//     data   0x500000 -
//   the handler guest (guestCall.h)
//     stack  0x100000 - 0x110000
//     code   0x401000 - 0x410000   0xCC throughout
//     data   0x410000 - 0x420000   then the heap
#pragma once

#include <cstdint>

#include "machine/machineState.h"
#include "peloader/program.h"
#include "types.h"

namespace guestLayout {

// ---- Addresses the machine reserves -------------------------------------------

// Every guest's stack block starts here; the image's sections lie above it.
constexpr uint32_t stackStart = 0x100000;
// The one block of host memory mapped into the guest (a memory layer's pixels).
constexpr uint32_t mappedMemory = 0xE0000000;
// From here up: native functions and the run loop's sentinel, never memory.
constexpr uint32_t reservedStart = 0xF0000000;
// The first function of the first registrar (kernel32's ExitProcess).
constexpr uint32_t firstNativeFunction = 0xF0001000;

static_assert(stackStart == peloader::stackStart);
static_assert(mappedMemory == machine::mappedMemoryAddress.v);
static_assert(reservedStart == app::reservedAddressStart);

// ---- The instruction guest ----------------------------------------------------

constexpr uint32_t stackSize = 0x10000;
constexpr uint32_t stackTop = stackStart + stackSize;
constexpr uint32_t codeStart = 0x401000;
constexpr uint32_t dataStart = 0x500000;

// ---- The handler guest --------------------------------------------------------

constexpr uint32_t callCodeSize = 0xF000;
constexpr uint32_t callDataStart = codeStart + callCodeSize;
constexpr uint32_t callDataSize = 0x10000;
constexpr uint32_t callHeapStart = callDataStart + callDataSize;

}  // namespace guestLayout
