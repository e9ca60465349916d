// Addition and subtraction: ADD, ADC, SUB, SBB and NEG. The flag rules are
// the cores in executer_internal.h; each handler is fetch, core, write-back.
#include "machine/executer_internal.h"

namespace machine {

// ---- ADD ----------------------------------------------------------------------

// 01: ADD r/m32, r32
void executeAdd() {
    uint8_t modrm = fetchByte();
    Val32 src = state.reg[regField(modrm)];
    RmOperand dst = decodeRm(modrm);
    writeRm(dst, coreAdd(readRmForUpdate<Val32>(dst), src));
}

// 03: ADD r32, r/m32
void executeAddRRm() {
    uint8_t modrm = fetchByte();
    uint32_t r = regField(modrm);
    state.reg[r] = coreAdd(state.reg[r], readRm<Val32>(decodeRm(modrm)));
}

// 05: ADD EAX, imm32
void executeAddEaxImm32() { state.eax = coreAdd(state.eax, fetchImm<Val32>()); }

// 80 /0: ADD r/m8, imm8
void executeAddRm8Imm8(uint8_t modrm) {
    RmOperand dst = decodeRm(modrm);
    Val8 value = readRmForUpdate<Val8>(dst);
    writeRm(dst, coreAdd(value, fetchImm<Val8>()));
}

// 81 /0: ADD r/m32, imm32
void executeAddRmImm32(uint8_t modrm) {
    RmOperand dst = decodeRm(modrm);
    Val32 value = readRmForUpdate<Val32>(dst);
    writeRm(dst, coreAdd(value, fetchImm<Val32>()));
}

// 83 /0: ADD r/m32, imm8 sign-extended
void executeAddRmImm8(uint8_t modrm) {
    RmOperand dst = decodeRm(modrm);
    Val32 value = readRmForUpdate<Val32>(dst);
    writeRm(dst, coreAdd(value, fetchImm8SignExtended<Val32>()));
}

// ---- ADC ----------------------------------------------------------------------

// 83 /2: ADC r/m32, imm8 sign-extended
void executeAdc(uint8_t modrm) {
    RmOperand dst = decodeRm(modrm);
    Val32 value = readRmForUpdate<Val32>(dst);
    writeRm(dst, coreAdc(value, fetchImm8SignExtended<Val32>()));
}

// ---- SUB ----------------------------------------------------------------------

// 29: SUB r/m32, r32
void executeSub() {
    uint8_t modrm = fetchByte();
    Val32 src = state.reg[regField(modrm)];
    RmOperand dst = decodeRm(modrm);
    writeRm(dst, coreSub(readRmForUpdate<Val32>(dst), src));
}

// 2B: SUB r32, r/m32
void executeSubRRm() {
    uint8_t modrm = fetchByte();
    uint32_t r = regField(modrm);
    state.reg[r] = coreSub(state.reg[r], readRm<Val32>(decodeRm(modrm)));
}

// 2D: SUB EAX, imm32
void executeSubEaxImm32() { state.eax = coreSub(state.eax, fetchImm<Val32>()); }

// 66 2D: SUB AX, imm16
void executeSubAxImm16() { setReg16(EAX, coreSub(getReg16(EAX), fetchImm<Val16>())); }

// 81 /5: SUB r/m32, imm32
void executeSubRmImm32(uint8_t modrm) {
    RmOperand dst = decodeRm(modrm);
    Val32 value = readRmForUpdate<Val32>(dst);
    writeRm(dst, coreSub(value, fetchImm<Val32>()));
}

// 66 81 /5: SUB r/m16, imm16
void executeSubRm16Imm16(uint8_t modrm) {
    RmOperand dst = decodeRm(modrm);
    Val16 value = readRmForUpdate<Val16>(dst);
    writeRm(dst, coreSub(value, fetchImm<Val16>()));
}

// 83 /5: SUB r/m32, imm8 sign-extended
void executeSubRmImm8(uint8_t modrm) {
    RmOperand dst = decodeRm(modrm);
    Val32 value = readRmForUpdate<Val32>(dst);
    writeRm(dst, coreSub(value, fetchImm8SignExtended<Val32>()));
}

// ---- SBB and NEG ----------------------------------------------------------------

// 1B: SBB r32, r/m32
void executeSbb() {
    uint8_t modrm = fetchByte();
    uint32_t r = regField(modrm);
    state.reg[r] = coreSbb(state.reg[r], readRm<Val32>(decodeRm(modrm)));
}

// F7 /3: NEG r/m32
void executeNeg(uint8_t modrm) {
    RmOperand dst = decodeRm(modrm);
    writeRm(dst, coreNeg(readRmForUpdate<Val32>(dst)));
}

}  // namespace machine
