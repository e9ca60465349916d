// The interpreter against a reference CPU (Unicorn): random instances of every
// supported integer form, with random registers and flags, run one step in
// both; eip, the eight registers, CF/ZF/SF/OF/DF (less the flags the
// processor leaves undefined for that instance), the data block and the TEB
// must agree. Plus directed cases for the behaviours where the processor's
// documented result is built on purpose.
//
// Layout in both: stack at 0x100000, code 0x401000-0x403000 (each instruction
// at 0x402000, so every branch target is mapped), data 0x500000-0x501000. The
// TEB is FS offset 0 here and page 0 in Unicorn, which ignores the FS base in
// 32-bit mode.
//
// Unicorn 2.0 ends the whole process ("tcg fatal error") when it translates
// FF /3 or FF /5 with a register operand, so the reference must never decode
// bytes other than the instance's own: only the code block is executable, it
// holds RETs and the one instance (nothing left from earlier ones), no branch
// lands inside the instance's bytes, and a step count bounds a wrong turn.
// A disagreement then ends as a reported difference, never as an abort.
//
// QZ_DIFF_SEED and QZ_DIFF_COUNT override the seed and the count.
#include <gtest/gtest.h>
#include <unicorn/unicorn.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "guestFixture.h"
#include "guestLayout.h"
#include "machine/executer.h"
#include "machine/machineState.h"

