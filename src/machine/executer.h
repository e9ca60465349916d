// The x86 interpreter and the run loop.
#pragma once

#include <cstdint>

#include "types.h"

namespace machine {

using app::Addr;

// The return address that callGuest pushes; never memory, never a handler.
constexpr Addr guestReturnSentinel{0xFFFFFFF0};

// Runs guest code from target until it returns to the sentinel or the halt
// flag is set. Handlers may nest it, up to maxGuestCallDepth runs at once;
// one more is refused before it pushes anything.
constexpr uint32_t maxGuestCallDepth = 64;
void callGuest(Addr target);
// Test hook: entries of the run loop's flat handler table for the code block
// (one per byte up to the highest handler bound there), as the next run
// would build it.
uint32_t codeHandlerTableSizeForTests();

// Decodes and carries out one instruction at eip.
void executeInstruction();

// ---- Decoder state and helpers shared by the instruction families ---------
extern bool fsPrefix;           // 0x64
extern bool addressSizePrefix;  // 0x67
extern bool repPrefix;          // 0xF3
extern bool operandSizePrefix;  // 0x66
extern Addr instructionStart;   // first byte of the instruction (its first prefix)
extern uint8_t opcode;          // the byte after the prefixes

uint8_t fetchByte();
Addr decodeModRMAddress(uint8_t modrm);
Addr decodeModRMAddress16(uint8_t modrm);
Addr decodeSIBAddress(uint8_t mod);

// The x87 escapes (D8, D9, DB to DF) and FWAIT (9B), in the x87 family file.
void executeFpuD8();
void executeFpuD9();
void executeFpuDB();
void executeFpuDC();
void executeFpuDD();
void executeFpuDE();
void executeFpuDF();
void executeWait();
// Test hook: the x87 family's own state (which exceptions the guest's control
// word unmasks) back to its start; the host unit is left as it is.
void resetX87ForTests();

void resetDecoderForTests();

}  // namespace machine
