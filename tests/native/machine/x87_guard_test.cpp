// The guest's x87 state survives native handlers that use the host unit
// (libm, formatted printing of doubles, x87 code of their own), and a guest
// run nested inside a handler works on the real guest state.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "guestFixture.h"

namespace {

using namespace machine;

// The FNSAVE image (32-bit protected-mode layout, also used in 64-bit mode).
struct X87Image {
    alignas(16) uint8_t bytes[108];
    uint16_t controlWord() const { return static_cast<uint16_t>(bytes[0] | bytes[1] << 8); }
    uint16_t statusWord() const { return static_cast<uint16_t>(bytes[4] | bytes[5] << 8); }
    uint16_t tagWord() const { return static_cast<uint16_t>(bytes[8] | bytes[9] << 8); }
    // The register stack, ST(0) first, 10 bytes each.
    std::vector<uint8_t> registers() const { return {bytes + 28, bytes + 108}; }
};

// FNSAVE also reinitialises the unit, so the host is clean afterwards.
X87Image takeX87() {
    X87Image image;
    asm volatile("fnsave %0" : "=m"(image.bytes) : : "memory");
    return image;
}

void putX87(const X87Image& image) { asm volatile("frstor %0" : : "m"(image.bytes) : "memory"); }

const double guestValues[8] = {1.5, -2.25, 3.0e10, 0.1, -7.0, 1.0e-300, 42.0, 3.25};

// A full guest stack (eight values) under a control word of the guest's own.
X87Image fullGuestStack() {
    const uint16_t controlWord = 0x0F3F;  // round toward zero, 64-bit precision, all masked
    asm volatile(
        "fninit\n\t"
        "fldcw %1\n\t"
        "fldl 0(%0)\n\t"
        "fldl 8(%0)\n\t"
        "fldl 16(%0)\n\t"
        "fldl 24(%0)\n\t"
        "fldl 32(%0)\n\t"
        "fldl 40(%0)\n\t"
        "fldl 48(%0)\n\t"
        "fldl 56(%0)\n\t"
        :
        : "r"(guestValues), "m"(controlWord)
        : "memory");
    return takeX87();
}

void expectSameGuestState(const X87Image& before, const X87Image& after) {
    EXPECT_EQ(after.controlWord(), before.controlWord());
    EXPECT_EQ(after.statusWord(), before.statusWord());
    EXPECT_EQ(after.tagWord(), before.tagWord());
    EXPECT_EQ(after.registers(), before.registers());
}

std::string handlerText;

// Host work that needs the unit: libm, printing doubles, and x87 code of its
// own. On a full guest stack each of these would overflow it.
void hostMathsHandler() {
    volatile double a = 7.5, b = 2.0;
    double remainder = std::fmod(a, b);
    double angle = std::atan2(a, b);
    char text[64];
    std::snprintf(text, sizeof text, "%f %.3f", remainder, angle);
    handlerText = text;
    asm volatile("fld1\n\tfld1\n\tfaddp\n\tfstp %%st(0)" : : : "memory");
    returnToGuest();
}

void nestedRunHandler() {
    hostMathsHandler();  // leaves eip at the return address; the nested run saves it
    Addr back = state.eip;
    callGuest(Addr{0x401010});
    std::snprintf(nullptr, 0, "%f", std::fmod(9.0, 4.0));  // the unit is clean again here
    state.eip = back;
}

class X87GuardTest : public guest::GuestTest {
protected:
    void TearDown() override {
        asm volatile("fninit");
        guest::GuestTest::TearDown();
    }
};

TEST_F(X87GuardTest, HandlerUsingTheHostUnitLeavesTheGuestStateAlone) {
    guest::loadCode("C3");
    bindHook(guest::codeAddress, hostMathsHandler);
    handlerText.clear();
    X87Image before = fullGuestStack();
    putX87(before);
    callGuest(guest::codeAddress);
    X87Image after = takeX87();
    EXPECT_EQ(handlerText, "1.500000 1.310");
    expectSameGuestState(before, after);
}

TEST_F(X87GuardTest, NestedRunSeesAndChangesTheRealGuestState) {
    // 0x401010: fstp st(0) (pops the guest's top value); ret
    guest::loadCode("CC CC CC CC CC CC CC CC CC CC CC CC CC CC CC CC DD D8 C3");
    bindHook(guest::codeAddress, nestedRunHandler);
    X87Image before = fullGuestStack();
    putX87(before);
    callGuest(guest::codeAddress);
    X87Image after = takeX87();
    EXPECT_EQ(handlerText, "1.500000 1.310");
    EXPECT_EQ(after.controlWord(), before.controlWord());
    // One value fewer: the old ST(1) is the new ST(0), and TOP moved up by one.
    std::vector<uint8_t> was = before.registers();
    std::vector<uint8_t> now = after.registers();
    EXPECT_EQ(std::vector<uint8_t>(now.begin(), now.begin() + 70),
              std::vector<uint8_t>(was.begin() + 10, was.end()));
    EXPECT_EQ(((after.statusWord() >> 11) & 7), (((before.statusWord() >> 11) & 7) + 1) & 7);
}

}  // namespace
