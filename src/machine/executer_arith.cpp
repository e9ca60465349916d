// Addition and subtraction: ADD, ADC, SUB, SBB and NEG. The flag rules are
// the cores in executer_internal.h; each handler is fetch, core, write-back.
#include "machine/executer_internal.h"

namespace machine {

// ---- ADD ----------------------------------------------------------------------

void executeAdd() { updateRmWithReg<Val32, coreAdd<Val32>>(); }     // 01: ADD r/m32, r32
void executeAddRRm() { updateRegWithRm<Val32, coreAdd<Val32>>(); }  // 03: ADD r32, r/m32
void executeAddEaxImm32() { state.eax = coreAdd(state.eax, fetchImm<Val32>()); }  // 05
void executeAddRm8Imm8(uint8_t modrm) { updateRmWithImm<Val8, coreAdd<Val8>>(modrm); }    // 80 /0
void executeAddRmImm32(uint8_t modrm) { updateRmWithImm<Val32, coreAdd<Val32>>(modrm); }  // 81 /0
void executeAddRmImm8(uint8_t modrm) { updateRmWithImm8SignExtended<Val32, coreAdd<Val32>>(modrm); }  // 83 /0

// ---- ADC ----------------------------------------------------------------------

void executeAdc(uint8_t modrm) { updateRmWithImm8SignExtended<Val32, coreAdc<Val32>>(modrm); }  // 83 /2

// ---- SUB ----------------------------------------------------------------------

void executeSub() { updateRmWithReg<Val32, coreSub<Val32>>(); }     // 29: SUB r/m32, r32
void executeSubRRm() { updateRegWithRm<Val32, coreSub<Val32>>(); }  // 2B: SUB r32, r/m32
void executeSubEaxImm32() { state.eax = coreSub(state.eax, fetchImm<Val32>()); }           // 2D
void executeSubAxImm16() { setReg16(EAX, coreSub(getReg16(EAX), fetchImm<Val16>())); }     // 66 2D
void executeSubRmImm32(uint8_t modrm) { updateRmWithImm<Val32, coreSub<Val32>>(modrm); }   // 81 /5
void executeSubRm16Imm16(uint8_t modrm) { updateRmWithImm<Val16, coreSub<Val16>>(modrm); } // 66 81 /5
void executeSubRmImm8(uint8_t modrm) { updateRmWithImm8SignExtended<Val32, coreSub<Val32>>(modrm); }  // 83 /5

// ---- SBB and NEG ----------------------------------------------------------------

void executeSbb() { updateRegWithRm<Val32, coreSbb<Val32>>(); }  // 1B: SBB r32, r/m32
void executeNeg(uint8_t modrm) { updateRm<Val32, coreNeg<Val32>>(modrm); }  // F7 /3

}  // namespace machine
