// CDQ, IMUL, DIV and IDIV, including every quotient that does not fit: those
// are refused before the host divides.
#include <gtest/gtest.h>

#include "byteCases.h"

namespace {

using bytecases::Case;
using bytecases::fsRefused;


const Case mulDivCases[] = {
    {"cdq positive", "99", "eax=0x7FFFFFFF edx=5", "edx=0", ""},
    {"cdq negative", "99", "eax=0x80000000", "edx=0xFFFFFFFF", ""},
    {"imul -1 * -1", "F7 E9", "eax=0xFFFFFFFF ecx=0xFFFFFFFF CF OF", "eax=1 edx=0", ""},
    {"imul 0x10000 * 0x10000 keeps ZF", "F7 E9", "eax=0x10000 ecx=0x10000", "eax=0 edx=1", "CF OF"},
    {"imul 0x40000000 * 2", "F7 EB", "eax=0x40000000 ebx=2 SF ZF", "eax=0x80000000 edx=0", "CF OF SF ZF"},
    {"imul eax * [ebx]", "F7 2B", "eax=-3 ebx=0x500000 [0x500000]=5", "eax=-15 edx=0xFFFFFFFF", ""},
    {"imul eax, [ebx], -1 on 0x80000000", "6B 03 FF", "ebx=0x500000 [0x500000]=0x80000000",
     "eax=0x80000000", "CF OF"},
    {"imul eax, ecx, 1 on 0x80000000", "6B C1 01", "ecx=0x80000000 CF OF", "eax=0x80000000", ""},
    {"imul ecx, [ebp+8], 100: immediate after the displacement", "6B 4D 08 64", "ebp=0x500000 [0x500008]=3",
     "ecx=300", ""},
    {"imul ecx, ecx squares", "0F AF C9", "ecx=0x1001", "ecx=0x1002001", ""},
    {"imul eax, ebx overflows", "0F AF C3", "eax=0x10000 ebx=0x8000", "eax=0x80000000", "CF OF"},
    {"div 2 of 1:0", "F7 F1", "edx=1 ecx=2", "eax=0x80000000 edx=0", ""},
    {"div 1 of 1:0 is too large", "F7 F1", "edx=1 ecx=1", "eip=0x401002", "", "Result too large"},
    {"div by 0", "F7 F1", "eax=5", "eip=0x401002", "", "Division by 0"},
    {"div [ebx] with remainder", "F7 33", "eax=17 ebx=0x500000 [0x500000]=5 CF", "eax=3 edx=2", "CF"},
    {"div fs:[0]", "64 F7 35 00000000", "eax=100 fs:[0]=7", "eax=14 edx=2", ""},
    {"div ecx under 0x64: done, then refused", "64 F7 F1", "eax=9 ecx=3", "eax=3 edx=0 eip=0x401003", "", fsRefused},
    {"idiv -7 by 2", "F7 F9", "edx=0xFFFFFFFF eax=0xFFFFFFF9 ecx=2", "eax=0xFFFFFFFD edx=0xFFFFFFFF", ""},
    {"idiv 7 by -2", "F7 F9", "eax=7 ecx=-2", "eax=-3 edx=1", ""},
    {"idiv -2^31 by 1", "F7 F9", "edx=0xFFFFFFFF eax=0x80000000 ecx=1", "edx=0", ""},
    {"idiv -2^31 by -1 is too large", "F7 F9", "edx=0xFFFFFFFF eax=0x80000000 ecx=-1", "eip=0x401002", "",
     "Result too large"},
    {"idiv -2^63 by -1 is too large (no host trap)", "F7 F9", "edx=0x80000000 ecx=-1", "eip=0x401002", "",
     "Result too large"},
    {"idiv 2^31 by 1 is too large", "F7 F9", "eax=0x80000000 ecx=1", "eip=0x401002", "", "Result too large"},
    {"idiv -2^63 by 1 is too large", "F7 F9", "edx=0x80000000 ecx=1", "eip=0x401002", "", "Result too large"},
    {"idiv by 0", "F7 F9", "edx=0x80000000", "eip=0x401002", "", "Division by 0"},
    {"idiv [ebx] by 0: the operand was read", "64 F7 3D 00000000", "fs:[0]=0", "eip=0x401007", "", "Division by 0"},
};

class MulDivTest : public ::testing::TestWithParam<Case> {};
TEST_P(MulDivTest, Case) { bytecases::run(GetParam()); }
INSTANTIATE_TEST_SUITE_P(MulDiv, MulDivTest, ::testing::ValuesIn(mulDivCases), bytecases::caseName);

}  // namespace
