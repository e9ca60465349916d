// Data movement: MOV, MOVZX, MOVSX, LEA, XCHG with EAX, PUSH, POP, SAHF, CLD.
// None of them touches a flag except SAHF and CLD.
#include "machine/executer_internal.h"

namespace machine {

// ---- MOV between a register and r/m -----------------------------------------

namespace {

using RmDecoder = RmOperand (*)(uint8_t modrm);

// MOV r/m, reg at one width.
template <class V, RmDecoder decode = decodeRm> void moveRegToRm() {
    uint8_t modrm = fetchByte();
    V value = readReg<V>(regField(modrm));
    writeRm(decode(modrm), value);
}

// MOV reg, r/m at one width.
template <class V, RmDecoder decode = decodeRm> void moveRmToReg() {
    uint8_t modrm = fetchByte();
    writeReg<V>(regField(modrm), readRm<V>(decode(modrm)));
}

}  // namespace

void executeMovRm8R8() { moveRegToRm<Val8>(); }  // 88: MOV r/m8, r8

// 89: MOV r/m32, r32; its memory form takes the 16-bit address of 0x67.
void executeMov() { moveRegToRm<Val32, decodeRmAcceptingAddressSize>(); }

void executeMovRm16R16() { moveRegToRm<Val16>(); }  // 66 89: MOV r/m16, r16
void executeMovR8Rm8() { moveRmToReg<Val8>(); }      // 8A: MOV r8, r/m8

// 8B: MOV r32, r/m32; makes the 0x66 choice itself, and its 32-bit memory
// form takes the 16-bit address of 0x67.
void executeMovRRm() {
    if (operandSizePrefix) {
        operandSizePrefix = false;
        executeMovR16Rm16();
        return;
    }
    moveRmToReg<Val32, decodeRmAcceptingAddressSize>();
}

void executeMovR16Rm16() { moveRmToReg<Val16>(); }  // 66 8B: MOV r16, r/m16

// ---- MOV with a direct offset (A1, A3) ----------------------------------------

namespace {
// A 32-bit offset, or under 0x67 a 16-bit one, zero-extended.
Addr fetchMoffs() {
    if (addressSizePrefix) {
        addressSizePrefix = false;
        return Addr{fetchCode16().v};
    }
    return Addr{fetchCode32().v};
}
}  // namespace

// A1: MOV EAX, moffs32
void executeMovEaxMoffs() { state.eax = readMemOperand<Val32>(fetchMoffs()); }

// A3: MOV moffs32, EAX
void executeMovMoffsEax() { writeMemOperand(fetchMoffs(), state.eax); }

// ---- MOV with an immediate ------------------------------------------------------

// B0-B7: MOV r8, imm8
void executeMovR8Imm8(uint32_t r) { setReg8(r, fetchCode8()); }

// B8-BF: MOV r32, imm32
void executeMovRImm32(uint32_t r) { state.reg[r] = fetchCode32(); }

// 66 B8-BF: MOV r16, imm16
void executeMovR16Imm16(uint32_t r) { setReg16(r, fetchCode16()); }

// C6 /0: MOV r/m8, imm8 (the immediate follows the address bytes)
void executeMovRm8Imm8(uint8_t modrm) {
    RmOperand dst = decodeRm(modrm);
    writeRm(dst, fetchImm<Val8>());
}

// C7 /0: MOV r/m32, imm32
void executeMovRmImm32(uint8_t modrm) {
    RmOperand dst = decodeRm(modrm);
    writeRm(dst, fetchImm<Val32>());
}

// 66 C7 /0: MOV r/m16, imm16
void executeMovRm16Imm16(uint8_t modrm) {
    RmOperand dst = decodeRm(modrm);
    writeRm(dst, fetchImm<Val16>());
}

// ---- Widening moves --------------------------------------------------------------

// 0F B7: MOVZX r32, r/m16
void executeMovzx() {
    uint8_t modrm = fetchByte();
    Val16 value = readRm<Val16>(decodeRm(modrm));
    state.reg[regField(modrm)] = app::val32FromVal16(value);
}

// 0F BE: MOVSX r32, r/m8
void executeMovsx() {
    uint8_t modrm = fetchByte();
    Val8 value = readRm<Val8>(decodeRm(modrm));
    state.reg[regField(modrm)] = app::val8SignExtend32(value);
}

// ---- LEA ----------------------------------------------------------------------------

// 8D: LEA r32, m. The address itself, no access; takes neither 0x64 nor 0x67.
void executeLea() {
    uint8_t modrm = fetchByte();
    if (isRegisterForm(modrm))
        throw app::ProgramException(app::format("Invalid argument for LEA instruction 0x%x", modrm));
    state.reg[regField(modrm)] = Val32{decodeModRMAddress(modrm).v};
}

// ---- XCHG with the accumulator --------------------------------------------------

// 90-97: XCHG EAX, r32 (90 changes nothing)
void executeXchg(uint32_t r) {
    Val32 old = state.eax;
    state.eax = state.reg[r];
    state.reg[r] = old;
}

// 66 90-97: XCHG AX, r16
void executeXchg16(uint32_t r) {
    Val16 old = getReg16(EAX);
    setReg16(EAX, getReg16(r));
    setReg16(r, old);
}

// ---- Stack ------------------------------------------------------------------------

// 50-57: PUSH r32 (PUSH ESP stores the value before the push)
void executePush(uint32_t r) { push32(state.reg[r]); }

// 58-5F: POP r32 (POP ESP leaves ESP equal to the popped value)
void executePop(uint32_t r) {
    Val32 value = pop32();
    state.reg[r] = value;
}

// 68: PUSH imm32
void executePushImm32() { push32(fetchCode32()); }

// 6A: PUSH imm8, sign-extended
void executePushImm8() { push32(fetchImm8SignExtended<Val32>()); }

// FF /6: PUSH r/m32 (an ESP-based operand is read before the push)
void executePushRm(uint8_t modrm) { push32(readRm<Val32>(decodeRm(modrm))); }

// ---- Flags ------------------------------------------------------------------------

// 9E: SAHF: CF, ZF and SF from AH; OF and DF stay.
void executeSahf() {
    uint32_t eax = state.eax.v;
    state.cf = (eax & 0x100u) != 0;
    state.zf = (eax & 0x4000u) != 0;
    state.sf = (eax & 0x8000u) != 0;
}

// FC: CLD
void executeCld() { state.df = false; }

}  // namespace machine
