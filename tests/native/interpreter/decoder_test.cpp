// The decoder: prefixes and their acceptance, memory-operand forms, and the
// exact message of every byte, 0x0F byte and group field without an entry.
#include <gtest/gtest.h>

#include <set>

#include "byteCases.h"

namespace {

using bytecases::Case;
using bytecases::addressSizeRefused;
using bytecases::fsRefused;
using bytecases::repRefused;
using bytecases::operandSizeRefused;


const Case prefixCases[] = {
    {"mov ax, cx (0x66 twice)", "66 66 89 C8", "eax=0x11112222 ecx=0x33334444", "eax=0x11114444", ""},
    {"rep xchg eax, eax", "F3 90", "", "eip=0x401002", "", repRefused},
    {"fs mov eax, ecx (register form)", "64 8B C1", "ecx=7", "eax=7 eip=0x401003", "", fsRefused},
    {"mov eax, fs:[0]", "64 A1 00000000", "fs:[0]=0x12345678", "eax=0x12345678", ""},
    {"mov eax, fs:[0] (16-bit address)", "64 67 8B 06 0000", "fs:[0]=0x12345678", "eax=0x12345678", ""},
    {"mov eax, fs:[0] (moffs16)", "64 67 A1 0000", "fs:[0]=0x12345678", "eax=0x12345678", ""},
    {"mov eax, [bx+si] (16-bit)", "67 8B 00", "", "eip=0x401003", "",
     "Unimplemented R/M 16-bit addressing form 0x0"},
    {"add fs:[0], eax (16-bit address): done, then refused", "64 67 01 06 0000", "eax=5 fs:[0]=10",
     "fs:[0]=15 eip=0x401006", "", addressSizeRefused},
    {"add eax, ecx under 0x66: 32 bits, then refused", "66 01 C8", "eax=0xFFFF ecx=1",
     "eax=0x10000 eip=0x401003", "", operandSizeRefused},
    {"add eax, imm32 under 0x66: all four bytes, then refused", "66 81 C0 01000000", "eax=1",
     "eax=2 eip=0x401007", "", operandSizeRefused},
    {"shl eax, 1 without 0x66", "D1 E0", "eax=1", "eip=0x401002", "",
     "Instruction not supported at address 0x401000"},
    {"sar eax, 1 under 0x66: 32 bits, then refused", "66 D1 F8", "eax=0x80000002",
     "eax=0xC0000001 eip=0x401003", "SF", operandSizeRefused},
    // All four left over: the first in the fixed order wins.
    {"push eax with 67 64 F3 66", "67 64 F3 66 50", "eax=9", "esp=0x10FFFC eip=0x401005", "",
     addressSizeRefused},
    {"push eax with 64 F3 66", "64 F3 66 50", "eax=9", "esp=0x10FFFC eip=0x401004", "", fsRefused},
    {"push eax with F3 66", "F3 66 50", "eax=9", "esp=0x10FFFC eip=0x401003", "", repRefused},
    {"push eax with 66", "66 50", "eax=9", "esp=0x10FFFC eip=0x401002", "", operandSizeRefused},
    {"a prefix at the end of the code block", "66", "", "", "",
     "Unable to read instruction outside of code memory block. eip = 0x401001"},
    {"an instruction cut off by the block's end", "B8 0000", "", "", "",
     "Unable to read instruction outside of code memory block. eip = 0x401001"},
    {"0x66 accepted by XCHG AX, r16", "66 90", "", "", ""},
    {"lock is no prefix", "F0 90", "", "eip=0x401001", "", "Unknown instruction byte 0xf0 at address 0x401000"},
    {"gs is no prefix", "65 90", "", "eip=0x401001", "", "Unknown instruction byte 0x65 at address 0x401000"},
};

const Case addressingCases[] = {
    {"mov eax, [esp+8] (SIB, no index)", "8B 44 24 08", "esp=0x500010 [0x500018]=0xAABBCCDD", "eax=0xAABBCCDD", ""},
    {"mov eax, [eax*4+disp32] (SIB base 5, mod 0)", "8B 04 85 00005000", "eax=4 [0x500010]=0x77", "eax=0x77", ""},
    {"mov eax, [ebp-8]", "8B 45 F8", "ebp=0x500010 [0x500008]=9", "eax=9", ""},
    {"mov eax, [disp32]", "8B 05 20005000", "[0x500020]=0x1234", "eax=0x1234", ""},
    {"mov eax, [ebx]", "8B 03", "ebx=0x500004 [0x500004]=5", "eax=5", ""},
    {"mov eax, [ebx+esi*8+0x10] (SIB, mod 1)", "8B 44 F3 10", "ebx=0x500000 esi=2 [0x500020]=6", "eax=6", ""},
    {"mov eax, [ebp+ecx*2-0x100] (SIB base 5, mod 2)", "8B 84 4D 00FFFFFF",
     "ebp=0x500100 ecx=0x10 [0x500020]=7", "eax=7", ""},
    {"mov eax, [ebp+0] via SIB (base 5, mod 1, no index)", "8B 44 25 00", "ebp=0x500030 [0x500030]=8", "eax=8", ""},
    {"mov eax, [edi+disp32]", "8B 87 00010000", "edi=0x4FFF40 [0x500040]=3", "eax=3", ""},
    {"mov eax, [eax-1]: the sum wraps", "8B 40 FF", "eax=0x500001 [0x500000]=0x11", "eax=0x11", ""},
    {"mov eax, [ecx+edx] wraps past 2^32", "8B 04 11", "ecx=0xFFFFF000 edx=0x501000 [0x500000]=4", "eax=4", ""},
    {"mov eax, [disp16] zero-extended", "67 A1 FFFF", "", "", "",
     "Attempted to lookup invalid memory address: 0xffff  size: 4"},
    {"a memory operand outside every block", "8B 05 00006000", "", "", "",
     "Attempted to lookup invalid memory address: 0x600000  size: 4"},
};

class PrefixTest : public ::testing::TestWithParam<Case> {};
TEST_P(PrefixTest, Case) { bytecases::run(GetParam()); }
INSTANTIATE_TEST_SUITE_P(Decoder, PrefixTest, ::testing::ValuesIn(prefixCases), bytecases::caseName);

class AddressingTest : public ::testing::TestWithParam<Case> {};
TEST_P(AddressingTest, Case) { bytecases::run(GetParam()); }
INSTANTIATE_TEST_SUITE_P(Decoder, AddressingTest, ::testing::ValuesIn(addressingCases), bytecases::caseName);

// ---- Every miss, with its exact message ------------------------------------

// The supported first bytes, as the opcode map lists them (prefixes apart).
const std::set<int> supportedBytes = {
    0x01, 0x03, 0x05, 0x0A, 0x0B, 0x0D, 0x0F, 0x1B, 0x23, 0x24, 0x25, 0x29, 0x2B, 0x2D, 0x32,
    0x33, 0x3A, 0x3B, 0x3C, 0x3D, 0x40, 0x41, 0x42, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49,
    0x4A, 0x4B, 0x4C, 0x4D, 0x4E, 0x4F, 0x50, 0x51, 0x52, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58,
    0x59, 0x5A, 0x5B, 0x5C, 0x5D, 0x5E, 0x5F, 0x68, 0x6A, 0x6B, 0x72, 0x73, 0x74, 0x75, 0x76,
    0x77, 0x79, 0x7C, 0x7D, 0x7E, 0x7F, 0x80, 0x81, 0x83, 0x84, 0x85, 0x88, 0x89, 0x8A, 0x8B,
    0x8D, 0x90, 0x91, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x99, 0x9B, 0x9E, 0xA1, 0xA3, 0xA4,
    0xA5, 0xA8, 0xB0, 0xB1, 0xB2, 0xB3, 0xB4, 0xB5, 0xB6, 0xB7, 0xB8, 0xB9, 0xBA, 0xBB, 0xBC,
    0xBD, 0xBE, 0xBF, 0xC1, 0xC2, 0xC3, 0xC6, 0xC7, 0xD1, 0xD3, 0xD8, 0xD9, 0xDB, 0xDC, 0xDD,
    0xDE, 0xDF, 0xE3, 0xE8, 0xE9, 0xEB, 0xF2, 0xF6, 0xF7, 0xFC, 0xFE, 0xFF,
};
const std::set<int> prefixBytes = {0x64, 0x66, 0x67, 0xF3};

const std::set<int> supportedTwoByte = {0x83, 0x84, 0x85, 0x86, 0x8C, 0x8D, 0x8E,
                                        0x8F, 0x94, 0x95, 0x9F, 0xAF, 0xB7, 0xBE};

// Reg fields with an entry, per group (with or without 0x66).
struct GroupFields {
    int byte;
    std::set<int> fields;
};
const GroupFields groupFields[] = {
    {0x80, {0, 1, 4, 6, 7}}, {0x81, {0, 1, 4, 5, 7}}, {0x83, {0, 1, 2, 4, 5, 7}},
    {0xC1, {4, 5, 7}},       {0xC6, {0}},             {0xC7, {0}},
    {0xD1, {2, 4, 5, 7}},    {0xD3, {1, 4, 7}},       {0xF6, {0}},
    {0xF7, {0, 2, 3, 5, 6, 7}}, {0xFE, {1}},          {0xFF, {0, 1, 2, 4, 6}},
};

std::string runBytes(const std::vector<uint8_t>& bytes) {
    guest::resetGuest();
    machine::addMemoryBlock(guest::codeAddress, bytes, true);
    machine::state.eip = guest::codeAddress;
    return guest::errorOf([] { guest::step(); });
}

TEST(UnsupportedTest, EveryOneByteMiss) {
    EXPECT_EQ(supportedBytes.size(), 132u);
    for (int b = 0; b < 256; ++b) {
        if (supportedBytes.count(b) || prefixBytes.count(b)) continue;
        std::string expected = app::format("Unknown instruction byte 0x%x at address 0x401000", b);
        EXPECT_EQ(runBytes({static_cast<uint8_t>(b), 0, 0, 0, 0, 0, 0}), expected);
        EXPECT_EQ(machine::state.eip.v, 0x401001u) << std::hex << b;
    }
}

TEST(UnsupportedTest, EveryTwoByteMiss) {
    for (int b = 0; b < 256; ++b) {
        if (supportedTwoByte.count(b)) continue;
        std::string expected = app::format("Unknown subinstruction 0x%x at address 0x401000", b);
        EXPECT_EQ(runBytes({0x0F, static_cast<uint8_t>(b), 0, 0, 0, 0, 0}), expected);
        EXPECT_EQ(machine::state.eip.v, 0x401002u) << std::hex << b;
    }
}

// The message names the whole ModRM byte; every mod and rm is tried, with and
// without 0x66, and nothing past the ModRM byte is read.
TEST(UnsupportedTest, EveryGroupFieldMiss) {
    for (const GroupFields& group : groupFields) {
        for (int modrm = 0; modrm < 256; ++modrm) {
            if (group.fields.count((modrm >> 3) & 7)) continue;
            std::string expected = app::format("Unknown subinstruction 0x%x at address 0x401000", modrm);
            EXPECT_EQ(runBytes({static_cast<uint8_t>(group.byte), static_cast<uint8_t>(modrm)}), expected);
            EXPECT_EQ(machine::state.eip.v, 0x401002u);
            EXPECT_EQ(runBytes({0x66, static_cast<uint8_t>(group.byte), static_cast<uint8_t>(modrm)}), expected);
        }
    }
}

// D1 /2, D1 /4 and D3 /1, /4, /7 exist only with 0x66; without it they fail
// before any operand byte is read.
TEST(UnsupportedTest, ShiftsThatRequireOperandSize) {
    const uint8_t rows[][2] = {{0xD1, 2}, {0xD1, 4}, {0xD3, 1}, {0xD3, 4}, {0xD3, 7}};
    for (const auto& row : rows) {
        for (int mod = 0; mod < 4; ++mod) {
            uint8_t modrm = static_cast<uint8_t>(mod << 6 | row[1] << 3 | 5);
            EXPECT_EQ(runBytes({row[0], modrm}), "Instruction not supported at address 0x401000");
            EXPECT_EQ(machine::state.eip.v, 0x401002u);
        }
    }
}

// The guards of the address decoder, which no handler reaches.
TEST(DecoderGuardTest, RegisterFormAndSibBase5WithMod3) {
    guest::resetGuest();
    guest::loadCode("25");
    EXPECT_EQ(guest::errorOf([] { machine::decodeModRMAddress(0xC3); }),
              "Unimplemented R/M addressing form 0xc3");
    EXPECT_EQ(guest::errorOf([] { machine::decodeSIBAddress(3); }), "Unimplemented SIB value 0x25");
}

}  // namespace

