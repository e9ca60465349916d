// Comparison, increment and decrement: CMP (SUB without write-back), INC and
// DEC (which leave CF alone).
#include "machine/executer_internal.h"

namespace machine {

// ---- CMP ----------------------------------------------------------------------

// 3A: CMP r8, r/m8
void executeCmp8() {
    uint8_t modrm = fetchByte();
    Val8 dst = getReg8(regField(modrm));
    coreSub(dst, readRm<Val8>(decodeRm(modrm)));
}

// 3B: CMP r32, r/m32
void executeCmp() {
    uint8_t modrm = fetchByte();
    Val32 dst = state.reg[regField(modrm)];
    coreSub(dst, readRm<Val32>(decodeRm(modrm)));
}

// 66 3B: CMP r16, r/m16
void executeCmp16() {
    uint8_t modrm = fetchByte();
    Val16 dst = getReg16(regField(modrm));
    coreSub(dst, readRm<Val16>(decodeRm(modrm)));
}

// 3C: CMP AL, imm8
void executeCmpAlImm8() { coreSub(getReg8(EAX), fetchImm<Val8>()); }

// 3D: CMP EAX, imm32
void executeCmpEaxImm32() { coreSub(state.eax, fetchImm<Val32>()); }

// 66 3D: CMP AX, imm16
void executeCmpAxImm16() { coreSub(getReg16(EAX), fetchImm<Val16>()); }

// 80 /7, 81 /7, 83 /7 and 66 83 /7: CMP r/m, imm
void executeCmpRm8Imm8(uint8_t modrm) { flagsOfRmWithImm<Val8, coreSub<Val8>>(modrm); }
void executeCmpRmImm32(uint8_t modrm) { flagsOfRmWithImm<Val32, coreSub<Val32>>(modrm); }
void executeCmpRmImm8(uint8_t modrm) { flagsOfRmWithImm8SignExtended<Val32, coreSub<Val32>>(modrm); }
void executeCmpRm16Imm8(uint8_t modrm) { flagsOfRmWithImm8SignExtended<Val16, coreSub<Val16>>(modrm); }

// ---- INC and DEC ------------------------------------------------------------------

void executeInc(uint32_t r) { state.reg[r] = coreInc(state.reg[r]); }     // 40+r
void executeInc16(uint32_t r) { setReg16(r, coreInc(getReg16(r))); }     // 66 40+r
void executeDec(uint32_t r) { state.reg[r] = coreDec(state.reg[r]); }     // 48+r
void executeDec16(uint32_t r) { setReg16(r, coreDec(getReg16(r))); }     // 66 48+r

void executeIncRm(uint8_t modrm) { updateRm<Val32, coreInc<Val32>>(modrm); }  // FF /0: INC r/m32
void executeDecRm8(uint8_t modrm) { updateRm<Val8, coreDec<Val8>>(modrm); }  // FE /1: DEC r/m8
void executeDecRm(uint8_t modrm) { updateRm<Val32, coreDec<Val32>>(modrm); }  // FF /1: DEC r/m32

}  // namespace machine
