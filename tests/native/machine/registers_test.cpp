#include <gtest/gtest.h>

#include "guestFixture.h"

namespace {

using namespace machine;

class RegisterTest : public guest::GuestTest {};

TEST_F(RegisterTest, ByteAndWordViewsTouchOnlyTheirBits) {
    struct Case {
        const char* what;
        uint32_t index;
        bool word;
        uint32_t value;
        uint32_t before;
        uint32_t expectedRegister;
    };
    const Case cases[] = {
        {"AL", 0, false, 0xAB, 0x12345678, 0x123456AB},
        {"AH", 4, false, 0xAB, 0x12345678, 0x1234AB78},
        {"BH", 7, false, 0xCD, 0x12345678, 0x1234CD78},
        {"DI", 7, true, 0xFFFF, 0x12345678, 0x1234FFFF},
    };
    for (const Case& c : cases) {
        uint32_t target = c.word ? c.index : c.index & 3;
        state.reg[target].v = c.before;
        if (c.word)
            setReg16(c.index, app::val16FromUint(c.value));
        else
            setReg8(c.index, app::val8FromUint(c.value));
        EXPECT_EQ(state.reg[target].v, c.expectedRegister) << c.what;
        EXPECT_EQ(c.word ? getReg16(c.index).toUint() : getReg8(c.index).toUint(), c.value) << c.what;
    }
    state.eax.v = 0x12345678;
    EXPECT_EQ(getReg8(0).v, 0x78);
    EXPECT_EQ(getReg8(4).v, 0x56);
    EXPECT_EQ(getReg16(0).v, 0x5678);
}

TEST_F(RegisterTest, NamedRegistersAreTheEncodingArray) {
    for (uint32_t i = 0; i < 8; ++i) state.reg[i].v = 0x100 + i;
    EXPECT_EQ(state.eax.v, 0x100u);
    EXPECT_EQ(state.ecx.v, 0x101u);
    EXPECT_EQ(state.esp.v, 0x104u);
    EXPECT_EQ(state.edi.v, 0x107u);
}

TEST(MachineStateInitial, StartsClearWithGuestControlWord) {
    resetMachineForTests();
    EXPECT_EQ(state.eip.v, 0u);
    for (uint32_t i = 0; i < 8; ++i) EXPECT_EQ(state.reg[i].v, 0u);
    EXPECT_EQ(guest::flags(), "");
    EXPECT_EQ(state.fpuControlWord, 0x033F);
    EXPECT_FALSE(state.exitRequested);
    EXPECT_FALSE(state.executionFailed);
}

}  // namespace
