// Shared by the interpreter's family files (executer_*.cpp): the r/m operand
// rules, immediates, the flag helpers and every instruction handler that the
// decoder's tables in executer.cpp point at.
//
// The r/m operand is reached one way everywhere: a ModRM byte below 0xC0 is a
// memory operand whose accesses carry the current fsPrefix, cleared after the
// operand's last access; 0xC0 or above is register ModRM & 7 and leaves the
// flag alone. A read-modify-write decodes its address once. Every memory
// operand's address follows 0x67 (the 16-bit form), but only the operands
// decoded by decodeRmAcceptingAddressSize accept the prefix.
#pragma once

#include <cstdint>

#include "machine/executer.h"
#include "machine/machineState.h"
#include "types.h"

namespace machine {

// ---- ModRM fields and the r/m operand -------------------------------------

inline uint32_t regField(uint8_t modrm) { return (modrm >> 3) & 7u; }
inline bool isRegisterForm(uint8_t modrm) { return modrm >= 0xC0; }

struct RmOperand {
    uint8_t modrm;
    Addr address;  // memory form only
};

// Decodes the operand's address (memory form), consuming its SIB and
// displacement bytes; the register form reads nothing.
[[gnu::always_inline]] inline RmOperand decodeRm(uint8_t modrm) {
    return RmOperand{modrm, isRegisterForm(modrm) ? Addr{0} : decodeModRMAddress(modrm)};
}

// The same for the memory forms of MOV r/m32, r32 and MOV r32, r/m32, the
// only r/m operands that accept 0x67: their address is then the 16-bit form,
// and the prefix is taken once it is decoded.
[[gnu::always_inline]] inline RmOperand decodeRmAcceptingAddressSize(uint8_t modrm) {
    if (isRegisterForm(modrm)) return RmOperand{modrm, Addr{0}};
    Addr address = decodeModRMAddress(modrm);
    addressSizePrefix = false;
    return RmOperand{modrm, address};
}

// Registers of each width, by encoding number.
template <class V> V readReg(uint32_t index);
template <> inline Val8 readReg<Val8>(uint32_t index) { return getReg8(index); }
template <> inline Val16 readReg<Val16>(uint32_t index) { return getReg16(index); }
template <> inline Val32 readReg<Val32>(uint32_t index) { return state.reg[index]; }

template <class V> void writeReg(uint32_t index, V value);
template <> inline void writeReg<Val8>(uint32_t index, Val8 value) { setReg8(index, value); }
template <> inline void writeReg<Val16>(uint32_t index, Val16 value) { setReg16(index, value); }
template <> inline void writeReg<Val32>(uint32_t index, Val32 value) { state.reg[index] = value; }

// Memory of each width, with the instruction's FS flag.
template <class V> V readMem(Addr address);
template <> inline Val8 readMem<Val8>(Addr address) { return readMemory8(fsPrefix, address); }
template <> inline Val16 readMem<Val16>(Addr address) { return readMemory16(fsPrefix, address); }
template <> inline Val32 readMem<Val32>(Addr address) { return readMemory32(fsPrefix, address); }

template <class V> void writeMem(Addr address, V value);
template <> inline void writeMem<Val8>(Addr a, Val8 v) { writeMemory8(fsPrefix, a, v); }
template <> inline void writeMem<Val16>(Addr a, Val16 v) { writeMemory16(fsPrefix, a, v); }
template <> inline void writeMem<Val32>(Addr a, Val32 v) { writeMemory32(fsPrefix, a, v); }

// The r/m helpers are forced inline: each is a test and one access, called
// by every r/m handler on the hot path.

// A memory operand's only read, or its last write: the FS prefix is taken
// once the access has been made.
template <class V> [[gnu::always_inline]] inline V readMemOperand(Addr address) {
    V value = readMem<V>(address);
    fsPrefix = false;
    return value;
}

template <class V> [[gnu::always_inline]] inline void writeMemOperand(Addr address, V value) {
    writeMem<V>(address, value);
    fsPrefix = false;
}

// The operand's only access (a source that is never written back).
template <class V> [[gnu::always_inline]] inline V readRm(RmOperand op) {
    if (isRegisterForm(op.modrm)) return readReg<V>(op.modrm & 7u);
    return readMemOperand<V>(op.address);
}

// The first access of a read-modify-write: the flag stays for the write.
template <class V> [[gnu::always_inline]] inline V readRmForUpdate(RmOperand op) {
    if (isRegisterForm(op.modrm)) return readReg<V>(op.modrm & 7u);
    return readMem<V>(op.address);
}

// The operand's last access.
template <class V> [[gnu::always_inline]] inline void writeRm(RmOperand op, V value) {
    if (isRegisterForm(op.modrm)) {
        writeReg<V>(op.modrm & 7u, value);
        return;
    }
    writeMemOperand<V>(op.address, value);
}

// ---- Immediates -------------------------------------------------------------

template <class V> V fetchImm();
template <> inline Val8 fetchImm<Val8>() { return fetchCode8(); }
template <> inline Val16 fetchImm<Val16>() { return fetchCode16(); }
template <> inline Val32 fetchImm<Val32>() { return fetchCode32(); }

// An immediate byte widened by copies of its bit 7 (83, 6A, 6B).
template <class V> V fetchImm8SignExtended();
template <> inline Val16 fetchImm8SignExtended<Val16>() { return app::val8SignExtend16(fetchCode8()); }
template <> inline Val32 fetchImm8SignExtended<Val32>() { return app::val8SignExtend32(fetchCode8()); }

// ---- Flags --------------------------------------------------------------------

template <class V> using Raw = decltype(V::v);

template <class V> constexpr Raw<V> topBit = static_cast<Raw<V>>(Raw<V>(1) << (sizeof(Raw<V>) * 8 - 1));

template <class V> bool isNegative(Raw<V> x) { return (x & topBit<V>) != 0; }

template <class V> void setSignAndZero(Raw<V> res) {
    state.sf = isNegative<V>(res);
    state.zf = res == 0;
}

// ---- Arithmetic cores (one per operation; each width is an instance) ---------
// Each returns the result and sets cf, of, sf and zf as the operation defines.

template <class V> V coreAdd(V dst, V src) {
    Raw<V> res = static_cast<Raw<V>>(dst.v + src.v);
    state.cf = res < dst.v;
    state.of = isNegative<V>(static_cast<Raw<V>>((dst.v ^ res) & (src.v ^ res)));
    setSignAndZero<V>(res);
    return V{res};
}

template <class V> V coreAdc(V dst, V src) {
    bool carry = state.cf;
    Raw<V> res = static_cast<Raw<V>>(dst.v + src.v + (carry ? 1u : 0u));
    state.cf = res < dst.v || (carry && res == dst.v);
    state.of = isNegative<V>(static_cast<Raw<V>>((dst.v ^ res) & (src.v ^ res)));
    setSignAndZero<V>(res);
    return V{res};
}

template <class V> V coreSub(V dst, V src) {
    Raw<V> res = static_cast<Raw<V>>(dst.v - src.v);
    state.cf = dst.v < src.v;
    state.of = isNegative<V>(static_cast<Raw<V>>((dst.v ^ src.v) & (dst.v ^ res)));
    setSignAndZero<V>(res);
    return V{res};
}

template <class V> V coreSbb(V dst, V src) {
    bool borrow = state.cf;
    Raw<V> res = static_cast<Raw<V>>(dst.v - src.v - (borrow ? 1u : 0u));
    state.cf = dst.v < res || (borrow && res == dst.v);
    state.of = isNegative<V>(static_cast<Raw<V>>((dst.v ^ src.v) & (dst.v ^ res)));
    setSignAndZero<V>(res);
    return V{res};
}

template <class V> V coreNeg(V dst) {
    Raw<V> res = static_cast<Raw<V>>(0u - dst.v);
    state.cf = dst.v != 0;
    state.of = dst.v == topBit<V>;
    setSignAndZero<V>(res);
    return V{res};
}

// INC and DEC leave cf as it was.
template <class V> V coreInc(V op) {
    Raw<V> res = static_cast<Raw<V>>(op.v + 1u);
    state.of = res == topBit<V>;
    setSignAndZero<V>(res);
    return V{res};
}

template <class V> V coreDec(V op) {
    Raw<V> res = static_cast<Raw<V>>(op.v - 1u);
    state.of = res == static_cast<Raw<V>>(topBit<V> - 1u);
    setSignAndZero<V>(res);
    return V{res};
}

// AND, OR, XOR and TEST clear cf and of.
template <class V> V setLogicFlags(Raw<V> res) {
    state.cf = false;
    state.of = false;
    setSignAndZero<V>(res);
    return V{res};
}
template <class V> V coreAnd(V a, V b) { return setLogicFlags<V>(static_cast<Raw<V>>(a.v & b.v)); }
template <class V> V coreOr(V a, V b) { return setLogicFlags<V>(static_cast<Raw<V>>(a.v | b.v)); }
template <class V> V coreXor(V a, V b) { return setLogicFlags<V>(static_cast<Raw<V>>(a.v ^ b.v)); }

// ---- Form shapes shared by the families ------------------------------------------
// Operands in the order the forms read them: register, r/m, then immediate;
// the core sets the flags, the result is written back last.

// r/m op= imm (80, 81, 83 and their 16-bit rows): the immediate follows the
// operand's bytes and its read.
template <class V, V (*core)(V, V)> void updateRmWithImm(uint8_t modrm) {
    RmOperand dst = decodeRm(modrm);
    V value = readRmForUpdate<V>(dst);
    writeRm(dst, core(value, fetchImm<V>()));
}

template <class V, V (*core)(V, V)> void updateRmWithImm8SignExtended(uint8_t modrm) {
    RmOperand dst = decodeRm(modrm);
    V value = readRmForUpdate<V>(dst);
    writeRm(dst, core(value, fetchImm8SignExtended<V>()));
}

// r/m op= reg (01, 29)
template <class V, V (*core)(V, V)> void updateRmWithReg() {
    uint8_t modrm = fetchByte();
    V src = readReg<V>(regField(modrm));
    RmOperand dst = decodeRm(modrm);
    writeRm(dst, core(readRmForUpdate<V>(dst), src));
}

// reg op= r/m: the r/m operand is only read.
template <class V, V (*core)(V, V)> void updateRegWithRm() {
    uint8_t modrm = fetchByte();
    uint32_t r = regField(modrm);
    V dst = readReg<V>(r);
    writeReg<V>(r, core(dst, readRm<V>(decodeRm(modrm))));
}

// The flags of r/m op imm, nothing written back (CMP, TEST).
template <class V, V (*core)(V, V)> void flagsOfRmWithImm(uint8_t modrm) {
    V value = readRm<V>(decodeRm(modrm));
    core(value, fetchImm<V>());
}

template <class V, V (*core)(V, V)> void flagsOfRmWithImm8SignExtended(uint8_t modrm) {
    V value = readRm<V>(decodeRm(modrm));
    core(value, fetchImm8SignExtended<V>());
}

// r/m = op(r/m), from a group row.
template <class V, V (*core)(V)> void updateRm(uint8_t modrm) {
    RmOperand op = decodeRm(modrm);
    writeRm(op, core(readRmForUpdate<V>(op)));
}

// ---- Conditions of the jumps and SETcc ----------------------------------------

inline bool conditionA() { return !state.cf && !state.zf; }
inline bool conditionAe() { return !state.cf; }
inline bool conditionB() { return state.cf; }
inline bool conditionBe() { return state.cf || state.zf; }
inline bool conditionE() { return state.zf; }
inline bool conditionNe() { return !state.zf; }
inline bool conditionG() { return !state.zf && state.sf == state.of; }
inline bool conditionGe() { return state.sf == state.of; }
inline bool conditionL() { return state.sf != state.of; }
inline bool conditionLe() { return state.zf || state.sf != state.of; }
inline bool conditionNs() { return !state.sf; }

// ---- Dispatchers (executer.cpp) ------------------------------------------------

// The second byte of 0x0F, then its handler.
void executeTwoByteOpcode();
// Each reads the ModRM byte and runs the member of its reg field.
void executeGroup80();
void executeGroup81();
void executeGroup83();
void executeGroupC1();
void executeGroupC6();
void executeGroupC7();
void executeGroupD1();
void executeGroupD3();
void executeGroupF6();
void executeGroupF7();
void executeGroupFE();
void executeGroupFF();

// ---- Handlers ----------------------------------------------------------------
// Straight from a table: no argument. Group members: the ModRM byte.
// Register-encoded opcodes: the register number.

// Data movement (executer_move.cpp)
void executeMovRm8R8();
void executeMov();
void executeMovRm16R16();
void executeMovR8Rm8();
void executeMovRRm();
void executeMovR16Rm16();
void executeMovEaxMoffs();
void executeMovMoffsEax();
void executeMovR8Imm8(uint32_t r);
void executeMovRImm32(uint32_t r);
void executeMovR16Imm16(uint32_t r);
void executeMovRm8Imm8(uint8_t modrm);
void executeMovRmImm32(uint8_t modrm);
void executeMovRm16Imm16(uint8_t modrm);
void executeMovzx();
void executeMovsx();
void executeLea();
void executeXchg(uint32_t r);
void executeXchg16(uint32_t r);
void executePush(uint32_t r);
void executePop(uint32_t r);
void executePushImm32();
void executePushImm8();
void executePushRm(uint8_t modrm);
void executeSahf();
void executeCld();

// Control transfer (executer_control.cpp)
void executeJmp();
void executeJmpRel8();
void executeJmpRm(uint8_t modrm);
void executeJaRel8();
void executeJaeRel8();
void executeJbRel8();
void executeJbeRel8();
void executeJeRel8();
void executeJneRel8();
void executeJgRel8();
void executeJgeRel8();
void executeJlRel8();
void executeJleRel8();
void executeJnsRel8();
void executeJaeRel32();
void executeJbeRel32();
void executeJeRel32();
void executeJneRel32();
void executeJgRel32();
void executeJgeRel32();
void executeJlRel32();
void executeJleRel32();
void executeJecxz();
void executeCall();
void executeCallRm(uint8_t modrm);
void executeRet();
void executeRetImm16();
void executeSetg();
void executeSete();
void executeSetne();

// Strings (executer_string.cpp)
void executeMovsb();
void executeMovsd();
void executeRepnzScasb();

// Addition and subtraction (executer_arith.cpp)
void executeAdd();
void executeAddRRm();
void executeAddEaxImm32();
void executeAddRm8Imm8(uint8_t modrm);
void executeAddRmImm32(uint8_t modrm);
void executeAddRmImm8(uint8_t modrm);
void executeAdc(uint8_t modrm);
void executeSub();
void executeSubRRm();
void executeSubEaxImm32();
void executeSubAxImm16();
void executeSubRmImm32(uint8_t modrm);
void executeSubRm16Imm16(uint8_t modrm);
void executeSubRmImm8(uint8_t modrm);
void executeSbb();
void executeNeg(uint8_t modrm);

// Comparison, increment and decrement (executer_compare.cpp)
void executeCmp8();
void executeCmp();
void executeCmp16();
void executeCmpAlImm8();
void executeCmpEaxImm32();
void executeCmpAxImm16();
void executeCmpRm8Imm8(uint8_t modrm);
void executeCmpRmImm32(uint8_t modrm);
void executeCmpRmImm8(uint8_t modrm);
void executeCmpRm16Imm8(uint8_t modrm);
void executeInc(uint32_t r);
void executeInc16(uint32_t r);
void executeIncRm(uint8_t modrm);
void executeDec(uint32_t r);
void executeDec16(uint32_t r);
void executeDecRm8(uint8_t modrm);
void executeDecRm(uint8_t modrm);

// Logic and test (executer_logic.cpp)
void executeAndEaxImm32();
void executeAndAlImm8();
void executeAndRm8Imm8(uint8_t modrm);
void executeAndRmImm32(uint8_t modrm);
void executeAndRm16Imm16(uint8_t modrm);
void executeAndRmImm8(uint8_t modrm);
void executeAnd();
void executeAnd16();
void executeOrEaxImm32();
void executeOrRm8Imm8(uint8_t modrm);
void executeOrRmImm32(uint8_t modrm);
void executeOrRmImm8(uint8_t modrm);
void executeOrRm16Imm8(uint8_t modrm);
void executeOr8();
void executeOr();
void executeOr16();
void executeXorRm8Imm8(uint8_t modrm);
void executeXor8();
void executeXor();
void executeTestAlImm8();
void executeTestRm8Imm8(uint8_t modrm);
void executeTestRmImm32(uint8_t modrm);
void executeTest8();
void executeTest();
void executeTest16();
void executeNot(uint8_t modrm);

// Shifts and rotates (executer_shift.cpp)
void executeShl(uint8_t modrm);
void executeShr(uint8_t modrm);
void executeSar(uint8_t modrm);
void executeShrBy1(uint8_t modrm);
void executeSarBy1(uint8_t modrm);
void executeRcl(uint8_t modrm);
void executeShl16By1(uint8_t modrm);
void executeShr16By1(uint8_t modrm);
void executeRor(uint8_t modrm);
void executeShl16ByCl(uint8_t modrm);
void executeSar16ByCl(uint8_t modrm);

// Shift cores: the result, and the flags for a count other than 0 (of only
// for a count of 1). Counts are already reduced as the form requires.
Val32 coreShl32(Val32 x, uint32_t n);
Val32 coreShr32(Val32 x, uint32_t n);
Val32 coreSar32(Val32 x, uint32_t n);
Val16 coreShl16(Val16 x, uint32_t n);
Val16 coreShr16By1(Val16 x);
Val16 coreSar16(Val16 x, uint32_t n);
Val16 coreRcl16By1(Val16 x);
Val16 coreRor16(Val16 x, uint32_t n);

// Multiplication and division (executer_muldiv.cpp)
void executeCdq();
void executeImul(uint8_t modrm);
void executeImulReg();
void executeImulImm8();
void executeDiv(uint8_t modrm);
void executeIdiv(uint8_t modrm);

}  // namespace machine
