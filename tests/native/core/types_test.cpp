#include <gtest/gtest.h>

#include "types.h"

using namespace app;

TEST(Addr, ArithmeticWraps) {
    EXPECT_EQ(addrAdd(Addr{0xFFFFFFFF}, 1).v, 0u);
    Addr esp{0x100000};
    addInPlace(esp, 0xFFFFFFFC);
    EXPECT_EQ(esp.v, 0x0FFFFCu);
    EXPECT_EQ(addrDiff(Addr{0x401000}, Addr{0x400FFF}), -1);
    EXPECT_EQ(addrAddSize(Addr{0x10}, 0x1'0000'0005ull).v, 0x15u);
}

TEST(Addr, AlignUp) {
    struct Case { uint32_t in, out; } cases[] = {
        {0x1000, 0x1000}, {0x1001, 0x2000}, {0, 0}, {0xFFFFF001, 0}};
    for (auto c : cases) {
        Addr a{c.in};
        a.alignUp();
        EXPECT_EQ(a.v, c.out) << std::hex << c.in;
    }
}

TEST(Addr, OrderingIsTheWrappedSignedDifference) {
    EXPECT_LT(Addr{0x90000000}.opCmp(Addr{0x00100000}), 0);
    EXPECT_GT(Addr{0x00000010}.opCmp(Addr{0xFFFFFFF0}), 0);
    EXPECT_LT(Addr{0x1000}.opCmp(Addr{0x2000}), 0);
    EXPECT_EQ(Addr{0x1000}.opCmp(Addr{0x1000}), 0);
}

TEST(Addr, RangeContains) {
    struct Case { uint32_t addr, length, start, size; bool inside; } cases[] = {
        {0x2000, 0, 0x1000, 0x1000, true},
        {0x2000, 1, 0x1000, 0x1000, false},
        {0x1FFF, 2, 0x1000, 0x1000, false},
        {0x1FFF, 1, 0x1000, 0x1000, true},
        {0x1000, 0, 0x1000, 0, true},
        {0x1000, 1, 0x1000, 0, false},
        {0x0FFF, 1, 0x1000, 0x1000, false},
    };
    for (auto c : cases)
        EXPECT_EQ(rangeContains(Addr{c.addr}, c.length, Addr{c.start}, c.size), c.inside)
            << std::hex << c.addr << " " << c.length;
}

TEST(Addr, ReservedRangeIsNoMemory) {
    EXPECT_TRUE(isMemoryAddress(Addr{0xEFFFFFFF}));
    EXPECT_FALSE(isMemoryAddress(Addr{0xF0000000}));
    EXPECT_FALSE(isMemoryAddress(Addr{0xFFFFFFF0}));
}

TEST(Values, Extension) {
    EXPECT_EQ(val8SignExtend32(Val8{0x80}).v, 0xFFFFFF80u);
    EXPECT_EQ(val8SignExtend32(Val8{0x7F}).v, 0x7Fu);
    EXPECT_EQ(val8SignExtend16(Val8{0xFF}).v, 0xFFFF);
    EXPECT_EQ(val32FromVal16(Val16{0xFFFF}).v, 0xFFFFu);
    EXPECT_EQ(val8FromUint(0x1FF).v, 0xFF);
    EXPECT_EQ(val16FromUint(0x12345).v, 0x2345);
}

TEST(Values, SixteenBitShiftsTakeTheCountMod32) {
    EXPECT_EQ(val16Shl(Val16{0x8001}, 1).v, 0x0002);
    EXPECT_EQ(val16Shl(Val16{0x1234}, 16).v, 0);
    EXPECT_EQ(val16Shl(Val16{0x1234}, 32).v, 0x1234);
    EXPECT_EQ(val16Shr(Val16{0x8000}, 15).v, 1);
}

TEST(Values, WrappingArithmetic) {
    EXPECT_EQ(val32AddWithCarry(Val32{0xFFFFFFFF}, Val32{0}, true).v, 0u);
    EXPECT_EQ(val32AddWithCarry(Val32{1}, Val32{2}, false).v, 3u);
    EXPECT_EQ(val32Sub(Val32{0}, Val32{1}).v, 0xFFFFFFFFu);
    EXPECT_EQ(val8Add(Val8{0xFF}, Val8{2}).v, 1);
    EXPECT_EQ(val16Sub(Val16{0}, Val16{1}).v, 0xFFFF);
    Val32 x{0xFFFFFFFF};
    EXPECT_EQ(x.postIncrement().v, 0xFFFFFFFFu);
    EXPECT_EQ(x.v, 0u);
}

TEST(Values, FloatingPointBits) {
    EXPECT_EQ(val32ToFloat(Val32{0x3F800000}), 1.0f);
    EXPECT_EQ(val64ToDouble(Val64{0x3FF0000000000000ull}), 1.0);
    EXPECT_EQ(val64FromDouble(-0.0).v, 0x8000000000000000ull);
}

TEST(Exceptions, FixedSourceLocation) {
    ProgramException e("Unsupported argument");
    EXPECT_EQ(e.message(), "Unsupported argument");
    EXPECT_STREQ(e.file(), "types");
    EXPECT_EQ(e.line(), 10);
    EXPECT_EQ(e.describe(), "ProgramException@types(10): Unsupported argument");
}
