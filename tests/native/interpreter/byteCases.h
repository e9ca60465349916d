// Byte-sequence cases for the interpreter: one instruction's bytes, the state
// before, what changes, and the error message if the step must fail.
//
//   {"cmp eax, 7", "3D 07000000", "eax=5", "", "CF SF"},
//
// State strings are blank-separated items:
//   eax=5 ... edi=0x10   a 32-bit register (esp defaults to the stack's end)
//   eip=0x401002         the expected eip (default: just past the bytes)
//   [0x500000]=0x1234    a dword of the data block (b[...] byte, w[...] word)
//   fs:[0x2c]=7          a dword of the TEB
//   CF DF OF SF ZF       flags set before the step (in `before` only)
// After the step every register, every flag, the whole data block and the
// TEB must equal their values before, changed by `after` and `flags` only:
// a case also proves what an instruction leaves alone.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "guestFixture.h"

namespace bytecases {

// The four prefix refusals for an instruction at the code block's start.
constexpr const char* addressSizeRefused =
    "Address size override prefix (0x67) used with instruction that doesn't support it at address 0x401000";
constexpr const char* fsRefused =
    "fs segment selector prefix (0x64) used with instruction that doesn't support it at address 0x401000";
constexpr const char* operandSizeRefused =
    "Operand size prefix (0x66) used with instruction that doesn't support it at address 0x401000";
constexpr const char* repRefused =
    "Repeat override prefix (0xf3) used with instruction that doesn't support it at address 0x401000";

constexpr uint32_t dataSize = 0x100;
constexpr uint32_t tebSize = 48;

struct Case {
    const char* text;    // the disassembly
    const char* bytes;   // hex, as the fixture reads it
    const char* before;  // registers, memory, flags set before the step
    const char* after;   // registers, memory, eip that change
    const char* flags;   // every flag set after the step, "CF SF" order as guest::flags()
    const char* error = "";  // the ProgramException's message, or "" for success
};

inline void PrintTo(const Case& c, std::ostream* os) { *os << c.text << " [" << c.bytes << "]"; }

// A test name from the disassembly: "mov ax, cx" -> "0_mov_ax_cx".
inline std::string caseName(const ::testing::TestParamInfo<Case>& info) {
    std::string name = std::to_string(info.index) + "_";
    bool gap = false;
    for (const char* p = info.param.text; *p; ++p) {
        bool word = (*p >= 'a' && *p <= 'z') || (*p >= 'A' && *p <= 'Z') || (*p >= '0' && *p <= '9');
        if (!word) {
            gap = true;
            continue;
        }
        if (gap && name.back() != '_') name += '_';
        gap = false;
        name += *p;
    }
    return name;
}

struct Snapshot {
    machine::Addr eip;
    uint32_t reg[8];
    std::vector<uint8_t> data;
    std::vector<uint8_t> teb;
};

inline std::vector<std::string> items(const char* text) {
    std::vector<std::string> out;
    std::string current;
    for (const char* p = text; *p; ++p) {
        if (*p == ' ') {
            if (!current.empty()) out.push_back(current);
            current.clear();
        } else {
            current += *p;
        }
    }
    if (!current.empty()) out.push_back(current);
    return out;
}

inline int registerIndex(const std::string& name) {
    static const char* names[8] = {"eax", "ecx", "edx", "ebx", "esp", "ebp", "esi", "edi"};
    for (int i = 0; i < 8; ++i)
        if (name == names[i]) return i;
    return -1;
}

inline void putLe(std::vector<uint8_t>& bytes, uint32_t offset, uint32_t value, int size) {
    if (offset + size > bytes.size()) throw std::invalid_argument("case writes outside its block");
    for (int i = 0; i < size; ++i) bytes[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

// Applies one state string to a snapshot; flags go to *flags when given.
inline void apply(Snapshot& s, const char* text, bool* sawEip, std::string* flags) {
    for (const std::string& item : items(text)) {
        if (item == "CF" || item == "DF" || item == "OF" || item == "SF" || item == "ZF") {
            if (flags == nullptr) throw std::invalid_argument("flags belong in the flags column");
            if (!flags->empty()) *flags += ' ';
            *flags += item;
            continue;
        }
        size_t eq = item.find('=');
        if (eq == std::string::npos) throw std::invalid_argument("bad case item " + item);
        std::string key = item.substr(0, eq);
        uint32_t value = static_cast<uint32_t>(std::stoul(item.substr(eq + 1), nullptr, 0));
        if (key == "eip") {
            s.eip = machine::Addr{value};
            if (sawEip) *sawEip = true;
        } else if (int r = registerIndex(key); r >= 0) {
            s.reg[r] = value;
        } else {
            int size = 4;
            bool teb = false;
            std::string where = key;
            if (where.rfind("fs:", 0) == 0) { teb = true; where = where.substr(3); }
            if (where[0] == 'b') { size = 1; where = where.substr(1); }
            else if (where[0] == 'w') { size = 2; where = where.substr(1); }
            if (where.size() < 3 || where.front() != '[' || where.back() != ']')
                throw std::invalid_argument("bad case item " + item);
            uint32_t address = static_cast<uint32_t>(std::stoul(where.substr(1, where.size() - 2), nullptr, 0));
            if (teb) putLe(s.teb, address, value, size);
            else putLe(s.data, address - guest::dataAddress.v, value, size);
        }
    }
}

// Sorts "SF CF" into the fixture's order.
inline std::string canonicalFlags(const std::string& names) {
    std::string out;
    for (const char* f : {"CF", "DF", "OF", "SF", "ZF"}) {
        if (names.find(f) == std::string::npos) continue;
        if (!out.empty()) out += ' ';
        out += f;
    }
    return out;
}

inline Snapshot capture() {
    Snapshot s;
    s.eip = machine::state.eip;
    for (int i = 0; i < 8; ++i) s.reg[i] = machine::state.reg[i].v;
    s.data.resize(dataSize);
    for (uint32_t i = 0; i < dataSize; ++i)
        s.data[i] = machine::readMemory8(false, machine::Addr{guest::dataAddress.v + i}).v;
    s.teb.resize(tebSize);
    for (uint32_t i = 0; i < tebSize; i += 4)
        putLe(s.teb, i, machine::readMemory32(true, machine::Addr{i}).v, 4);
    return s;
}

inline void restore(const Snapshot& s) {
    machine::state.eip = s.eip;
    for (int i = 0; i < 8; ++i) machine::state.reg[i].v = s.reg[i];
    for (uint32_t i = 0; i < dataSize; ++i)
        machine::writeMemory8(false, machine::Addr{guest::dataAddress.v + i}, machine::Val8{s.data[i]});
    for (uint32_t i = 0; i < tebSize; i += 4)
        machine::writeMemory32(true, machine::Addr{i},
                               machine::Val32{machine::loadLe32(s.teb.data() + i)});
}

// Runs one case on a fresh guest: code at 0x401000, a zeroed data block at
// 0x500000, a 48-byte TEB.
inline void run(const Case& c) {
    SCOPED_TRACE(std::string(c.text) + "  [" + c.bytes + "]");
    guest::resetGuest();
    machine::resetDecoderForTests();
    machine::allocateTEB(tebSize);
    machine::Addr code = guest::loadCode(c.bytes);
    uint32_t length = static_cast<uint32_t>(guest::hexBytes(c.bytes).size());
    guest::addZeroedData(guest::dataAddress, dataSize);

    Snapshot before = capture();
    std::string flagsBefore;
    apply(before, c.before, nullptr, &flagsBefore);
    restore(before);
    guest::setFlags(flagsBefore);

    Snapshot expected = before;
    expected.eip = machine::Addr{code.v + length};
    bool sawEip = false;
    apply(expected, c.after, &sawEip, nullptr);

    std::string error = guest::errorOf([] { guest::step(); });
    EXPECT_EQ(error, c.error);
    Snapshot actual = capture();
    if (sawEip || error.empty()) {
        EXPECT_EQ(actual.eip.v, expected.eip.v) << std::hex << "eip 0x" << actual.eip.v;
    }
    static const char* names[8] = {"eax", "ecx", "edx", "ebx", "esp", "ebp", "esi", "edi"};
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(actual.reg[i], expected.reg[i]) << std::hex << names[i] << " = 0x" << actual.reg[i]
                                                  << ", expected 0x" << expected.reg[i];
    for (uint32_t i = 0; i < dataSize; ++i)
        EXPECT_EQ(actual.data[i], expected.data[i]) << std::hex << "byte at 0x" << guest::dataAddress.v + i;
    for (uint32_t i = 0; i < tebSize; ++i)
        EXPECT_EQ(actual.teb[i], expected.teb[i]) << std::hex << "TEB byte 0x" << i;
    EXPECT_EQ(guest::flags(), canonicalFlags(c.flags));
}

}  // namespace bytecases
