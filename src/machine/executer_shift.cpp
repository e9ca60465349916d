// Shifts and rotates: SHL, SHR, SAR (32-bit by an immediate or by 1, 16-bit
// by 1 or CL), RCL r/m16, 1 and ROR r/m16, CL. A count of 0 writes the value
// back unchanged and leaves every flag; OF changes only for a count of 1.
#include "machine/executer_internal.h"

namespace machine {

namespace {
bool bit(uint32_t x, uint32_t n) { return ((x >> n) & 1u) != 0; }
}  // namespace

// ---- Cores ----------------------------------------------------------------------

Val32 coreShl32(Val32 x, uint32_t n) {
    if (n == 0) return x;
    uint32_t res = x.v << n;
    state.cf = bit(x.v, 32 - n);
    if (n == 1) state.of = bit(x.v, 31) != bit(x.v, 30);
    setSignAndZero<Val32>(res);
    return Val32{res};
}

Val32 coreShr32(Val32 x, uint32_t n) {
    if (n == 0) return x;
    uint32_t res = x.v >> n;
    state.cf = bit(x.v, n - 1);
    if (n == 1) state.of = bit(x.v, 31);
    setSignAndZero<Val32>(res);
    return Val32{res};
}

Val32 coreSar32(Val32 x, uint32_t n) {
    if (n == 0) return x;
    uint32_t res = static_cast<uint32_t>(static_cast<int32_t>(x.v) >> n);
    state.cf = bit(x.v, n - 1);
    if (n == 1) state.of = false;
    setSignAndZero<Val32>(res);
    return Val32{res};
}

// Counts 0 to 31; from 17 on the result is 0 and CF is cleared.
Val16 coreShl16(Val16 x, uint32_t n) {
    if (n == 0) return x;
    uint16_t res = app::val16Shl(x, n).v;
    state.cf = n <= 16 && bit(x.v, 16 - n);
    if (n == 1) state.of = bit(x.v, 15) != bit(x.v, 14);
    setSignAndZero<Val16>(res);
    return Val16{res};
}

Val16 coreShr16By1(Val16 x) {
    uint16_t res = app::val16Shr(x, 1).v;
    state.cf = bit(x.v, 0);
    state.of = bit(x.v, 15);
    setSignAndZero<Val16>(res);
    return Val16{res};
}

// Counts 0 to 31; from 16 on every bit is a copy of the sign, and so is CF
// (the last bit shifted out).
Val16 coreSar16(Val16 x, uint32_t n) {
    if (n == 0) return x;
    int32_t value = static_cast<int16_t>(x.v);
    uint16_t res = static_cast<uint16_t>(value >> (n < 15 ? n : 15));
    state.cf = n <= 16 ? bit(x.v, n - 1) : bit(x.v, 15);
    if (n == 1) state.of = false;
    setSignAndZero<Val16>(res);
    return Val16{res};
}

// The old carry enters bit 0; OF is the new top bit XOR the new carry. SF and
// ZF stay.
Val16 coreRcl16By1(Val16 x) {
    uint16_t res = static_cast<uint16_t>((x.v << 1) | (state.cf ? 1u : 0u));
    state.cf = bit(x.v, 15);
    state.of = bit(res, 15) != state.cf;
    return Val16{res};
}

// Rotates by n mod 16; CF is the bit rotated into the top. SF and ZF stay.
Val16 coreRor16(Val16 x, uint32_t n) {
    if (n == 0) return x;
    uint32_t r = n % 16;
    uint16_t res = static_cast<uint16_t>((x.v >> r) | (x.v << ((16 - r) % 16)));
    state.cf = bit(res, 15);
    if (n == 1) state.of = bit(res, 15) != bit(res, 14);
    return Val16{res};
}

// ---- Handlers: read, count, core, write back (for every count) ----------------------

namespace {

// C1: the count byte follows the operand's bytes; it is taken mod 32, as the
// processor does.
void shift32ByImm8(uint8_t modrm, Val32 (*core)(Val32, uint32_t)) {
    RmOperand op = decodeRm(modrm);
    Val32 value = readRmForUpdate<Val32>(op);
    uint32_t count = fetchCode8().v & 0x1Fu;
    writeRm(op, core(value, count));
}

// D1: the count is 1.
template <class V> void shiftBy1(uint8_t modrm, V (*core)(V, uint32_t)) {
    RmOperand op = decodeRm(modrm);
    writeRm(op, core(readRmForUpdate<V>(op), 1));
}

// D3: the count is the low five bits of ECX.
void shift16ByCl(uint8_t modrm, Val16 (*core)(Val16, uint32_t)) {
    RmOperand op = decodeRm(modrm);
    Val16 value = readRmForUpdate<Val16>(op);
    uint32_t count = state.ecx.v & 0x1Fu;
    writeRm(op, core(value, count));
}

}  // namespace

void executeShl(uint8_t modrm) { shift32ByImm8(modrm, coreShl32); }  // C1 /4
void executeShr(uint8_t modrm) { shift32ByImm8(modrm, coreShr32); }  // C1 /5
void executeSar(uint8_t modrm) { shift32ByImm8(modrm, coreSar32); }  // C1 /7

void executeShrBy1(uint8_t modrm) { shiftBy1<Val32>(modrm, coreShr32); }  // D1 /5: SHR r/m32, 1
void executeSarBy1(uint8_t modrm) { shiftBy1<Val32>(modrm, coreSar32); }  // D1 /7: SAR r/m32, 1
void executeRcl(uint8_t modrm) { updateRm<Val16, coreRcl16By1>(modrm); }  // 66 D1 /2: RCL r/m16, 1
void executeShl16By1(uint8_t modrm) { shiftBy1<Val16>(modrm, coreShl16); }  // 66 D1 /4: SHL r/m16, 1
void executeShr16By1(uint8_t modrm) { updateRm<Val16, coreShr16By1>(modrm); }  // 66 D1 /5: SHR r/m16, 1

void executeRor(uint8_t modrm) { shift16ByCl(modrm, coreRor16); }         // 66 D3 /1
void executeShl16ByCl(uint8_t modrm) { shift16ByCl(modrm, coreShl16); }  // 66 D3 /4
void executeSar16ByCl(uint8_t modrm) { shift16ByCl(modrm, coreSar16); }  // 66 D3 /7

}  // namespace machine
