// Control transfer: JMP, the conditional jumps, JECXZ, CALL, RET and SETcc.
// No target is checked here: a target outside the code block fails at the
// next fetch, and a bound address is found by the run loop.
#include "machine/executer_internal.h"

namespace machine {

namespace {

// The displacement is read first, so eip already points past the jump.
void jumpRel8If(bool condition) {
    uint32_t disp = app::val8SignExtend32(fetchCode8()).v;
    if (condition) state.eip.v += disp;
}

void jumpRel32If(bool condition) {
    uint32_t disp = fetchCode32().v;
    if (condition) state.eip.v += disp;
}

// SETcc: the condition first, then the ModRM byte (its reg field unused).
void setByteIf(bool condition) {
    uint8_t modrm = fetchByte();
    writeRm(decodeRm(modrm), Val8{static_cast<uint8_t>(condition ? 1 : 0)});
}

}  // namespace

// ---- Unconditional jumps --------------------------------------------------------

void executeJmp() { jumpRel32If(true); }     // E9
void executeJmpRel8() { jumpRel8If(true); }  // EB

// FF /4: JMP r/m32
void executeJmpRm(uint8_t modrm) { state.eip = toAddr(readRm<Val32>(decodeRm(modrm))); }

// ---- Conditional jumps ------------------------------------------------------------

void executeJaRel8() { jumpRel8If(conditionA()); }    // 77
void executeJaeRel8() { jumpRel8If(conditionAe()); }  // 73
void executeJbRel8() { jumpRel8If(conditionB()); }    // 72
void executeJbeRel8() { jumpRel8If(conditionBe()); }  // 76
void executeJeRel8() { jumpRel8If(conditionE()); }    // 74
void executeJneRel8() { jumpRel8If(conditionNe()); }  // 75
void executeJgRel8() { jumpRel8If(conditionG()); }    // 7F
void executeJgeRel8() { jumpRel8If(conditionGe()); }  // 7D
void executeJlRel8() { jumpRel8If(conditionL()); }    // 7C
void executeJleRel8() { jumpRel8If(conditionLe()); }  // 7E
void executeJnsRel8() { jumpRel8If(conditionNs()); }  // 79

void executeJaeRel32() { jumpRel32If(conditionAe()); }  // 0F 83
void executeJbeRel32() { jumpRel32If(conditionBe()); }  // 0F 86
void executeJeRel32() { jumpRel32If(conditionE()); }    // 0F 84
void executeJneRel32() { jumpRel32If(conditionNe()); }  // 0F 85
void executeJgRel32() { jumpRel32If(conditionG()); }    // 0F 8F
void executeJgeRel32() { jumpRel32If(conditionGe()); }  // 0F 8D
void executeJlRel32() { jumpRel32If(conditionL()); }    // 0F 8C
void executeJleRel32() { jumpRel32If(conditionLe()); }  // 0F 8E

// E3: JECXZ rel8; under 0x67 JCXZ, which tests CX.
void executeJecxz() {
    uint32_t disp = app::val8SignExtend32(fetchCode8()).v;
    bool counterIsZero;
    if (addressSizePrefix) {
        addressSizePrefix = false;
        counterIsZero = getReg16(ECX).v == 0;
    } else {
        counterIsZero = state.ecx.v == 0;
    }
    if (counterIsZero) state.eip.v += disp;
}

// ---- Calls and returns ------------------------------------------------------------

// E8: CALL rel32
void executeCall() {
    uint32_t rel = fetchCode32().v;
    push32(Val32{state.eip.v});
    state.eip.v += rel;
}

// FF /2: CALL r/m32 (the target is read before the push)
void executeCallRm(uint8_t modrm) {
    Val32 target = readRm<Val32>(decodeRm(modrm));
    push32(Val32{state.eip.v});
    state.eip = toAddr(target);
}

// C3: RET
void executeRet() { state.eip = toAddr(pop32()); }

// C2: RET imm16 (the bytes are removed after the return address)
void executeRetImm16() {
    uint32_t bytes = fetchCode16().v;
    state.eip = toAddr(pop32());
    state.esp.v += bytes;
}

// ---- SETcc ----------------------------------------------------------------------------

void executeSetg() { setByteIf(conditionG()); }    // 0F 9F
void executeSete() { setByteIf(conditionE()); }    // 0F 94
void executeSetne() { setByteIf(conditionNe()); }  // 0F 95

}  // namespace machine
