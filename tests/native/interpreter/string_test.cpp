// String instructions: MOVSB, MOVSD (with and without 0xF3) and REPNZ SCASB.
#include <gtest/gtest.h>

#include "byteCases.h"

namespace {

using bytecases::Case;
using bytecases::repRefused;
using bytecases::fsRefused;


const Case stringCases[] = {
    {"rep movsd, 3 dwords", "F3 A5",
     "ecx=3 esi=0x500000 edi=0x500040 [0x500000]=1 [0x500004]=2 [0x500008]=3",
     "ecx=0 esi=0x50000c edi=0x50004c [0x500040]=1 [0x500044]=2 [0x500048]=3", ""},
    {"movsb without rep leaves ecx", "A4", "ecx=9 esi=0x500000 edi=0x500010 b[0x500000]=0xAB",
     "esi=0x500001 edi=0x500011 b[0x500010]=0xAB", ""},
    {"rep movsb with ecx=0 copies nothing", "F3 A4", "esi=0x500000 edi=0x500010 b[0x500000]=0xAB", "", ""},
    {"rep movsb overlapping upwards spreads a byte", "F3 A4", "ecx=4 esi=0x500000 edi=0x500001 b[0x500000]=0x5A",
     "ecx=0 esi=0x500004 edi=0x500005 [0x500000]=0x5A5A5A5A b[0x500004]=0x5A", ""},
    {"movsd with DF set walks down", "A5", "esi=0x500010 edi=0x500020 [0x500010]=0x11223344 DF",
     "esi=0x50000c edi=0x50001c [0x500020]=0x11223344", "DF"},
    {"rep movsd with DF set", "F3 A5", "ecx=2 esi=0x500010 edi=0x500020 [0x500010]=7 [0x50000c]=6 DF",
     "ecx=0 esi=0x500008 edi=0x500018 [0x500020]=7 [0x50001c]=6", "DF"},
    {"rep movsd running off the data block", "F3 A5", "ecx=3 esi=0x5000F8 edi=0x500000 [0x5000F8]=1 [0x5000FC]=2",
     "ecx=0 esi=0x500100 edi=0x500008 [0x500000]=1 [0x500004]=2", "",
     "Attempted to lookup invalid memory address: 0x500100  size: 4"},
    {"movsd whose write fails: esi already past the read", "A5", "esi=0x500000 edi=0x600000",
     "esi=0x500004", "", "Attempted to lookup invalid memory address: 0x600000  size: 4"},
    {"fs movsd: plain copy, then refused", "64 A5", "esi=0x500000 edi=0x500010 [0x500000]=5",
     "esi=0x500004 edi=0x500014 [0x500010]=5 eip=0x401002", "", fsRefused},
    {"repnz scasb, no limit, finds the NUL", "F2 AE",
     "eax=0xFFFFFF00 ecx=0xFFFFFFFF edi=0x500000 [0x500000]=0x00636261",
     "ecx=0xFFFFFFFB edi=0x500004", "ZF"},
    {"repnz scasb, no match in 5 bytes", "F2 AE", "eax=0x7A ecx=5 edi=0x500000 [0x500000]=0x04030201 b[0x500004]=0x79 ZF",
     "ecx=0 edi=0x500005", ""},
    {"repnz scasb, no match: flags of the last compare", "F2 AE", "eax=0x01 ecx=2 edi=0x500000 [0x500000]=0x0303",
     "ecx=0 edi=0x500002", "CF SF"},
    {"repnz scasb with ecx=0 keeps the flags", "F2 AE", "ecx=0 edi=0x500000 CF OF", "", "CF OF"},
    {"repnz scasb with ecx=0 and edi outside memory", "F2 AE", "ecx=0 edi=0x600000", "", "",
     "Attempted to lookup invalid memory address: 0x600000  size: 0"},
    {"repnz scasb, range beyond the block", "F2 AE", "ecx=0x200 edi=0x500000", "", "",
     "Attempted to lookup invalid memory address: 0x500000  size: 512"},
    {"repnz scasb, no limit, runs to the block's end", "F2 AE", "eax=0xEE ecx=0xFFFFFFFF edi=0x5000FE", "", "",
     "Attempted to lookup invalid memory address: 0x500100  size: 1"},
    {"repnz scasb from past the block's end, accepted by the wrapping end test", "F2 AE",
     "ecx=0xFFFFFFF0 edi=0x500108", "", "", "Attempted to lookup invalid memory address: 0x500108  size: 1"},
    {"repnz scasb with DF set", "F2 AE", "ecx=1 edi=0x500000 DF", "", "DF",
     "ScaSB instruction not supported when direction flag is set"},
    {"repnz with another byte", "F2 AF", "", "eip=0x401002", "",
     "Instruction with RepNZ prefix not supported at address 0x401000"},
    {"rep repnz scasb: scanned, then refused", "F3 F2 AE", "eax=0x61 ecx=4 edi=0x500000 b[0x500001]=0x61",
     "ecx=2 edi=0x500002 eip=0x401003", "ZF", repRefused},
};

class StringTest : public ::testing::TestWithParam<Case> {};
TEST_P(StringTest, Case) { bytecases::run(GetParam()); }
INSTANTIATE_TEST_SUITE_P(String, StringTest, ::testing::ValuesIn(stringCases), bytecases::caseName);

// A block may start exactly where the one below it ends (the first heap block
// after the last section). A scan without a limit from the first bytes of the
// upper block is that block's: the wrapping end test also accepts the lower
// block, whose end EDI touches.
class ScanAtABlockBoundaryTest : public guest::GuestTest {};

TEST_F(ScanAtABlockBoundaryTest, ScansTheBlockThatHoldsEdi) {
    guest::loadCode("F2 AE F2 AE");
    guest::addZeroedData(guest::dataAddress, 0x100);
    guest::addData(machine::Addr{guest::dataAddress.v + 0x100}, "61 62 63 00 64 00");
    machine::state.ecx.v = 0xFFFFFFFF;
    machine::state.edi.v = guest::dataAddress.v + 0x100;
    EXPECT_EQ(guest::errorOf([] { guest::step(); }), "");
    EXPECT_EQ(machine::state.edi.v, guest::dataAddress.v + 0x104);
    EXPECT_EQ(machine::state.ecx.v, 0xFFFFFFFBu);
    machine::state.ecx.v = 0xFFFFFFFF;
    machine::state.edi.v = guest::dataAddress.v + 0x101;
    EXPECT_EQ(guest::errorOf([] { guest::step(); }), "");
    EXPECT_EQ(machine::state.edi.v, guest::dataAddress.v + 0x104);
    EXPECT_EQ(machine::state.ecx.v, 0xFFFFFFFCu);
    EXPECT_EQ(guest::flags(), "ZF");
}

}  // namespace
