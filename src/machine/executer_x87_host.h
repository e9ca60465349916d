// The host x87 instructions that carry out the guest's x87 forms.
//
// Every guest x87 instruction runs as the same instruction on the host's unit,
// which holds the guest's register stack and status word between guest
// instructions. The instructions are emitted as their encoding bytes rather
// than as mnemonics: the GNU assembler swaps the meaning of fsubp/fsubrp and
// fdivp/fdivrp in its AT&T syntax, so a mnemonic would silently run the
// reversed operation. Bytes say exactly what the processor runs.
//
// No host code may use the 80-bit extended type of the compiler: it would
// then keep values of its own in the unit and disturb the guest's stack.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <utility>

namespace machine::x87host {

// An instruction without a memory operand: the escape byte and the byte after
// it, as they stand (FCHS is D9 E0, FADDP ST(3), ST(0) is DE C3).
template <uint8_t Escape, uint8_t Second>
inline void run() {
    asm volatile(".byte %c0, %c1" : : "i"(Escape), "i"(Second));
}

// An instruction with a memory operand, the host variable at operand: the
// escape byte and a ModRM byte of mod 0, rm 0 ([rax]) with the form's /reg
// field. The same bytes decode in 32-bit and 64-bit mode alike.
template <uint8_t Escape, uint8_t RegField>
inline void runOnMemory(void* operand) {
    static_assert(RegField < 8);
    asm volatile(".byte %c1, %c2" : : "a"(operand), "i"(Escape), "i"(RegField << 3) : "memory");
}

using Instruction = void (*)();

template <uint8_t Escape, uint8_t First, std::size_t... I>
constexpr std::array<Instruction, 8> makeStackRegisterForms(std::index_sequence<I...>) {
    return {&run<Escape, static_cast<uint8_t>(First + I)>...};
}

// The eight instructions of one stack-register row, ST(0) to ST(7): the x87
// encodes the register inside the instruction, so each index is a fixed
// instruction of its own.
template <uint8_t Escape, uint8_t First>
inline constexpr std::array<Instruction, 8> stackRegisterForms =
    makeStackRegisterForms<Escape, First>(std::make_index_sequence<8>{});

// The unit's status word (FNSTSW AX).
inline uint16_t statusWord() {
    uint16_t word;
    asm volatile("fnstsw %0" : "=a"(word));
    return word;
}

}  // namespace machine::x87host
