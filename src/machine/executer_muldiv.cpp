// Multiplication and division: CDQ, the three IMUL forms, DIV and IDIV, all
// 32-bit. IMUL sets CF and OF only; DIV, IDIV and CDQ change no flag.
#include "machine/executer_internal.h"

namespace machine {

namespace {

int64_t signExtend(Val32 v) { return static_cast<int32_t>(v.v); }

// The signed 64-bit product; CF = OF = it does not fit 32 bits signed. SF
// and ZF stay.
int64_t coreImul32(Val32 a, Val32 b) {
    int64_t product = signExtend(a) * signExtend(b);
    state.cf = product != static_cast<int32_t>(product);
    state.of = state.cf;
    return product;
}

Val32 low32(int64_t product) { return Val32{static_cast<uint32_t>(product)}; }

[[noreturn]] void throwDivisionByZero() { throw app::ProgramException("Division by 0"); }
[[noreturn]] void throwResultTooLarge() { throw app::ProgramException("Result too large"); }

}  // namespace

// 99: CDQ
void executeCdq() { state.edx.v = (state.eax.v & 0x80000000u) != 0 ? 0xFFFFFFFFu : 0u; }

// F7 /5: IMUL r/m32 into EDX:EAX
void executeImul(uint8_t modrm) {
    Val32 eax = state.eax;
    Val32 src = readRm<Val32>(decodeRm(modrm));
    uint64_t product = static_cast<uint64_t>(coreImul32(eax, src));
    state.eax.v = static_cast<uint32_t>(product);
    state.edx.v = static_cast<uint32_t>(product >> 32);
}

// 0F AF: IMUL r32, r/m32
void executeImulReg() {
    uint8_t modrm = fetchByte();
    uint32_t d = regField(modrm);
    Val32 dst = state.reg[d];
    state.reg[d] = low32(coreImul32(dst, readRm<Val32>(decodeRm(modrm))));
}

// 6B: IMUL r32, r/m32, imm8 (the immediate follows the operand's bytes)
void executeImulImm8() {
    uint8_t modrm = fetchByte();
    Val32 src = readRm<Val32>(decodeRm(modrm));
    Val32 imm = fetchImm8SignExtended<Val32>();
    state.reg[regField(modrm)] = low32(coreImul32(src, imm));
}

// F7 /6: DIV r/m32, EDX:EAX unsigned
void executeDiv(uint8_t modrm) {
    uint32_t divisor = readRm<Val32>(decodeRm(modrm)).v;
    if (divisor == 0) throwDivisionByZero();
    uint64_t dividend = (static_cast<uint64_t>(state.edx.v) << 32) | state.eax.v;
    uint64_t quotient = dividend / divisor;
    if (quotient > 0xFFFFFFFFu) throwResultTooLarge();
    state.eax.v = static_cast<uint32_t>(quotient);
    state.edx.v = static_cast<uint32_t>(dividend % divisor);
}

// F7 /7: IDIV r/m32, EDX:EAX signed. The range is tested before dividing:
// -2^63 / -1 must never reach the host's divider.
void executeIdiv(uint8_t modrm) {
    int64_t divisor = signExtend(readRm<Val32>(decodeRm(modrm)));
    if (divisor == 0) throwDivisionByZero();
    uint64_t bits = (static_cast<uint64_t>(state.edx.v) << 32) | state.eax.v;
    int64_t dividend = static_cast<int64_t>(bits);
    if (divisor == -1 && dividend == INT64_MIN) throwResultTooLarge();
    int64_t quotient = dividend / divisor;
    if (quotient > INT32_MAX || quotient < INT32_MIN) throwResultTooLarge();
    state.eax.v = static_cast<uint32_t>(quotient);
    state.edx.v = static_cast<uint32_t>(dividend % divisor);
}

}  // namespace machine