namespace {

using guestLayout::codeStart;
using guestLayout::dataStart;
using guestLayout::stackSize;
using guestLayout::stackStart;
constexpr uint32_t codeSize = 0x2000;
constexpr uint32_t here = 0x402000;  // where each instruction is placed
constexpr uint32_t dataSize = 0x1000;
constexpr uint32_t tebSize = 48;
constexpr uint32_t codeWindow = 16;  // the instance and RETs after it
// More than the longest string instruction here takes (one step per element).
constexpr size_t maxSteps = 0x1000;

// EFLAGS bits.
constexpr uint32_t CF = 1u << 0, ZF = 1u << 6, SF = 1u << 7, DF = 1u << 10, OF = 1u << 11;
constexpr uint32_t arithmeticFlags = CF | ZF | SF | OF;

// ---- Random numbers ---------------------------------------------------------

struct Random {
    uint64_t s;
    uint64_t next() {
        uint64_t z = (s += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    uint32_t u32() { return static_cast<uint32_t>(next()); }
    uint32_t below(uint32_t n) { return static_cast<uint32_t>(next() % n); }
    bool chance(uint32_t percent) { return below(100) < percent; }
    // Values that find the edges: 0, 1, -1, the sign boundaries, small and random.
    uint32_t interesting() {
        static const uint32_t edges[] = {0, 1, 2, 0x7F, 0x80, 0xFF, 0x7FFF, 0x8000, 0xFFFF, 0x10000,
                                         0x7FFFFFFF, 0x80000000, 0x80000001, 0xFFFFFFFE, 0xFFFFFFFF};
        switch (below(4)) {
        case 0: return edges[below(sizeof edges / sizeof edges[0])];
        case 1: return below(0x100);
        default: return u32();
        }
    }
};

// ---- The machine state both sides start from and end in ----------------------

struct Cpu {
    uint32_t eip;
    uint32_t reg[8];
    uint32_t eflags;  // CF ZF SF OF DF only
};

const char* const regNames[8] = {"eax", "ecx", "edx", "ebx", "esp", "ebp", "esi", "edi"};

std::string hex(const std::vector<uint8_t>& bytes) {
    std::string s;
    char buf[4];
    for (uint8_t b : bytes) {
        std::snprintf(buf, sizeof buf, "%02X ", b);
        s += buf;
    }
    if (!s.empty()) s.pop_back();
    return s;
}

// ---- The reference ----------------------------------------------------------------

class Reference {
public:
    Reference() {
        check(uc_open(UC_ARCH_X86, UC_MODE_32, &uc_), "uc_open");
        constexpr uint32_t readWrite = UC_PROT_READ | UC_PROT_WRITE;
        check(uc_mem_map(uc_, 0, 0x1000, readWrite), "map TEB page");
        check(uc_mem_map(uc_, stackStart, stackSize, readWrite), "map stack");
        check(uc_mem_map(uc_, codeStart, codeSize, UC_PROT_ALL), "map code");
        check(uc_mem_map(uc_, dataStart, dataSize, readWrite), "map data");
        // RET everywhere: a translation that starts at a branch target stops
        // after one instruction instead of reading past the code block.
        std::vector<uint8_t> rets(codeSize, 0xC3);
        write(codeStart, rets.data(), rets.size());
    }
    ~Reference() { uc_close(uc_); }

    void write(uint32_t address, const void* bytes, size_t n) { check(uc_mem_write(uc_, address, bytes, n), "write"); }
    void read(uint32_t address, void* bytes, size_t n) { check(uc_mem_read(uc_, address, bytes, n), "read"); }

    void setCode(const std::vector<uint8_t>& bytes) {
        std::vector<uint8_t> window(codeWindow, 0xC3);
        std::copy(bytes.begin(), bytes.end(), window.begin());
        write(here, window.data(), window.size());
    }

    // One instruction from cpu; false (and the error) if Unicorn refused it.
    // It runs until eip reaches `until`, where our side ended up (a wrong
    // turn runs into the RETs and fails, or stops after maxSteps). A repeated
    // string instruction is one step per element here, so a single step is
    // used only for a jump to itself. Every translation runs with the step
    // count, and the ones at the instruction and at the stop address are
    // dropped first: the stop test is compiled into them.
    bool step(const Cpu& in, uint32_t until, Cpu& out, std::string& error) {
        static const int ids[8] = {UC_X86_REG_EAX, UC_X86_REG_ECX, UC_X86_REG_EDX, UC_X86_REG_EBX,
                                   UC_X86_REG_ESP, UC_X86_REG_EBP, UC_X86_REG_ESI, UC_X86_REG_EDI};
        for (int i = 0; i < 8; ++i) uc_reg_write(uc_, ids[i], &in.reg[i]);
        uint32_t eflags = in.eflags | 0x2;
        uc_reg_write(uc_, UC_X86_REG_EFLAGS, &eflags);
        uc_ctl_remove_cache(uc_, here, here + codeWindow);
        uc_ctl_remove_cache(uc_, until, until + 1);
        uc_err err = until == in.eip ? uc_emu_start(uc_, in.eip, 0xFFFFFFFFull, 0, 1)
                                     : uc_emu_start(uc_, in.eip, until, 0, maxSteps);
        if (err != UC_ERR_OK) {
            error = uc_strerror(err);
            return false;
        }
        for (int i = 0; i < 8; ++i) uc_reg_read(uc_, ids[i], &out.reg[i]);
        uc_reg_read(uc_, UC_X86_REG_EIP, &out.eip);
        uc_reg_read(uc_, UC_X86_REG_EFLAGS, &eflags);
        out.eflags = eflags & (arithmeticFlags | DF);
        return true;
    }

private:
    static void check(uc_err err, const char* what) {
        if (err != UC_ERR_OK) throw std::runtime_error(std::string(what) + ": " + uc_strerror(err));
    }
    uc_engine* uc_ = nullptr;
};

// ---- Our side ----------------------------------------------------------------------

void setUpOurs() {
    guest::resetGuest(stackSize);
    machine::addMemoryBlock(machine::Addr{codeStart}, std::vector<uint8_t>(codeSize), true);
    machine::addMemoryBlock(machine::Addr{dataStart}, std::vector<uint8_t>(dataSize), false);
    machine::allocateTEB(tebSize);
}

uint8_t* ourBytes(uint32_t address, uint32_t n) {
    machine::MemoryBlock& block = machine::findBlock(n, machine::Addr{address});
    return block.data + (address - block.start.v);
}

uint8_t* ourTeb() {
    // The TEB has no host view; it is read and written dword by dword.
    static uint8_t copy[tebSize];
    for (uint32_t i = 0; i < tebSize; i += 4) machine::storeLe32(copy + i, machine::readMemory32(true, machine::Addr{i}).v);
    return copy;
}

bool stepOurs(const Cpu& in, Cpu& out, std::string& error) {
    machine::state.eip = machine::Addr{in.eip};
    for (int i = 0; i < 8; ++i) machine::state.reg[i].v = in.reg[i];
    machine::state.cf = in.eflags & CF;
    machine::state.zf = in.eflags & ZF;
    machine::state.sf = in.eflags & SF;
    machine::state.of = in.eflags & OF;
    machine::state.df = in.eflags & DF;
    try {
        machine::executeInstruction();
    } catch (const app::ProgramException& e) {
        error = e.message();
        machine::resetDecoderForTests();
        return false;
    }
    out.eip = machine::state.eip.v;
    for (int i = 0; i < 8; ++i) out.reg[i] = machine::state.reg[i].v;
    out.eflags = (machine::state.cf ? CF : 0) | (machine::state.zf ? ZF : 0) | (machine::state.sf ? SF : 0) |
                 (machine::state.of ? OF : 0) | (machine::state.df ? DF : 0);
    return true;
}

// ---- The forms ---------------------------------------------------------------------

enum class Rm { None, Any, RegOnly, MemOnly };

enum class Special {
    None,
    RegInOpcode,  // the register is the opcode's low three bits
    Stack,        // pushes or pops: ESP inside the data block
    Rel8,         // a short branch
    Rel32,        // a near branch (0F 8x, E9)
    Call,         // E8
    Ret,          // C3, C2: a return address in the code block on top of the stack
    Target,       // FF /2, FF /4: the operand is a code address
    PushRm,       // FF /6
    Jecxz,        // E3, 67 E3
    Moffs,        // A1, A3
    Movs,         // A4, A5 with or without F3
    Scas,         // F2 AE
    ShiftImm,     // C1: OF undefined unless the count (mod 32) is 1
    ShiftCl16,    // 66 D3 /4, /7: CF undefined above 16 for SHL, OF unless the count is 1
    RorCl16,      // 66 D3 /1
    Div,          // F7 /6: the quotient fits
    Idiv,         // F7 /7: the quotient fits (an overflowing IDIV would end the reference)
    Fs16,         // 64 67 89/8B [disp16], 64 67 A1/A3 moffs16: the TEB through a 16-bit address
};

constexpr int anyReg = -1;  // ModRM reg field: a register operand
constexpr int noModrm = -2;

struct Form {
    const char* text;
    std::vector<uint8_t> opcode;  // prefixes and opcode bytes
    int reg;                      // group field /n, anyReg or noModrm
    Rm rm;
    int memSize;                  // bytes of the memory access (0: none; LEA)
    int imm;                      // immediate bytes after the operand
    uint32_t undefinedFlags = 0;  // never compared for this form
    Special special = Special::None;
};

const std::vector<Form>& forms() {
    static const std::vector<Form> table = {
        {"add r/m32, r32", {0x01}, anyReg, Rm::Any, 4, 0},
        {"add r32, r/m32", {0x03}, anyReg, Rm::Any, 4, 0},
        {"add eax, imm32", {0x05}, noModrm, Rm::None, 0, 4},
        {"or r8, r/m8", {0x0A}, anyReg, Rm::Any, 1, 0},
        {"or r32, r/m32", {0x0B}, anyReg, Rm::Any, 4, 0},
        {"or r16, r/m16", {0x66, 0x0B}, anyReg, Rm::Any, 2, 0},
        {"or eax, imm32", {0x0D}, noModrm, Rm::None, 0, 4},
        {"sbb r32, r/m32", {0x1B}, anyReg, Rm::Any, 4, 0},
        {"and r32, r/m32", {0x23}, anyReg, Rm::Any, 4, 0},
        {"and r16, r/m16", {0x66, 0x23}, anyReg, Rm::Any, 2, 0},
        {"and al, imm8", {0x24}, noModrm, Rm::None, 0, 1},
        {"and eax, imm32", {0x25}, noModrm, Rm::None, 0, 4},
        {"sub r/m32, r32", {0x29}, anyReg, Rm::Any, 4, 0},
        {"sub r32, r/m32", {0x2B}, anyReg, Rm::Any, 4, 0},
        {"sub eax, imm32", {0x2D}, noModrm, Rm::None, 0, 4},
        {"sub ax, imm16", {0x66, 0x2D}, noModrm, Rm::None, 0, 2},
        {"xor r8, r/m8", {0x32}, anyReg, Rm::Any, 1, 0},
        {"xor r32, r/m32", {0x33}, anyReg, Rm::Any, 4, 0},
        {"cmp r8, r/m8", {0x3A}, anyReg, Rm::Any, 1, 0},
        {"cmp r32, r/m32", {0x3B}, anyReg, Rm::Any, 4, 0},
        {"cmp r16, r/m16", {0x66, 0x3B}, anyReg, Rm::Any, 2, 0},
        {"cmp al, imm8", {0x3C}, noModrm, Rm::None, 0, 1},
        {"cmp eax, imm32", {0x3D}, noModrm, Rm::None, 0, 4},
        {"cmp ax, imm16", {0x66, 0x3D}, noModrm, Rm::None, 0, 2},
        {"inc r32", {0x40}, noModrm, Rm::None, 0, 0, 0, Special::RegInOpcode},
        {"inc r16", {0x66, 0x40}, noModrm, Rm::None, 0, 0, 0, Special::RegInOpcode},
        {"dec r32", {0x48}, noModrm, Rm::None, 0, 0, 0, Special::RegInOpcode},
        {"dec r16", {0x66, 0x48}, noModrm, Rm::None, 0, 0, 0, Special::RegInOpcode},
        {"push r32", {0x50}, noModrm, Rm::None, 0, 0, 0, Special::Stack},
        {"pop r32", {0x58}, noModrm, Rm::None, 0, 0, 0, Special::Stack},
        {"push imm32", {0x68}, noModrm, Rm::None, 0, 4, 0, Special::Stack},
        {"push imm8", {0x6A}, noModrm, Rm::None, 0, 1, 0, Special::Stack},
        {"imul r32, r/m32, imm8", {0x6B}, anyReg, Rm::Any, 4, 1, SF | ZF},
        {"jb rel8", {0x72}, noModrm, Rm::None, 0, 0, 0, Special::Rel8},
        {"jae rel8", {0x73}, noModrm, Rm::None, 0, 0, 0, Special::Rel8},
        {"je rel8", {0x74}, noModrm, Rm::None, 0, 0, 0, Special::Rel8},
        {"jne rel8", {0x75}, noModrm, Rm::None, 0, 0, 0, Special::Rel8},
        {"jbe rel8", {0x76}, noModrm, Rm::None, 0, 0, 0, Special::Rel8},
        {"ja rel8", {0x77}, noModrm, Rm::None, 0, 0, 0, Special::Rel8},
        {"jns rel8", {0x79}, noModrm, Rm::None, 0, 0, 0, Special::Rel8},
        {"jl rel8", {0x7C}, noModrm, Rm::None, 0, 0, 0, Special::Rel8},
        {"jge rel8", {0x7D}, noModrm, Rm::None, 0, 0, 0, Special::Rel8},
        {"jle rel8", {0x7E}, noModrm, Rm::None, 0, 0, 0, Special::Rel8},
        {"jg rel8", {0x7F}, noModrm, Rm::None, 0, 0, 0, Special::Rel8},
        {"add r/m8, imm8", {0x80}, 0, Rm::Any, 1, 1},
        {"or r/m8, imm8", {0x80}, 1, Rm::Any, 1, 1},
        {"and r/m8, imm8", {0x80}, 4, Rm::Any, 1, 1},
        {"xor r/m8, imm8", {0x80}, 6, Rm::Any, 1, 1},
        {"cmp r/m8, imm8", {0x80}, 7, Rm::Any, 1, 1},
        {"add r/m32, imm32", {0x81}, 0, Rm::Any, 4, 4},
        {"or r/m32, imm32", {0x81}, 1, Rm::Any, 4, 4},
        {"and r/m32, imm32", {0x81}, 4, Rm::Any, 4, 4},
        {"sub r/m32, imm32", {0x81}, 5, Rm::Any, 4, 4},
        {"cmp r/m32, imm32", {0x81}, 7, Rm::Any, 4, 4},
        {"and r/m16, imm16", {0x66, 0x81}, 4, Rm::Any, 2, 2},
        {"sub r/m16, imm16", {0x66, 0x81}, 5, Rm::Any, 2, 2},
        {"add r/m32, imm8", {0x83}, 0, Rm::Any, 4, 1},
        {"or r/m32, imm8", {0x83}, 1, Rm::Any, 4, 1},
        {"adc r/m32, imm8", {0x83}, 2, Rm::Any, 4, 1},
        {"and r/m32, imm8", {0x83}, 4, Rm::Any, 4, 1},
        {"sub r/m32, imm8", {0x83}, 5, Rm::Any, 4, 1},
        {"cmp r/m32, imm8", {0x83}, 7, Rm::Any, 4, 1},
        {"or r/m16, imm8", {0x66, 0x83}, 1, Rm::Any, 2, 1},
        {"cmp r/m16, imm8", {0x66, 0x83}, 7, Rm::Any, 2, 1},
        {"test r/m8, r8", {0x84}, anyReg, Rm::Any, 1, 0},
        {"test r/m32, r32", {0x85}, anyReg, Rm::Any, 4, 0},
        {"test r/m16, r16", {0x66, 0x85}, anyReg, Rm::Any, 2, 0},
        {"mov r/m8, r8", {0x88}, anyReg, Rm::Any, 1, 0},
        {"mov r/m32, r32", {0x89}, anyReg, Rm::Any, 4, 0},
        {"mov r/m16, r16", {0x66, 0x89}, anyReg, Rm::Any, 2, 0},
        {"mov r8, r/m8", {0x8A}, anyReg, Rm::Any, 1, 0},
        {"mov r32, r/m32", {0x8B}, anyReg, Rm::Any, 4, 0},
        {"mov r16, r/m16", {0x66, 0x8B}, anyReg, Rm::Any, 2, 0},
        {"lea r32, m", {0x8D}, anyReg, Rm::MemOnly, 0, 0},
        {"xchg eax, r32", {0x90}, noModrm, Rm::None, 0, 0, 0, Special::RegInOpcode},
        {"xchg ax, r16", {0x66, 0x90}, noModrm, Rm::None, 0, 0, 0, Special::RegInOpcode},
        {"cdq", {0x99}, noModrm, Rm::None, 0, 0},
        {"sahf", {0x9E}, noModrm, Rm::None, 0, 0},
        {"mov eax, moffs32", {0xA1}, noModrm, Rm::None, 4, 0, 0, Special::Moffs},
        {"mov moffs32, eax", {0xA3}, noModrm, Rm::None, 4, 0, 0, Special::Moffs},
        {"movsb", {0xA4}, noModrm, Rm::None, 0, 0, 0, Special::Movs},
        {"movsd", {0xA5}, noModrm, Rm::None, 0, 0, 0, Special::Movs},
        {"rep movsb", {0xF3, 0xA4}, noModrm, Rm::None, 0, 0, 0, Special::Movs},
        {"rep movsd", {0xF3, 0xA5}, noModrm, Rm::None, 0, 0, 0, Special::Movs},
        {"test al, imm8", {0xA8}, noModrm, Rm::None, 0, 1},
        {"mov r8, imm8", {0xB0}, noModrm, Rm::None, 0, 1, 0, Special::RegInOpcode},
        {"mov r32, imm32", {0xB8}, noModrm, Rm::None, 0, 4, 0, Special::RegInOpcode},
        {"mov r16, imm16", {0x66, 0xB8}, noModrm, Rm::None, 0, 2, 0, Special::RegInOpcode},
        {"shl r/m32, imm8", {0xC1}, 4, Rm::Any, 4, 1, 0, Special::ShiftImm},
        {"shr r/m32, imm8", {0xC1}, 5, Rm::Any, 4, 1, 0, Special::ShiftImm},
        {"sar r/m32, imm8", {0xC1}, 7, Rm::Any, 4, 1, 0, Special::ShiftImm},
        {"ret imm16", {0xC2}, noModrm, Rm::None, 0, 2, 0, Special::Ret},
        {"ret", {0xC3}, noModrm, Rm::None, 0, 0, 0, Special::Ret},
        {"mov r/m8, imm8", {0xC6}, 0, Rm::Any, 1, 1},
        {"mov r/m32, imm32", {0xC7}, 0, Rm::Any, 4, 4},
        {"mov r/m16, imm16", {0x66, 0xC7}, 0, Rm::Any, 2, 2},
        {"shr r/m32, 1", {0xD1}, 5, Rm::Any, 4, 0},
        {"sar r/m32, 1", {0xD1}, 7, Rm::Any, 4, 0},
        {"rcl r/m16, 1", {0x66, 0xD1}, 2, Rm::Any, 2, 0},
        {"shl r/m16, 1", {0x66, 0xD1}, 4, Rm::Any, 2, 0},
        {"shr r/m16, 1", {0x66, 0xD1}, 5, Rm::Any, 2, 0},
        {"ror r/m16, cl", {0x66, 0xD3}, 1, Rm::Any, 2, 0, 0, Special::RorCl16},
        {"shl r/m16, cl", {0x66, 0xD3}, 4, Rm::Any, 2, 0, 0, Special::ShiftCl16},
        {"sar r/m16, cl", {0x66, 0xD3}, 7, Rm::Any, 2, 0, 0, Special::ShiftCl16},
        {"jecxz rel8", {0xE3}, noModrm, Rm::None, 0, 0, 0, Special::Jecxz},
        {"jcxz rel8", {0x67, 0xE3}, noModrm, Rm::None, 0, 0, 0, Special::Jecxz},
        {"call rel32", {0xE8}, noModrm, Rm::None, 0, 0, 0, Special::Call},
        {"jmp rel32", {0xE9}, noModrm, Rm::None, 0, 0, 0, Special::Rel32},
        {"jmp rel8", {0xEB}, noModrm, Rm::None, 0, 0, 0, Special::Rel8},
        {"repnz scasb", {0xF2, 0xAE}, noModrm, Rm::None, 0, 0, 0, Special::Scas},
        {"test r/m8, imm8", {0xF6}, 0, Rm::Any, 1, 1},
        {"test r/m32, imm32", {0xF7}, 0, Rm::Any, 4, 4},
        {"not r/m32", {0xF7}, 2, Rm::Any, 4, 0},
        {"neg r/m32", {0xF7}, 3, Rm::Any, 4, 0},
        {"imul r/m32", {0xF7}, 5, Rm::Any, 4, 0, SF | ZF},
        {"div r/m32", {0xF7}, 6, Rm::Any, 4, 0, arithmeticFlags, Special::Div},
        {"idiv r/m32", {0xF7}, 7, Rm::Any, 4, 0, arithmeticFlags, Special::Idiv},
        {"cld", {0xFC}, noModrm, Rm::None, 0, 0},
        {"dec r/m8", {0xFE}, 1, Rm::Any, 1, 0},
        {"inc r/m32", {0xFF}, 0, Rm::Any, 4, 0},
        {"dec r/m32", {0xFF}, 1, Rm::Any, 4, 0},
        {"call r/m32", {0xFF}, 2, Rm::Any, 4, 0, 0, Special::Target},
        {"jmp r/m32", {0xFF}, 4, Rm::Any, 4, 0, 0, Special::Target},
        {"push r/m32", {0xFF}, 6, Rm::Any, 4, 0, 0, Special::PushRm},
        {"jae rel32", {0x0F, 0x83}, noModrm, Rm::None, 0, 0, 0, Special::Rel32},
        {"je rel32", {0x0F, 0x84}, noModrm, Rm::None, 0, 0, 0, Special::Rel32},
        {"jne rel32", {0x0F, 0x85}, noModrm, Rm::None, 0, 0, 0, Special::Rel32},
        {"jbe rel32", {0x0F, 0x86}, noModrm, Rm::None, 0, 0, 0, Special::Rel32},
        {"jl rel32", {0x0F, 0x8C}, noModrm, Rm::None, 0, 0, 0, Special::Rel32},
        {"jge rel32", {0x0F, 0x8D}, noModrm, Rm::None, 0, 0, 0, Special::Rel32},
        {"jle rel32", {0x0F, 0x8E}, noModrm, Rm::None, 0, 0, 0, Special::Rel32},
        {"jg rel32", {0x0F, 0x8F}, noModrm, Rm::None, 0, 0, 0, Special::Rel32},
        {"sete r/m8", {0x0F, 0x94}, 0, Rm::Any, 1, 0},
        {"setne r/m8", {0x0F, 0x95}, 0, Rm::Any, 1, 0},
        {"setg r/m8", {0x0F, 0x9F}, 0, Rm::Any, 1, 0},
        {"imul r32, r/m32", {0x0F, 0xAF}, anyReg, Rm::Any, 4, 0, SF | ZF},
        {"movzx r32, r/m16", {0x0F, 0xB7}, anyReg, Rm::Any, 2, 0},
        {"movsx r32, r/m8", {0x0F, 0xBE}, anyReg, Rm::Any, 1, 0},
        {"mov fs:[disp16], r32", {0x64, 0x67, 0x89}, anyReg, Rm::MemOnly, 4, 0, 0, Special::Fs16},
        {"mov r32, fs:[disp16]", {0x64, 0x67, 0x8B}, anyReg, Rm::MemOnly, 4, 0, 0, Special::Fs16},
        {"mov eax, fs:moffs16", {0x64, 0x67, 0xA1}, noModrm, Rm::None, 4, 0, 0, Special::Fs16},
        {"mov fs:moffs16, eax", {0x64, 0x67, 0xA3}, noModrm, Rm::None, 4, 0, 0, Special::Fs16},
    };
    return table;
}

// ---- One random instance ----------------------------------------------------------

struct Instance {
    const Form* form;
    std::vector<uint8_t> bytes;
    Cpu cpu;
    uint32_t compareFlags;
    std::vector<std::pair<uint32_t, uint32_t>> dwords;  // memory to set (address, value) in both
};

// Address registers for a memory operand at target: base + (index << scale)
// + disp. Returns false when the operand cannot be placed (base == index
// with an awkward value), so the caller tries again.
bool placeBaseAndIndex(Cpu& cpu, int base, int index, uint32_t scale, uint32_t disp, uint32_t target, Random& rng) {
    if (base >= 0 && index >= 0 && base == index) {
        uint32_t factor = 1u + (1u << scale);
        cpu.reg[base] = (target - disp) / factor;  // lands within factor bytes below target
        return true;
    }
    uint32_t sum = target - disp;
    if (index >= 0) {
        uint32_t indexValue = rng.chance(50) ? rng.below(0x40) : rng.u32();
        cpu.reg[index] = indexValue;
        sum -= indexValue << scale;
    }
    if (base >= 0) cpu.reg[base] = sum;
    else if (sum != 0) return false;  // disp32 only when there is no base: fixed below
    return true;
}

// The address the operand actually names, recomputed from the bytes' fields.
struct MemoryOperand {
    std::vector<uint8_t> bytes;  // ModRM, SIB, displacement
    uint32_t address;
};

bool makeMemoryOperand(int regField, bool fs, Cpu& cpu, Random& rng, MemoryOperand& out) {
    uint32_t lo = fs ? 0 : dataStart + 0x100, hi = fs ? tebSize - 4 : dataStart + dataSize - 0x100;
    uint32_t target = lo + rng.below(hi - lo + 1);
    uint32_t mod = rng.below(3);
    uint32_t rm = rng.below(8);
    int base = -1, index = -1;
    uint32_t scale = 0, disp = 0;
    std::vector<uint8_t> tail;
    uint8_t sib = 0;
    bool hasSib = rm == 4;
    if (hasSib) {
        scale = rng.below(4);
        uint32_t idx = rng.below(8), b = rng.below(8);
        sib = static_cast<uint8_t>(scale << 6 | idx << 3 | b);
        index = idx == 4 ? -1 : static_cast<int>(idx);
        base = (b == 5 && mod == 0) ? -1 : static_cast<int>(b);
    } else if (!(mod == 0 && rm == 5)) {
        base = static_cast<int>(rm);
    }
    bool disp32 = mod == 2 || (mod == 0 && rm == 5) || (hasSib && mod == 0 && (sib & 7) == 5);
    if (mod == 1) {
        disp = app::val8SignExtend32(app::Val8{static_cast<uint8_t>(rng.u32())}).v;
    } else if (disp32) {
        disp = rng.chance(70) ? rng.below(0x1000) - 0x800u : rng.u32();
        if (base < 0 && index < 0) disp = target;
    }
    if (!placeBaseAndIndex(cpu, base, index, scale, disp, target, rng)) {
        if (base < 0 && index >= 0) {
            // [index << scale + disp32]: choose disp to fit.
            disp = target - (cpu.reg[index] << scale);
        } else {
            return false;
        }
    }
    uint32_t address = disp;
    if (base >= 0) address += cpu.reg[base];
    if (index >= 0) address += cpu.reg[index] << scale;
    if (address < lo || address > hi) return false;

    out.bytes.clear();
    out.bytes.push_back(static_cast<uint8_t>(mod << 6 | regField << 3 | rm));
    if (hasSib) out.bytes.push_back(sib);
    if (mod == 1) {
        out.bytes.push_back(static_cast<uint8_t>(disp));
    } else if (disp32) {
        for (int i = 0; i < 4; ++i) out.bytes.push_back(static_cast<uint8_t>(disp >> (8 * i)));
    }
    out.address = address;
    return true;
}

void push32le(std::vector<uint8_t>& bytes, uint32_t value, int n) {
    for (int i = 0; i < n; ++i) bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// A code address for an indirect branch or a return: the instruction itself
// or the RETs, never the middle of the instance (see the top of the file).
uint32_t codeAddressNear(Random& rng) {
    uint32_t address;
    do address = codeStart + 0x100 + rng.below(codeSize - 0x200);
    while (address > here && address < here + codeWindow);
    return address;
}

// A relative branch just pushed as the instance's last bytes lands inside them.
bool landsInsideItself(const Instance& in, uint32_t relative) {
    uint32_t target = here + static_cast<uint32_t>(in.bytes.size()) + relative;
    return target > here && target < here + in.bytes.size();
}

bool espUsable(const Cpu& cpu) { return cpu.reg[4] >= dataStart + 0x10 && cpu.reg[4] <= dataStart + dataSize - 0x10; }

// Reads a dword as both sides will see it once `dwords` are applied.
uint32_t memoryValue(const Instance& in, uint32_t address, bool fs) {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) {
        uint32_t a = address + i;
        uint8_t byte = fs ? static_cast<uint8_t>(machine::readMemory32(true, machine::Addr{a & ~3u}).v >> (8 * (a & 3)))
                          : ourBytes(a, 1)[0];
        for (const auto& [at, v] : in.dwords)
            if (a >= at && a < at + 4) byte = static_cast<uint8_t>(v >> (8 * (a - at)));
        value |= uint32_t{byte} << (8 * i);
    }
    return value;
}

bool isPrefix(uint8_t byte) { return byte == 0x64 || byte == 0x66 || byte == 0x67 || byte == 0xF3; }

bool generate(const Form& form, Random& rng, Instance& in) {
    in.form = &form;
    in.bytes.clear();
    in.dwords.clear();
    in.cpu.eip = here;
    for (uint32_t& r : in.cpu.reg) r = rng.interesting();
    in.cpu.reg[4] = dataStart + 0x200 + (rng.below(0xC00) & ~3u);
    in.cpu.eflags = rng.u32() & arithmeticFlags;
    if (rng.chance(20)) in.cpu.eflags |= DF;
    in.compareFlags = (arithmeticFlags | DF) & ~form.undefinedFlags;

    bool fs = form.special == Special::Fs16 ||
              (form.rm != Rm::None && form.memSize == 4 && form.special != Special::Target && rng.chance(15));
    if (form.opcode[0] == 0x8D) fs = false;
    if (fs && form.special != Special::Fs16) in.bytes.push_back(0x64);
    in.bytes.insert(in.bytes.end(), form.opcode.begin(), form.opcode.end());
    // Prefixes in any order, and repeated: the same instruction.
    size_t prefixes = 0;
    while (prefixes < in.bytes.size() && isPrefix(in.bytes[prefixes])) ++prefixes;
    if (prefixes >= 2 && rng.chance(50)) std::swap(in.bytes[0], in.bytes[1]);
    if (prefixes >= 1 && rng.chance(10)) in.bytes.insert(in.bytes.begin(), in.bytes[rng.below(prefixes)]);

    bool registerInOpcode = form.special == Special::RegInOpcode ||
                            (form.special == Special::Stack && (form.opcode[0] == 0x50 || form.opcode[0] == 0x58));
    if (registerInOpcode) in.bytes.back() = static_cast<uint8_t>(in.bytes.back() + rng.below(8));

    // Registers that some forms need in range, set before the memory operand
    // is placed (which may take them as its base or index).
    switch (form.special) {
    case Special::ShiftCl16:
    case Special::RorCl16:
        in.cpu.reg[1] = (rng.u32() & ~0xFFu) | (rng.chance(70) ? rng.below(33) : rng.below(256));
        break;
    case Special::Div:
    case Special::Idiv:
        // A dividend whose quotient likely fits: EDX small, or the sign of EAX.
        if (rng.chance(60))
            in.cpu.reg[2] = form.special == Special::Idiv ? ((in.cpu.reg[0] >> 31) ? 0xFFFFFFFFu : 0u) : rng.below(4);
        break;
    default:
        break;
    }

    // ModRM and the operand.
    bool memory = false;
    uint32_t operandAddress = 0;
    uint8_t modrm = 0;
    if (form.reg != noModrm) {
        int regField = form.reg == anyReg ? static_cast<int>(rng.below(8)) : form.reg;
        memory = form.rm == Rm::MemOnly || (form.rm == Rm::Any && (fs || rng.chance(50)));
        if (form.special == Special::Fs16) {
            modrm = static_cast<uint8_t>(regField << 3 | 6);
            in.bytes.push_back(modrm);
            operandAddress = rng.below(tebSize - 3);
            push32le(in.bytes, operandAddress, 2);
        } else if (memory) {
            MemoryOperand op;
            if (!makeMemoryOperand(regField, fs, in.cpu, rng, op)) return false;
            modrm = op.bytes[0];
            in.bytes.insert(in.bytes.end(), op.bytes.begin(), op.bytes.end());
            operandAddress = op.address;
        } else {
            modrm = static_cast<uint8_t>(0xC0 | regField << 3 | rng.below(8));
            in.bytes.push_back(modrm);
        }
    }
    // A fresh dword so memory operands see varied values.
    if (memory && !fs && rng.chance(50)) in.dwords.push_back({operandAddress, rng.interesting()});

    // The immediate, and the operands some forms need in range.
    uint32_t imm = rng.interesting();
    switch (form.special) {
    case Special::ShiftImm:
        imm = rng.chance(70) ? rng.below(33) : rng.below(256);
        if ((imm & 31) != 1) in.compareFlags &= ~OF;
        break;
    case Special::Moffs:
        operandAddress = fs ? rng.below(tebSize - 3) : dataStart + rng.below(dataSize - 3);
        push32le(in.bytes, operandAddress, 4);
        break;
    case Special::Fs16:
        if (form.reg == noModrm) {
            operandAddress = rng.below(tebSize - 3);
            push32le(in.bytes, operandAddress, 2);
        }
        break;
    case Special::Rel8:
    case Special::Jecxz: {
        uint8_t relative = static_cast<uint8_t>(rng.u32());
        in.bytes.push_back(relative);
        if (landsInsideItself(in, app::val8SignExtend32(app::Val8{relative}).v)) return false;
        break;
    }
    case Special::Rel32:
    case Special::Call: {
        uint32_t relative = rng.below(0xE00) - 0x700u;
        push32le(in.bytes, relative, 4);
        if (landsInsideItself(in, relative)) return false;
        break;
    }
    default:
        break;
    }
    // The reference sign-extends the count of RET imm16, which the processor
    // zero-extends: counts from 0x8000 stay out of the random runs.
    if (form.special == Special::Ret) imm &= 0x7FFF;
    if (form.imm > 0) push32le(in.bytes, imm, form.imm);

    // Operand values, and the flags left undefined for this instance.
    uint32_t count;
    switch (form.special) {
    case Special::Stack:
    case Special::Call:
    case Special::PushRm:
        if (!espUsable(in.cpu)) return false;
        break;
    case Special::Ret:
        if (!espUsable(in.cpu)) return false;
        in.dwords.push_back({in.cpu.reg[4], codeAddressNear(rng)});
        break;
    case Special::Target:
        if (!espUsable(in.cpu)) return false;
        if (memory) in.dwords.push_back({operandAddress, codeAddressNear(rng)});
        else in.cpu.reg[modrm & 7] = codeAddressNear(rng);
        break;
    case Special::Jecxz:
        if (rng.chance(50)) in.cpu.reg[1] = rng.chance(50) ? 0 : in.cpu.reg[1] & 0xFFFF0000u;
        break;
    case Special::ShiftCl16:
    case Special::RorCl16:
        count = in.cpu.reg[1] & 31;
        if (count != 1) in.compareFlags &= ~OF;
        if (form.special == Special::ShiftCl16 && form.reg == 4 && count > 16) in.compareFlags &= ~CF;
        break;
    case Special::Movs: {
        in.cpu.reg[6] = dataStart + 0x200 + rng.below(0xC00);
        in.cpu.reg[7] = rng.chance(30) ? in.cpu.reg[6] + rng.below(9) - 4 : dataStart + 0x200 + rng.below(0xC00);
        in.cpu.reg[1] = rng.chance(20) ? 0 : rng.below(0x40);
        break;
    }
    case Special::Scas: {
        in.cpu.eflags &= ~DF;
        in.cpu.reg[7] = dataStart + rng.below(dataSize - 0x100);
        uint32_t ahead = rng.below(0x40);
        if (rng.chance(25)) {
            in.cpu.reg[1] = 0xFFFFFFFF;
            uint8_t al = ourBytes(in.cpu.reg[7] + ahead, 1)[0];
            in.cpu.reg[0] = (in.cpu.reg[0] & ~0xFFu) | al;
        } else {
            in.cpu.reg[1] = rng.chance(10) ? 0 : ahead;
            if (rng.chance(50)) in.cpu.reg[0] = (in.cpu.reg[0] & ~0xFFu) | ourBytes(in.cpu.reg[7] + ahead / 2, 1)[0];
        }
        break;
    }
    case Special::Div:
    case Special::Idiv: {
        uint32_t divisor = memory ? memoryValue(in, operandAddress, fs) : in.cpu.reg[modrm & 7];
        if (divisor == 0) return false;
        uint64_t dividend = uint64_t{in.cpu.reg[2]} << 32 | in.cpu.reg[0];
        if (form.special == Special::Div) {
            if (dividend / divisor > 0xFFFFFFFFu) return false;
        } else {
            int64_t n = static_cast<int64_t>(dividend), d = static_cast<int32_t>(divisor);
            if (d == -1 && n == INT64_MIN) return false;
            int64_t q = n / d;
            if (q > INT32_MAX || q < INT32_MIN) return false;
        }
        break;
    }
    default:
        break;
    }
    return true;
}

// ---- Running and comparing --------------------------------------------------------

struct Harness {
    Reference ref;

    Harness() {
        setUpOurs();
        Random fill{12345};
        std::vector<uint8_t> data(dataSize);
        for (uint8_t& b : data) b = static_cast<uint8_t>(fill.below(100) < 30 ? 0 : fill.u32());
        std::memcpy(ourBytes(dataStart, dataSize), data.data(), dataSize);
        ref.write(dataStart, data.data(), dataSize);
        std::vector<uint8_t> teb(tebSize);
        for (uint32_t i = 0; i < tebSize; i += 4) {
            uint32_t v = fill.u32();
            machine::writeMemory32(true, machine::Addr{i}, machine::Val32{v});
            machine::storeLe32(teb.data() + i, v);
        }
        ref.write(0, teb.data(), tebSize);
    }

    void setDword(uint32_t address, uint32_t value, bool fs) {
        uint8_t bytes[4];
        machine::storeLe32(bytes, value);
        if (fs) {
            for (int i = 0; i < 4; ++i) {
                uint32_t a = address + i, word = a & ~3u;
                uint32_t v = machine::readMemory32(true, machine::Addr{word}).v;
                v = (v & ~(0xFFu << (8 * (a & 3)))) | uint32_t{bytes[i]} << (8 * (a & 3));
                machine::writeMemory32(true, machine::Addr{word}, machine::Val32{v});
            }
        } else {
            std::memcpy(ourBytes(address, 4), bytes, 4);
        }
        ref.write(address, bytes, 4);
    }

    // Runs one instance in both; "" when they agree, else what differs.
    std::string run(const Instance& in) {
        for (const auto& [address, value] : in.dwords) setDword(address, value, address < tebSize);
        std::memset(ourBytes(here, codeWindow), 0xC3, codeWindow);
        std::memcpy(ourBytes(here, static_cast<uint32_t>(in.bytes.size())), in.bytes.data(), in.bytes.size());
        ref.setCode(in.bytes);

        Cpu ours{}, theirs{};
        std::string ourError, theirError;
        bool oursOk = stepOurs(in.cpu, ours, ourError);
        uint32_t until = oursOk ? ours.eip : in.cpu.eip + static_cast<uint32_t>(in.bytes.size());
        bool theirsOk = ref.step(in.cpu, until, theirs, theirError);
        if (!oursOk || !theirsOk)
            return "ours: " + (oursOk ? std::string("ok") : ourError) + "; reference: " + (theirsOk ? "ok" : theirError);

        std::string diff;
        char buf[160];
        if (ours.eip != theirs.eip) {
            std::snprintf(buf, sizeof buf, " eip %08x vs %08x;", ours.eip, theirs.eip);
            diff += buf;
        }
        for (int i = 0; i < 8; ++i) {
            if (ours.reg[i] == theirs.reg[i]) continue;
            std::snprintf(buf, sizeof buf, " %s %08x vs %08x;", regNames[i], ours.reg[i], theirs.reg[i]);
            diff += buf;
        }
        uint32_t flagDiff = (ours.eflags ^ theirs.eflags) & in.compareFlags;
        static const std::pair<uint32_t, const char*> flagNames[] = {{CF, "CF"}, {ZF, "ZF"}, {SF, "SF"}, {OF, "OF"}, {DF, "DF"}};
        for (const auto& [bit, name] : flagNames) {
            if (!(flagDiff & bit)) continue;
            std::snprintf(buf, sizeof buf, " %s %d vs %d;", name, (ours.eflags & bit) != 0, (theirs.eflags & bit) != 0);
            diff += buf;
        }
        static uint8_t theirData[dataSize];
        ref.read(dataStart, theirData, dataSize);
        const uint8_t* ourData = ourBytes(dataStart, dataSize);
        for (uint32_t i = 0; i < dataSize; ++i) {
            if (ourData[i] == theirData[i]) continue;
            std::snprintf(buf, sizeof buf, " byte %08x %02x vs %02x;", dataStart + i, ourData[i], theirData[i]);
            diff += buf;
            std::memcpy(ourBytes(dataStart, dataSize), theirData, dataSize);  // resynchronise
            break;
        }
        uint8_t theirTeb[tebSize];
        ref.read(0, theirTeb, tebSize);
        const uint8_t* ourTebBytes = ourTeb();
        if (std::memcmp(ourTebBytes, theirTeb, tebSize) != 0) diff += " TEB differs;";
        return diff;
    }
};

std::string describe(const Instance& in, uint64_t seed, int number) {
    char buf[256];
    std::snprintf(buf, sizeof buf, "seed %llu, instance %d: %s [%s]\n  before: eflags %03x", static_cast<unsigned long long>(seed),
                  number, in.form->text, hex(in.bytes).c_str(), in.cpu.eflags);
    std::string s = buf;
    for (int i = 0; i < 8; ++i) {
        std::snprintf(buf, sizeof buf, " %s=%08x", regNames[i], in.cpu.reg[i]);
        s += buf;
    }
    return s;
}

uint64_t envNumber(const char* name, uint64_t fallback) {
    const char* text = std::getenv(name);
    return text != nullptr ? std::strtoull(text, nullptr, 0) : fallback;
}

TEST(DifferentialTest, RandomInstancesOfEveryForm) {
    uint64_t seed = envNumber("QZ_DIFF_SEED", 20261210);
    int count = static_cast<int>(envNumber("QZ_DIFF_COUNT", 100000));
    Harness harness;
    Random rng{seed};
    const auto& table = forms();
    int failures = 0;
    for (int n = 0; n < count && failures < 10; ++n) {
        const Form& form = table[n % table.size()];
        Instance in;
        int tries = 0;
        while (!generate(form, rng, in))
            if (++tries > 1000) FAIL() << "no instance for " << form.text;
        std::string diff = harness.run(in);
        if (!diff.empty()) {
            ++failures;
            ADD_FAILURE() << describe(in, seed, n) << "\n  differs (ours vs reference):" << diff;
        }
    }
    machine::resetMachineForTests();
}

// ---- Directed cases: the documented results built on purpose ------------------------

struct Directed {
    const char* text;
    const char* bytes;
    uint32_t reg[8];
    uint32_t eflags;
    uint32_t compareFlags;
};

const Directed directedCases[] = {
    // SAR r/m16, CL with counts 17 to 31: CF is the sign.
    {"sar ax, cl=17 (negative)", "66 D3 F8", {0x8000, 17}, 0, arithmeticFlags & ~OF},
    {"sar ax, cl=20 (negative)", "66 D3 F8", {0xF123, 20}, 0, arithmeticFlags & ~OF},
    {"sar ax, cl=31 (positive)", "66 D3 F8", {0x7123, 31}, CF, arithmeticFlags & ~OF},
    {"sar ax, cl=16", "66 D3 F8", {0x8000, 16}, 0, arithmeticFlags & ~OF},
    // C1: the count taken mod 32.
    {"shl eax, 32", "C1 E0 20", {0x80000001}, OF | ZF, arithmeticFlags},
    {"shl eax, 33", "C1 E0 21", {0x40000000}, 0, arithmeticFlags},
    {"shr eax, 33", "C1 E8 21", {0x80000001}, 0, arithmeticFlags},
    {"sar eax, 63", "C1 F8 3F", {0x80000000}, 0, arithmeticFlags & ~OF},
    {"shl eax, 0xE0", "C1 E0 E0", {0x12345678}, CF | SF, arithmeticFlags},
    // RCL r/m16, 1: OF = top bit XOR CF.
    {"rcl ax, 1 (0x8000, CF)", "66 D1 D0", {0x8000}, CF, arithmeticFlags},
    {"rcl ax, 1 (0x4000)", "66 D1 D0", {0x4000}, 0, arithmeticFlags},
    {"rcl ax, 1 (0xC000)", "66 D1 D0", {0xC000}, OF, arithmeticFlags},
    // REPNZ SCASB: the flags of CMP AL with the last byte.
    {"repnz scasb, no match", "F2 AE", {0x01, 4, 0, 0, 0x500800, 0, 0, 0x500000}, ZF, arithmeticFlags},
    {"repnz scasb, ecx=0", "F2 AE", {0x01, 0, 0, 0, 0x500800, 0, 0, 0x500000}, CF | OF, arithmeticFlags},
};

TEST(DifferentialTest, DocumentedResultsMatchTheReference) {
    Harness harness;
    for (const Directed& d : directedCases) {
        Instance in;
        static const Form directedForm{"directed", {}, noModrm, Rm::None, 0, 0};
        in.form = &directedForm;
        in.bytes = guest::hexBytes(d.bytes);
        in.cpu.eip = here;
        std::memcpy(in.cpu.reg, d.reg, sizeof in.cpu.reg);
        if (in.cpu.reg[4] == 0) in.cpu.reg[4] = 0x500800;
        in.cpu.eflags = d.eflags;
        in.compareFlags = d.compareFlags | DF;
        // Four bytes that never equal AL = 1 for the scans.
        if (in.bytes[0] == 0xF2) in.dwords.push_back({0x500000, 0x05040302});
        EXPECT_EQ(harness.run(in), "") << d.text << " [" << d.bytes << "]";
    }
    machine::resetMachineForTests();
}

}  // namespace
