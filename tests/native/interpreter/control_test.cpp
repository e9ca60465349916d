// Control transfer: jumps, conditions, JECXZ, CALL, RET, SETcc.
#include <gtest/gtest.h>

#include "byteCases.h"

namespace {

using bytecases::Case;
using bytecases::operandSizeRefused;


const Case controlCases[] = {
    {"je +0 taken", "74 00", "ZF", "", "ZF"},
    {"je +0 not taken", "74 00", "", "", ""},
    {"jne -16 taken", "75 F0", "", "eip=0x400ff2", ""},
    {"jne -16 not taken", "75 F0", "ZF", "", "ZF"},
    {"jmp -128", "EB 80", "", "eip=0x400f82", ""},
    {"jmp +127", "EB 7F", "", "eip=0x401081", ""},
    {"jmp rel32", "E9 FB0F0000", "", "eip=0x402000", ""},
    {"je rel32 -6 back to itself", "0F 84 FAFFFFFF", "ZF", "eip=0x401000", "ZF"},
    {"jg: ZF=0 SF=OF=1", "7F 10", "SF OF", "eip=0x401012", "OF SF"},
    {"jg not taken with ZF", "7F 10", "ZF", "", "ZF"},
    {"jl: SF=1 OF=0", "7C 10", "SF", "eip=0x401012", "SF"},
    {"jl not taken: SF=OF", "7C 10", "SF OF", "", "OF SF"},
    {"jle with ZF whatever SF and OF", "7E 10", "ZF SF OF", "eip=0x401012", "OF SF ZF"},
    {"jge: SF=OF=0", "7D 10", "", "eip=0x401012", ""},
    {"ja: CF=ZF=0", "77 10", "", "eip=0x401012", ""},
    {"ja not taken with CF", "77 10", "CF", "", "CF"},
    {"jae not taken with CF", "73 10", "CF", "", "CF"},
    {"jb with CF", "72 10", "CF", "eip=0x401012", "CF"},
    {"jbe with ZF", "76 10", "ZF", "eip=0x401012", "ZF"},
    {"jns with SF clear", "79 10", "", "eip=0x401012", ""},
    {"jns not taken with SF", "79 10", "SF", "", "SF"},
    {"jae rel32", "0F 83 00010000", "", "eip=0x401106", ""},
    {"jbe rel32 not taken", "0F 86 00010000", "", "", ""},
    {"jne rel32", "0F 85 00010000", "", "eip=0x401106", ""},
    {"jg rel32", "0F 8F 00010000", "", "eip=0x401106", ""},
    {"jge rel32 not taken", "0F 8D 00010000", "SF", "", "SF"},
    {"jl rel32", "0F 8C 00010000", "OF", "eip=0x401106", "OF"},
    {"jle rel32", "0F 8E 00010000", "ZF", "eip=0x401106", "ZF"},
    {"jecxz with ECX=0x10000 not taken", "E3 05", "ecx=0x10000", "", ""},
    {"jcxz with ECX=0x10000 taken", "67 E3 05", "ecx=0x10000", "eip=0x401008", ""},
    {"jecxz with ECX=0", "E3 05", "", "eip=0x401007", ""},
    {"call +0", "E8 00000000", "esp=0x500010", "esp=0x50000c [0x50000c]=0x401005", ""},
    {"call eax", "FF D0", "eax=0x12345678 esp=0x500010", "esp=0x50000c [0x50000c]=0x401002 eip=0x12345678", ""},
    {"call [esp] reads before the push", "FF 14 24", "esp=0x500010 [0x500010]=0x401800",
     "esp=0x50000c [0x50000c]=0x401003 eip=0x401800", ""},
    {"call esp takes esp before the push", "FF D4", "esp=0x500010", "esp=0x50000c [0x50000c]=0x401002 eip=0x500010", ""},
    {"call fs:[0x18]", "64 FF 15 18000000", "esp=0x500010 fs:[0x18]=0x401234",
     "esp=0x50000c [0x50000c]=0x401007 eip=0x401234", ""},
    {"call with a full stack: eip not yet the target", "E8 00010000", "esp=0x100000", "esp=0xFFFFC eip=0x401005",
     "", "Stack overflow"},
    {"jmp [ebx]", "FF 23", "ebx=0x500000 [0x500000]=0x401900", "eip=0x401900", ""},
    {"jmp ecx", "FF E1", "ecx=0xF0001000", "eip=0xF0001000", ""},
    {"ret", "C3", "esp=0x500010 [0x500010]=0x401500", "esp=0x500014 eip=0x401500", ""},
    {"ret 8", "C2 0800", "esp=0x500010 [0x500010]=0x401500", "esp=0x50001c eip=0x401500", ""},
    {"ret 0x8000: the count is zero-extended", "C2 0080", "esp=0x500010 [0x500010]=0x401500",
     "esp=0x508014 eip=0x401500", ""},
    {"ret 0", "C2 0000", "esp=0x500010 [0x500010]=0x401500", "esp=0x500014 eip=0x401500", ""},
    {"ret to the sentinel", "C3", "esp=0x500010 [0x500010]=0xFFFFFFF0", "esp=0x500014 eip=0xFFFFFFF0", ""},
    {"setg al", "0F 9F C0", "eax=0xFFFFFF00", "eax=0xFFFFFF01", ""},
    {"setg al with ZF", "0F 9F C0", "eax=0xFFFFFFFF ZF", "eax=0xFFFFFF00", "ZF"},
    {"sete ah", "0F 94 C4", "ZF", "eax=0x100", "ZF"},
    {"setne byte [ebx]", "0F 95 03", "ebx=0x500003 [0x500000]=0xFFFFFFFF", "[0x500000]=0x01FFFFFF", ""},
    {"setne byte fs:[0]", "64 0F 95 05 00000000", "", "eip=0x401008", "",
     "Writing 8-bit value to FS segment is not supported."},
    {"jmp under 0x66: jumped, then refused", "66 EB 02", "", "eip=0x401005", "", operandSizeRefused},
};

class ControlTest : public ::testing::TestWithParam<Case> {};
TEST_P(ControlTest, Case) { bytecases::run(GetParam()); }
INSTANTIATE_TEST_SUITE_P(Control, ControlTest, ::testing::ValuesIn(controlCases), bytecases::caseName);

}  // namespace