namespace {

// An accepted prefix is consumed by its instruction: the next step starts
// clean (a leftover 0x64 would make the plain load below read the TEB).
class PrefixLifetimeTest : public guest::GuestTest {};

TEST_F(PrefixLifetimeTest, AcceptedPrefixesDoNotReachTheNextInstruction) {
    machine::allocateTEB(48);
    guest::loadCode(
        "64 A1 04000000"  // mov eax, fs:[4]
        "8B 1D 04005000"  // mov ebx, [0x500004]
        "66 8B C8"        // mov cx, ax
        "8B D0"           // mov edx, eax
        "F3 A4"           // rep movsb, ecx = 0: copies nothing
        "67 E3 00"        // jcxz +0
        "90");            // nop
    guest::addData(guest::dataAddress, "00000000 22222222");
    machine::writeMemory32(true, machine::Addr{4}, machine::Val32{0x11111111});
    machine::state.ecx.v = 0xABCD0000;
    guest::step(3);
    EXPECT_EQ(machine::state.eax.v, 0x11111111u);
    EXPECT_EQ(machine::state.ebx.v, 0x22222222u);
    EXPECT_EQ(machine::state.ecx.v, 0xABCD1111u);
    machine::state.ecx.v = 0;
    guest::step(4);
    EXPECT_EQ(machine::state.edx.v, 0x11111111u);
    EXPECT_EQ(machine::state.eip.v, 0x401017u);
}

}  // namespace
