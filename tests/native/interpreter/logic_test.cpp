// AND, OR, XOR, TEST and NOT.
#include <gtest/gtest.h>

#include "byteCases.h"

namespace {

using bytecases::Case;
using bytecases::fsRefused;
using bytecases::operandSizeRefused;


const Case logicCases[] = {
    {"xor eax, eax", "33 C0", "eax=0x1234 CF OF SF", "eax=0", "ZF"},
    {"xor ebx, ebx", "33 DB", "ebx=0x80000000", "ebx=0", "ZF"},
    {"xor cl, [ebx]", "32 0B", "ecx=0xFF ebx=0x500000 b[0x500000]=0x7F", "ecx=0x80", "SF"},
    {"xor byte [ebx], imm8", "80 33 FF", "ebx=0x500000 b[0x500000]=0x0F", "b[0x500000]=0xF0", "SF"},
    {"and eax, imm8 0x80 masks with 0xFFFFFF80", "83 E0 80", "eax=0x123456FF CF OF", "eax=0x12345680", ""},
    {"and [ebx], imm32", "81 23 F0F0F0F0", "ebx=0x500000 [0x500000]=0xFFFF0000", "[0x500000]=0xF0F00000", "SF"},
    {"and fs:[0], imm32", "64 81 25 00000000 0F000000", "fs:[0]=0xFF", "fs:[0]=0x0F", ""},
    {"and word [ebx], imm16", "66 81 23 0FF0", "ebx=0x500000 [0x500000]=0x1234FFFF", "[0x500000]=0x1234F00F", "SF"},
    {"and al, imm8", "24 0F", "eax=0x12345678", "eax=0x12345608", ""},
    {"and eax, imm32", "25 00000000", "eax=0xFFFFFFFF", "eax=0", "ZF"},
    {"and bl, imm8 (80 /4)", "80 E3 F0", "ebx=0x1FF", "ebx=0x1F0", "SF"},
    {"and ecx, [ebx]", "23 0B", "ecx=0xFF00FF00 ebx=0x500000 [0x500000]=0x0FF00FF0", "ecx=0x0F000F00", ""},
    {"and cx, dx keeps the upper half", "66 23 CA", "ecx=0x1234FFFF edx=0x8001", "ecx=0x12348001", "SF"},
    {"or ax with imm8 -1 (66 83 /1)", "66 83 C8 FF", "eax=0x12340000", "eax=0x1234FFFF", "SF"},
    {"or ah, [ebx]", "0A 23", "eax=0x1200 ebx=0x500000 b[0x500000]=0x81", "eax=0x9300", "SF"},
    {"or eax, imm32", "0D 00000080", "eax=1", "eax=0x80000001", "SF"},
    {"or [ebx], imm8 sign-extended", "83 0B 80", "ebx=0x500000", "[0x500000]=0xFFFFFF80", "SF"},
    {"or [ebx], imm32", "81 0B 01000000", "ebx=0x500000", "[0x500000]=1", ""},
    {"or byte [ebx], imm8", "80 0B 01", "ebx=0x500000", "b[0x500000]=1", ""},
    {"or byte fs:[0], imm8", "64 80 0D 00000000 01", "", "eip=0x401007", "",
     "Reading 8-bit value from FS segment is not supported."},
    {"or edx, [ebx]", "0B 13", "ebx=0x500000 [0x500000]=0", "", "ZF"},
    {"or dx, [ebx] keeps the upper half", "66 0B 13", "edx=0xAAAA0001 ebx=0x500000 [0x500000]=0x00010002",
     "edx=0xAAAA0003", ""},
    {"test eax, ecx leaves both", "85 C8", "eax=0xF0 ecx=0x0F CF OF", "", "ZF"},
    {"test [ebx], eax leaves memory", "85 03", "eax=0x80000000 ebx=0x500000 [0x500000]=0x80000000", "", "SF"},
    {"test cx, dx", "66 85 D1", "ecx=0x8000 edx=0x18000", "", "SF"},
    {"test bh, al", "84 C7", "eax=1 ebx=0x100", "", ""},
    {"test al, imm8", "A8 80", "eax=0x80", "", "SF"},
    {"test byte [ebx], imm8", "F6 03 01", "ebx=0x500000 b[0x500000]=2", "", "ZF"},
    {"test dword fs:[0], imm32", "64 F7 05 00000000 01000000", "fs:[0]=1", "", ""},
    {"not eax leaves the flags", "F7 D0", "eax=0xF0F0F0F0 ZF CF", "eax=0x0F0F0F0F", "CF ZF"},
    {"not [ebx]", "F7 13", "ebx=0x500000", "[0x500000]=0xFFFFFFFF", ""},
    {"and eax, imm8 under 0x66: 32 bits, then refused", "66 83 E0 00", "eax=0xFFFFFFFF", "eax=0 eip=0x401004",
     "ZF", operandSizeRefused},
    {"xor eax, ecx under 0x64: done, then refused", "64 33 C1", "ecx=1", "eax=1 eip=0x401003", "", fsRefused},
};

class LogicTest : public ::testing::TestWithParam<Case> {};
TEST_P(LogicTest, Case) { bytecases::run(GetParam()); }
INSTANTIATE_TEST_SUITE_P(Logic, LogicTest, ::testing::ValuesIn(logicCases), bytecases::caseName);

}  // namespace
