// ADD, ADC, SUB, SBB, NEG, CMP, INC and DEC: results, flags, widths, the FS
// forms and the prefixes that run the 32-bit form before they are refused.
#include <gtest/gtest.h>

#include "byteCases.h"

namespace {

using bytecases::Case;
using bytecases::fsRefused;
using bytecases::operandSizeRefused;


const Case addSubCases[] = {
    {"add eax, 1 wraps to 0", "05 01000000", "eax=0xFFFFFFFF", "eax=0", "CF ZF"},
    {"add ecx, imm32 overflows", "81 C1 01000000", "ecx=0x7FFFFFFF", "ecx=0x80000000", "OF SF"},
    {"add eax, -1 on 0", "83 C0 FF", "", "eax=0xFFFFFFFF", "SF"},
    {"add eax, -1 on 5", "83 C0 FF", "eax=5", "eax=4", "CF"},
    {"add ah, 0x80 on 0x80", "80 C4 80", "eax=0x12348056", "eax=0x12340056", "CF OF ZF"},
    {"add eax, eax", "01 C0", "eax=0x40000000", "eax=0x80000000", "OF SF"},
    {"add [ebx], ecx", "01 0B", "ebx=0x500000 ecx=2 [0x500000]=0xFFFFFFFF", "[0x500000]=1", "CF"},
    {"add edx, [ebx]", "03 13", "ebx=0x500000 edx=3 [0x500000]=4", "edx=7", ""},
    {"add fs:[4], imm8", "64 83 05 04000000 03", "fs:[4]=0x10", "fs:[4]=0x13", ""},
    {"add byte fs:[4], imm8", "64 80 05 04000000 03", "", "eip=0x401007", "",
     "Reading 8-bit value from FS segment is not supported."},
    {"add al, imm8 under 0x64: done, then refused", "64 80 C0 01", "", "eax=1 eip=0x401004", "", fsRefused},
    {"add r/m16 under 0x66 runs the 32-bit form", "66 81 C0 01000000", "eax=0xFFFF", "eax=0x10000 eip=0x401007",
     "", operandSizeRefused},
    {"adc: cf=1, imm -1 keeps the value", "83 D0 FF", "eax=7 CF", "", "CF"},
    {"adc: cf=1, imm -1 on 0", "83 D0 FF", "CF", "", "CF ZF"},
    {"adc: cf=1, imm 0 on 0xFFFFFFFF", "83 D0 00", "eax=0xFFFFFFFF CF", "eax=0", "CF ZF"},
    {"adc: cf=1, imm 0 on 0x7FFFFFFF", "83 D0 00", "eax=0x7FFFFFFF CF", "eax=0x80000000", "OF SF"},
    {"adc [ebx], 1", "83 13 01", "ebx=0x500000 [0x500000]=5 CF", "[0x500000]=7", ""},
    {"sub equal values", "29 C8", "eax=9 ecx=9 CF SF OF", "eax=0", "ZF"},
    {"sub 0 - 1", "2B C1", "ecx=1", "eax=0xFFFFFFFF", "CF SF"},
    {"sub 0x80000000 - 1", "2D 01000000", "eax=0x80000000", "eax=0x7FFFFFFF", "OF"},
    {"sub ax, 1 keeps the upper half", "66 2D 0100", "eax=0x12340000", "eax=0x1234FFFF", "CF SF"},
    {"sub ax, 1 on 0x8000", "66 2D 0100", "eax=0x8000", "eax=0x7FFF", "OF"},
    {"sub bx, imm16 keeps the upper half", "66 81 EB 0200", "ebx=0xABCD0001", "ebx=0xABCDFFFF", "CF SF"},
    {"sub word [ebx], imm16", "66 81 2B 0100", "ebx=0x500000 [0x500000]=0x22220000", "[0x500000]=0x2222FFFF", "CF SF"},
    {"sub [ebx], imm32", "81 2B 01000000", "ebx=0x500000 [0x500000]=1", "[0x500000]=0", "ZF"},
    {"sub esp, imm8", "83 EC 10", "", "esp=0x10FFF0", ""},
    {"sub [ebx], esi", "29 33", "ebx=0x500000 esi=3 [0x500000]=1", "[0x500000]=0xFFFFFFFE", "CF SF"},
    {"sbb: cf=1, src -1 keeps dst", "1B C1", "eax=5 ecx=0xFFFFFFFF CF", "", "CF"},
    {"sbb: cf=1, 0 - 0x7FFFFFFF - 1", "1B C1", "ecx=0x7FFFFFFF CF", "eax=0x80000000", "CF SF"},
    {"sbb: cf=1, -1 - 0x7FFFFFFF - 1", "1B C1", "eax=0xFFFFFFFF ecx=0x7FFFFFFF CF", "eax=0x7FFFFFFF", "OF"},
    {"sbb: cf=0 is sub", "1B C1", "eax=0x80000000 ecx=1", "eax=0x7FFFFFFF", "OF"},
    {"sbb eax, [ebx]", "1B 03", "ebx=0x500000 eax=10 [0x500000]=3 CF", "eax=6", ""},
    {"neg 0", "F7 D8", "CF", "", "ZF"},
    {"neg 0x80000000", "F7 D8", "eax=0x80000000", "", "CF OF SF"},
    {"neg 1", "F7 D8", "eax=1", "eax=0xFFFFFFFF", "CF SF"},
    {"neg fs:[0]", "64 F7 1D 00000000", "fs:[0]=2", "fs:[0]=0xFFFFFFFE", "CF SF"},
};

const Case compareCases[] = {
    {"cmp eax, 7 with 5", "3D 07000000", "eax=5", "", "CF SF"},
    {"cmp eax, 7 with 7", "3D 07000000", "eax=7", "", "ZF"},
    {"cmp eax, 1 with 0x80000000", "3D 01000000", "eax=0x80000000", "", "OF"},
    {"cmp eax, -1 with 0x7FFFFFFF", "3D FFFFFFFF", "eax=0x7FFFFFFF", "", "CF OF SF"},
    {"cmp al, 1 with 0x80", "3C 01", "eax=0xFFFFFF80", "", "OF"},
    {"cmp word, imm8 1 with 0x8000", "66 83 F8 01", "eax=0x8000", "", "OF"},
    {"cmp word, imm8 0x10 with 0x9000", "66 83 F8 10", "eax=0x9000", "", "SF"},
    {"cmp word, imm8 -1 with 5", "66 83 F8 FF", "eax=5", "", "CF"},
    {"cmp word, imm8 -1 with 0xFFFF", "66 83 F8 FF", "eax=0x1234FFFF", "", "ZF"},
    {"cmp ax, 1 ignores the upper half", "66 3D 0100", "eax=0x55550001", "", "ZF"},
    {"cmp cx, ax", "66 3B C8", "eax=0x10001 ecx=0x20001", "", "ZF"},
    {"cmp eax, imm8 0x80 is 0xFFFFFF80", "83 F8 80", "eax=0xFFFFFF80", "", "ZF"},
    {"cmp [ebx], imm32 leaves memory", "81 3B 05000000", "ebx=0x500000 [0x500000]=3", "", "CF SF"},
    {"cmp fs:[0], imm8", "64 83 3D 00000000 01", "fs:[0]=1", "", "ZF"},
    {"cmp byte [ebx], imm8", "80 3B 10", "ebx=0x500000 b[0x500000]=0x10", "", "ZF"},
    {"cmp dh, [ebx]", "3A 33", "edx=0x100 ebx=0x500000 b[0x500000]=2", "", "CF SF"},
    {"cmp ecx, [ebx]", "3B 0B", "ecx=2 ebx=0x500000 [0x500000]=2", "", "ZF"},
    {"cmp word [ebx], imm8 under 0x64", "64 66 83 3B 01", "ebx=0x500000", "eip=0x401004", "",
     "Reading 16-bit value from FS segment is not supported."},
    {"cmp r/m32, imm32 under 0x66: 4-byte immediate, then refused", "66 81 F8 01000000", "eax=1",
     "eip=0x401007", "ZF", operandSizeRefused},
    {"inc 0x7FFFFFFF keeps CF", "40", "eax=0x7FFFFFFF CF", "eax=0x80000000", "CF OF SF"},
    {"inc 0xFFFFFFFF keeps CF clear", "40", "eax=0xFFFFFFFF", "eax=0", "ZF"},
    {"inc esp", "44", "", "esp=0x110001", ""},
    {"dec esp", "4C", "", "esp=0x10FFFF", ""},
    {"inc si on 0x7FFF", "66 46", "esi=0x12347FFF", "esi=0x12348000", "OF SF"},
    {"inc si on 0xFFFF: no carry into bit 16", "66 46", "esi=0x1234FFFF CF", "esi=0x12340000", "CF ZF"},
    {"dec di on 0", "66 4F", "edi=0xABCD0000", "edi=0xABCDFFFF", "SF"},
    {"dec di on 0x8000", "66 4F", "edi=0x8000", "edi=0x7FFF", "OF"},
    {"dec byte on 0x80", "FE C8", "eax=0x80", "eax=0x7F", "OF"},
    {"dec byte on 0", "FE C8", "", "eax=0xFF", "SF"},
    {"dec byte on 1", "FE C8", "eax=1", "eax=0", "ZF"},
    {"dec ah", "FE CC", "eax=0x0100", "eax=0", "ZF"},
    {"dec byte [ebx]", "FE 0B", "ebx=0x500000 b[0x500000]=3", "b[0x500000]=2", ""},
    {"dec dword 0", "FF C8", "CF", "eax=0xFFFFFFFF", "CF SF"},
    {"dec dword 0x80000000", "FF C8", "eax=0x80000000", "eax=0x7FFFFFFF", "OF"},
    {"inc fs:[0]", "64 FF 05 00000000", "fs:[0]=0xFFFFFFFF", "fs:[0]=0", "ZF"},
    {"inc [ebx] under 0x66: 32 bits, then refused", "66 FF 03", "ebx=0x500000 [0x500000]=0xFFFF",
     "[0x500000]=0x10000 eip=0x401003", "", operandSizeRefused},
};

class AddSubTest : public ::testing::TestWithParam<Case> {};
TEST_P(AddSubTest, Case) { bytecases::run(GetParam()); }
INSTANTIATE_TEST_SUITE_P(Arith, AddSubTest, ::testing::ValuesIn(addSubCases), bytecases::caseName);

class CompareTest : public ::testing::TestWithParam<Case> {};
TEST_P(CompareTest, Case) { bytecases::run(GetParam()); }
INSTANTIATE_TEST_SUITE_P(Compare, CompareTest, ::testing::ValuesIn(compareCases), bytecases::caseName);

}  // namespace
