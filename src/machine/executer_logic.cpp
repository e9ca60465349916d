// Logic and test: AND, OR, XOR, TEST (AND without write-back) and NOT.
// AND, OR, XOR and TEST clear CF and OF; NOT changes no flag.
#include "machine/executer_internal.h"

namespace machine {

namespace {

// TEST r/m, reg
template <class V> void testRmWithReg() {
    uint8_t modrm = fetchByte();
    V src = readReg<V>(regField(modrm));
    coreAnd(readRm<V>(decodeRm(modrm)), src);
}

}  // namespace

// ---- AND ----------------------------------------------------------------------

void executeAndEaxImm32() { state.eax = coreAnd(state.eax, fetchImm<Val32>()); }  // 25
void executeAndAlImm8() { setReg8(EAX, coreAnd(getReg8(EAX), fetchImm<Val8>())); }  // 24
void executeAndRm8Imm8(uint8_t modrm) { updateRmWithImm<Val8, coreAnd<Val8>>(modrm); }         // 80 /4
void executeAndRmImm32(uint8_t modrm) { updateRmWithImm<Val32, coreAnd<Val32>>(modrm); }       // 81 /4
void executeAndRm16Imm16(uint8_t modrm) { updateRmWithImm<Val16, coreAnd<Val16>>(modrm); }     // 66 81 /4
void executeAndRmImm8(uint8_t modrm) { updateRmWithImm8SignExtended<Val32, coreAnd<Val32>>(modrm); }  // 83 /4
void executeAnd() { updateRegWithRm<Val32, coreAnd<Val32>>(); }    // 23
void executeAnd16() { updateRegWithRm<Val16, coreAnd<Val16>>(); }  // 66 23

// ---- OR -----------------------------------------------------------------------

void executeOrEaxImm32() { state.eax = coreOr(state.eax, fetchImm<Val32>()); }  // 0D
void executeOrRm8Imm8(uint8_t modrm) { updateRmWithImm<Val8, coreOr<Val8>>(modrm); }      // 80 /1
void executeOrRmImm32(uint8_t modrm) { updateRmWithImm<Val32, coreOr<Val32>>(modrm); }    // 81 /1
void executeOrRmImm8(uint8_t modrm) { updateRmWithImm8SignExtended<Val32, coreOr<Val32>>(modrm); }    // 83 /1
void executeOrRm16Imm8(uint8_t modrm) { updateRmWithImm8SignExtended<Val16, coreOr<Val16>>(modrm); }  // 66 83 /1
void executeOr8() { updateRegWithRm<Val8, coreOr<Val8>>(); }     // 0A
void executeOr() { updateRegWithRm<Val32, coreOr<Val32>>(); }    // 0B
void executeOr16() { updateRegWithRm<Val16, coreOr<Val16>>(); }  // 66 0B

// ---- XOR ----------------------------------------------------------------------

void executeXorRm8Imm8(uint8_t modrm) { updateRmWithImm<Val8, coreXor<Val8>>(modrm); }  // 80 /6
void executeXor8() { updateRegWithRm<Val8, coreXor<Val8>>(); }    // 32
void executeXor() { updateRegWithRm<Val32, coreXor<Val32>>(); }   // 33

// ---- TEST ---------------------------------------------------------------------

void executeTestAlImm8() { coreAnd(getReg8(EAX), fetchImm<Val8>()); }  // A8
void executeTestRm8Imm8(uint8_t modrm) { flagsOfRmWithImm<Val8, coreAnd<Val8>>(modrm); }    // F6 /0
void executeTestRmImm32(uint8_t modrm) { flagsOfRmWithImm<Val32, coreAnd<Val32>>(modrm); }   // F7 /0
void executeTest8() { testRmWithReg<Val8>(); }     // 84
void executeTest() { testRmWithReg<Val32>(); }     // 85
void executeTest16() { testRmWithReg<Val16>(); }   // 66 85

// ---- NOT ----------------------------------------------------------------------

// F7 /2: NOT r/m32
void executeNot(uint8_t modrm) {
    RmOperand op = decodeRm(modrm);
    Val32 value = readRmForUpdate<Val32>(op);
    writeRm(op, Val32{~value.v});
}

}  // namespace machine
