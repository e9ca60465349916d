// Shifts and rotates, including the counts where the processor's documented
// result is built: C1 counts taken mod 32, SAR r/m16 by 17-31 (CF = the
// sign), RCL r/m16, 1 (OF = top bit XOR CF).
#include <gtest/gtest.h>

#include "byteCases.h"

namespace {

using bytecases::Case;
using bytecases::operandSizeRefused;


const Case shiftCases[] = {
    {"shl eax, 0 changes nothing", "C1 E0 00", "eax=0x80000001 CF OF ZF", "", "CF OF ZF"},
    {"shl eax, 1", "C1 E0 01", "eax=0x40000001", "eax=0x80000002", "OF SF"},
    {"shl eax, 4", "C1 E0 04", "eax=0x1F000000 OF", "eax=0xF0000000", "CF OF SF"},
    {"shl eax, 31", "C1 E0 1F", "eax=3", "eax=0x80000000", "CF SF"},
    {"shl eax, 32: taken mod 32, nothing changes", "C1 E0 20", "eax=0x80000001 OF", "", "OF"},
    {"shl eax, 33 acts as 1, OF included", "C1 E0 21", "eax=0x40000000", "eax=0x80000000", "OF SF"},
    {"shl [ebx], 8", "C1 23 08", "ebx=0x500000 [0x500000]=0x01FF0000", "[0x500000]=0xFF000000", "CF SF"},
    {"shl fs:[0], 1", "64 C1 25 00000000 01", "fs:[0]=1", "fs:[0]=2", ""},
    {"shr eax, 1", "C1 E8 01", "eax=0x80000001", "eax=0x40000000", "CF OF"},
    {"shr eax, 31", "C1 E8 1F", "eax=0x80000000 OF", "eax=1", "OF"},
    {"shr eax, 64 changes nothing", "C1 E8 40", "eax=0x80000000 CF", "", "CF"},
    {"sar eax, 1", "C1 F8 01", "eax=0x80000001 OF", "eax=0xC0000000", "CF SF"},
    {"sar eax, 31", "C1 F8 1F", "eax=0x80000000", "eax=0xFFFFFFFF", "SF"},
    {"sar r/m32 by imm under 0x66: 32 bits, then refused", "66 C1 F8 01", "eax=2", "eax=1 eip=0x401004", "",
     operandSizeRefused},
    {"shr eax, 1 (D1)", "D1 E8", "eax=0x80000000", "eax=0x40000000", "OF"},
    {"sar eax, 1 (D1)", "D1 F8", "eax=0x80000001 OF", "eax=0xC0000000", "CF SF"},
    {"shr [ebx], 1 (D1)", "D1 2B", "ebx=0x500000 [0x500000]=3", "[0x500000]=1", "CF"},
    {"shr ax, 1", "66 D1 E8", "eax=0xFFFF8001", "eax=0xFFFF4000", "CF OF"},
    {"shl ax, 1", "66 D1 E0", "eax=0x12344000", "eax=0x12348000", "OF SF"},
    {"shl ax, 1 carries out bit 15", "66 D1 E0", "eax=0xC000", "eax=0x8000", "CF SF"},
    {"rcl ax, 1 with CF: OF = top bit XOR CF", "66 D1 D0", "eax=0x8000 CF", "eax=1", "CF OF"},
    {"rcl ax, 1 keeps SF and ZF", "66 D1 D0", "eax=0x4000 SF ZF", "eax=0x8000", "OF SF ZF"},
    {"rcl ax, 1: top bit equals CF", "66 D1 D0", "eax=0xC000 OF", "eax=0x8000", "CF"},
    {"rcl word [ebx], 1", "66 D1 13", "ebx=0x500000 [0x500000]=0x11110001 CF", "[0x500000]=0x11110003", ""},
    {"shl ax, cl=4", "66 D3 E0", "eax=0xF00F ecx=4", "eax=0x00F0", "CF"},
    {"shl ax, cl=16", "66 D3 E0", "eax=0xAAAA0001 ecx=16", "eax=0xAAAA0000", "CF ZF"},
    {"shl ax, cl=17", "66 D3 E0", "eax=0xFFFF ecx=17 CF", "eax=0", "ZF"},
    {"shl ax, cl=0x20 is 0", "66 D3 E0", "eax=0xFFFF ecx=0x20 CF", "", "CF"},
    {"shl ax, cl with ecx=0x121 counts 1", "66 D3 E0", "eax=0x4000 ecx=0x121", "eax=0x8000", "OF SF"},
    {"sar ax, cl=20: CF is the sign", "66 D3 F8", "eax=0x8000 ecx=20", "eax=0xFFFF", "CF SF"},
    {"sar ax, cl=17 on a positive value", "66 D3 F8", "eax=0x7FFF ecx=17 CF", "eax=0", "ZF"},
    {"sar ax, cl=16", "66 D3 F8", "eax=0x8000 ecx=16", "eax=0xFFFF", "CF SF"},
    {"sar ax, cl=1", "66 D3 F8", "eax=0x8001 ecx=1 OF", "eax=0xC000", "CF SF"},
    {"ror ax, cl=1", "66 D3 C8", "eax=1 ecx=1 ZF", "eax=0x8000", "CF OF ZF"},
    {"ror ax, cl=17 as 1, OF kept", "66 D3 C8", "eax=1 ecx=17 ZF", "eax=0x8000", "CF ZF"},
    {"ror ax, cl=16 leaves the value, CF = bit 15", "66 D3 C8", "eax=0x8001 ecx=16", "", "CF"},
    {"ror ax, cl=4", "66 D3 C8", "eax=0x1234 ecx=4 SF", "eax=0x4123", "SF"},
    {"ror word [ebx], cl", "66 D3 0B", "ebx=0x500000 ecx=8 [0x500000]=0x1234", "[0x500000]=0x3412", ""},
    {"shl word fs:[0], cl", "64 66 D3 25 00000000", "ecx=1", "eip=0x401008", "",
     "Reading 16-bit value from FS segment is not supported."},
};

class ShiftTest : public ::testing::TestWithParam<Case> {};
TEST_P(ShiftTest, Case) { bytecases::run(GetParam()); }
INSTANTIATE_TEST_SUITE_P(Shift, ShiftTest, ::testing::ValuesIn(shiftCases), bytecases::caseName);

}  // namespace
