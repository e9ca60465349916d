// Data movement: MOV forms, MOVZX, MOVSX, LEA, XCHG, PUSH, POP, SAHF, CLD.
#include <gtest/gtest.h>

#include "byteCases.h"

namespace {

using bytecases::Case;
using bytecases::fsRefused;
using bytecases::addressSizeRefused;
using bytecases::operandSizeRefused;


const Case moveCases[] = {
    {"mov eax, [esp]", "8B 04 24", "esp=0x500010 [0x500010]=0x01020304", "eax=0x01020304", ""},
    {"mov ebp, esp", "89 E5", "esp=0x1234", "ebp=0x1234", ""},
    {"mov ax, bx keeps the upper half", "66 8B C3", "eax=0xAAAA0000 ebx=0x5555BEEF", "eax=0xAAAABEEF", ""},
    {"mov [ebx], ecx", "89 0B", "ebx=0x500008 ecx=0xCAFEF00D", "[0x500008]=0xCAFEF00D", ""},
    {"mov [ebx], cx", "66 89 0B", "ebx=0x500008 ecx=0xCAFEF00D [0x500008]=0x11111111",
     "[0x500008]=0x1111F00D", ""},
    {"mov [ebx], ah", "88 23", "ebx=0x500001 eax=0x1234", "b[0x500001]=0x12", ""},
    {"mov bh, [ebx]", "8A 3B", "ebx=0x500001 b[0x500001]=0x7F", "ebx=0x507F01", ""},
    {"mov cl, ah", "8A CC", "eax=0xAB00 ecx=0x11111111", "ecx=0x111111AB", ""},
    {"mov ebx, fs:[0]", "64 8B 1D 00000000", "fs:[0]=0x12FF", "ebx=0x12FF", ""},
    {"mov ebx, fs:[0] (16-bit address)", "64 67 8B 1E 0000", "fs:[0]=0x12FF", "ebx=0x12FF", ""},
    {"mov al, fs:[0]", "64 8A 05 00000000", "", "eip=0x401007", "",
     "Reading 8-bit value from FS segment is not supported."},
    {"mov fs:[0x2c], eax", "64 89 05 2C000000", "eax=0xDEAD", "fs:[0x2c]=0xDEAD", ""},
    {"mov fs:[0x30], eax: beyond a 48-byte TEB", "64 89 05 30000000", "eax=1", "", "",
     "Invalid offset from fs register: 0x30"},
    {"mov [disp16], eax", "67 89 06 1000", "eax=7", "", "",
     "Attempted to lookup invalid memory address: 0x10  size: 4"},
    {"mov [disp16], ax (16-bit address, outside memory)", "66 67 89 06 1000", "eax=7", "", "",
     "Attempted to lookup invalid memory address: 0x10  size: 2"},
    {"mov ax, cx under 0x67 (register form)", "67 66 8B C1", "ecx=0x12345678", "eax=0x5678", "",
     addressSizeRefused},
    {"mov eax, moffs", "A1 10005000", "[0x500010]=0x99", "eax=0x99", ""},
    {"mov moffs, eax", "A3 14005000", "eax=0x42", "[0x500014]=0x42", ""},
    {"mov fs:moffs, eax", "64 A3 04000000", "eax=0x42", "fs:[4]=0x42", ""},
    {"mov ch, imm8", "B5 9C", "ecx=0x11111111", "ecx=0x11119C11", ""},
    {"mov edi, imm32", "BF 78563412", "", "edi=0x12345678", ""},
    {"mov si, imm16", "66 BE 3412", "esi=0xFFFFFFFF", "esi=0xFFFF1234", ""},
    {"mov [ebp-4], imm32: displacement first", "C7 45 FC 78563412", "ebp=0x500010", "[0x50000c]=0x12345678", ""},
    {"mov word [ebx], imm16", "66 C7 03 3412", "ebx=0x500000 [0x500000]=0xFFFFFFFF", "[0x500000]=0xFFFF1234", ""},
    {"mov byte [ebx+1], imm8", "C6 43 01 AB", "ebx=0x500000", "b[0x500001]=0xAB", ""},
    {"mov dh, imm8 (C6 register form)", "C6 C6 AB", "", "edx=0xAB00", ""},
    {"mov fs:[8], imm32", "64 C7 05 08000000 01000000", "", "fs:[8]=1", ""},
    {"mov byte fs:[8], imm8", "64 C6 05 08000000 01", "", "eip=0x401008", "",
     "Writing 8-bit value to FS segment is not supported."},
    {"mov word fs:[0], imm16", "64 66 C7 05 00000000 3412", "", "eip=0x40100a", "",
     "Writing 16-bit value to FS segment is not supported."},
    {"mov ax, fs:[0]", "64 66 8B 05 00000000", "", "eip=0x401008", "",
     "Reading 16-bit value from FS segment is not supported."},
    {"movsx eax, al", "0F BE C0", "eax=0x80", "eax=0xFFFFFF80", ""},
    {"movsx ecx, byte [ebx]", "0F BE 0B", "ebx=0x500000 b[0x500000]=0x7F", "ecx=0x7F", ""},
    {"movzx eax, ax", "0F B7 C0", "eax=0x1234ABCD", "eax=0xABCD", ""},
    {"movzx edx, word [ebx]", "0F B7 13", "ebx=0x500000 [0x500000]=0x8001FFFE", "edx=0xFFFE", ""},
    {"lea eax, [ecx*4+0]", "8D 04 8D 00000000", "ecx=0x40000001", "eax=4", ""},
    {"lea eax, [ebx+esi*2+0x10] touches no memory", "8D 44 73 10", "ebx=0xF0000000 esi=8", "eax=0xF0000020", ""},
    {"lea eax, eax", "8D C0", "eax=5", "eip=0x401002", "", "Invalid argument for LEA instruction 0xc0"},
    {"lea under 0x64: written, then refused", "64 8D 43 04", "ebx=8", "eax=12 eip=0x401004", "", fsRefused},
    {"lea under 0x67: 16-bit address, then refused", "67 8D 06 3412", "", "eax=0x1234 eip=0x401005", "",
     addressSizeRefused},
    {"xchg eax, ebx", "93", "eax=1 ebx=2", "eax=2 ebx=1", ""},
    {"xchg ax, bx keeps the upper halves", "66 93", "eax=0x11110001 ebx=0x22220002",
     "eax=0x11110002 ebx=0x22220001", ""},
    {"nop", "90", "eax=3", "", ""},
    {"push esp stores the old esp", "54", "", "esp=0x10FFFC", ""},
    {"push ebx to the data block", "53", "esp=0x500010 ebx=0xA1B2C3D4", "esp=0x50000c [0x50000c]=0xA1B2C3D4", ""},
    {"pop esp", "5C", "esp=0x500010 [0x500010]=0x500080", "esp=0x500080", ""},
    {"pop ecx", "59", "esp=0x500010 [0x500010]=0x77", "esp=0x500014 ecx=0x77", ""},
    {"push imm8 -1", "6A FF", "esp=0x500010", "esp=0x50000c [0x50000c]=0xFFFFFFFF", ""},
    {"push imm8 0x7f", "6A 7F", "esp=0x500010", "esp=0x50000c [0x50000c]=0x7F", ""},
    {"push imm32", "68 78563412", "esp=0x500010", "esp=0x50000c [0x50000c]=0x12345678", ""},
    {"push [esp+4] reads before the push", "FF 74 24 04", "esp=0x500010 [0x500014]=0x55",
     "esp=0x50000c [0x50000c]=0x55", ""},
    {"push fs:[0]", "64 FF 35 00000000", "esp=0x500010 fs:[0]=0x66", "esp=0x50000c [0x50000c]=0x66", ""},
    {"push eax under 0x66: 32 bits, then refused", "66 50", "esp=0x500010 eax=0x12345678",
     "esp=0x50000c [0x50000c]=0x12345678 eip=0x401002", "", operandSizeRefused},
    {"push below the stack block", "50", "esp=0x100000", "esp=0xFFFFC eip=0x401001", "", "Stack overflow"},
    {"sahf with AH = 0xC1", "9E", "eax=0xC100 OF", "", "CF OF SF ZF"},
    {"sahf with AH = 0x3E", "9E", "eax=0x3E00 CF SF ZF OF", "", "OF"},
    {"cld", "FC", "DF CF", "", "CF"},
};

// The FS segment is the TEB: none yet, or one of 4 bytes as before TLS.
class FsSegmentTest : public guest::GuestTest {};

TEST_F(FsSegmentTest, WithoutATeb) {
    guest::loadCode("64 A1 00000000");  // mov eax, fs:[0]
    EXPECT_EQ(guest::errorOf([] { guest::step(); }), "TEB not allocated");
}

TEST_F(FsSegmentTest, OffsetBeyondAFourByteTeb) {
    machine::allocateTEB(4);
    guest::loadCode("64 8B 1D 2C000000 64 8B 1D 00000000");  // mov ebx, fs:[0x2c]; mov ebx, fs:[0]
    EXPECT_EQ(guest::errorOf([] { guest::step(); }), "Invalid offset from fs register: 0x2c");
    machine::resetDecoderForTests();
    machine::state.ebx.v = 5;
    guest::step();
    EXPECT_EQ(machine::state.ebx.v, 0u);
}

class MoveTest : public ::testing::TestWithParam<Case> {};
TEST_P(MoveTest, Case) { bytecases::run(GetParam()); }
INSTANTIATE_TEST_SUITE_P(Move, MoveTest, ::testing::ValuesIn(moveCases), bytecases::caseName);

}  // namespace
