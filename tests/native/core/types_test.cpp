#include <gtest/gtest.h>

#include <type_traits>

#include "types.h"

using namespace app;

// No value converts to another width, to an address or from a plain integer
// by accident: every change of width is a named operation.
template <typename From, typename... To>
constexpr bool convertsToNone = (!std::is_convertible_v<From, To> && ...);
static_assert(convertsToNone<Val8, Val16, Val32, Val64, Addr, uint32_t>);
static_assert(convertsToNone<Val16, Val8, Val32, Val64, Addr, uint32_t>);
static_assert(convertsToNone<Val32, Val8, Val16, Val64, Addr, uint32_t>);
static_assert(convertsToNone<Val64, Val8, Val16, Val32, Addr, uint64_t>);
static_assert(convertsToNone<Addr, Val8, Val16, Val32, Val64, uint32_t>);
static_assert(convertsToNone<uint32_t, Val8, Val16, Val32, Val64, Addr>);
static_assert(sizeof(Val8) == 1 && sizeof(Val16) == 2 && sizeof(Val32) == 4 && sizeof(Val64) == 8 &&
              sizeof(Addr) == 4);

TEST(Values, ValueInitialisedIsZero) {
    EXPECT_EQ(Addr{}.v, 0u);
    EXPECT_TRUE(Addr{}.isNull());
    EXPECT_EQ(Val8{}.v, 0);
    EXPECT_EQ(Val16{}.v, 0);
    EXPECT_EQ(Val32{}.v, 0u);
    EXPECT_EQ(Val64{}.v, 0u);
}

// One row per edge case: the operation's result as a number, and the
// number it must be (flags and comparisons as 0 or 1).
struct TypesCase {
    const char* name;
    uint64_t (*compute)();
    uint64_t expected;
};

uint64_t alignedUp(uint32_t value) {
    Addr a{value};
    a.alignUp();
    return a.v;
}

const TypesCase typesCases[] = {
    {"addrAdd_wraps", [] { return uint64_t{addrAdd(Addr{0xFFFFFFFF}, 1).v}; }, 0},
    {"addInPlace_moves_back", [] { Addr esp{0x100000}; addInPlace(esp, 0xFFFFFFFC); return uint64_t{esp.v}; }, 0x0FFFFC},
    {"addrAddSize_takes_size_mod_2_32", [] { return uint64_t{addrAddSize(Addr{0x10}, 0x1'0000'0005ull).v}; }, 0x15},
    {"addrDiff_is_signed", [] { return uint64_t(int64_t{addrDiff(Addr{0x401000}, Addr{0x400FFF})}); }, uint64_t(-1)},
    {"alignUp_keeps_aligned", [] { return alignedUp(0x1000); }, 0x1000},
    {"alignUp_rounds_up", [] { return alignedUp(0x1001); }, 0x2000},
    {"alignUp_keeps_zero", [] { return alignedUp(0); }, 0},
    {"alignUp_wraps", [] { return alignedUp(0xFFFFF001); }, 0},
    {"opCmp_far_apart_reverses", [] { return uint64_t{Addr{0x90000000}.opCmp(Addr{0x00100000}) < 0}; }, 1},
    {"opCmp_across_the_top", [] { return uint64_t{Addr{0x00000010}.opCmp(Addr{0xFFFFFFF0}) > 0}; }, 1},
    {"opCmp_near_is_unsigned", [] { return uint64_t{Addr{0x1000}.opCmp(Addr{0x2000}) < 0}; }, 1},
    {"opCmp_equal", [] { return uint64_t(int64_t{Addr{0x1000}.opCmp(Addr{0x1000})}); }, 0},
    {"range_empty_at_end", [] { return uint64_t{rangeContains(Addr{0x2000}, 0, Addr{0x1000}, 0x1000)}; }, 1},
    {"range_byte_past_end", [] { return uint64_t{rangeContains(Addr{0x2000}, 1, Addr{0x1000}, 0x1000)}; }, 0},
    {"range_straddles_end", [] { return uint64_t{rangeContains(Addr{0x1FFF}, 2, Addr{0x1000}, 0x1000)}; }, 0},
    {"range_last_byte", [] { return uint64_t{rangeContains(Addr{0x1FFF}, 1, Addr{0x1000}, 0x1000)}; }, 1},
    {"range_empty_block_own_start", [] { return uint64_t{rangeContains(Addr{0x1000}, 0, Addr{0x1000}, 0)}; }, 1},
    {"range_empty_block_no_byte", [] { return uint64_t{rangeContains(Addr{0x1000}, 1, Addr{0x1000}, 0)}; }, 0},
    {"range_before_start", [] { return uint64_t{rangeContains(Addr{0x0FFF}, 1, Addr{0x1000}, 0x1000)}; }, 0},
    {"memory_below_reserved", [] { return uint64_t{isMemoryAddress(Addr{0xEFFFFFFF})}; }, 1},
    {"memory_reserved_start", [] { return uint64_t{isMemoryAddress(Addr{0xF0000000})}; }, 0},
    {"memory_return_sentinel", [] { return uint64_t{isMemoryAddress(Addr{0xFFFFFFF0})}; }, 0},
    {"signExtend32_negative", [] { return uint64_t{val8SignExtend32(Val8{0x80}).v}; }, 0xFFFFFF80},
    {"signExtend32_positive", [] { return uint64_t{val8SignExtend32(Val8{0x7F}).v}; }, 0x7F},
    {"signExtend16", [] { return uint64_t{val8SignExtend16(Val8{0xFF}).v}; }, 0xFFFF},
    {"val32FromVal16_zero_extends", [] { return uint64_t{val32FromVal16(Val16{0xFFFF}).v}; }, 0xFFFF},
    {"val8FromUint_truncates", [] { return uint64_t{val8FromUint(0x1FF).v}; }, 0xFF},
    {"val16FromUint_truncates", [] { return uint64_t{val16FromUint(0x12345).v}; }, 0x2345},
    {"shl16_by_1", [] { return uint64_t{val16Shl(Val16{0x8001}, 1).v}; }, 0x0002},
    {"shl16_by_16", [] { return uint64_t{val16Shl(Val16{0x1234}, 16).v}; }, 0},
    {"shl16_by_32_is_mod_32", [] { return uint64_t{val16Shl(Val16{0x1234}, 32).v}; }, 0x1234},
    {"shr16_by_15", [] { return uint64_t{val16Shr(Val16{0x8000}, 15).v}; }, 1},
    {"shr16_by_33_is_mod_32", [] { return uint64_t{val16Shr(Val16{0x8000}, 33).v}; }, 0x4000},
    {"addWithCarry_wraps", [] { return uint64_t{val32AddWithCarry(Val32{0xFFFFFFFF}, Val32{0}, true).v}; }, 0},
    {"addWithCarry_plain", [] { return uint64_t{val32AddWithCarry(Val32{1}, Val32{2}, false).v}; }, 3},
    {"sub32_wraps", [] { return uint64_t{val32Sub(Val32{0}, Val32{1}).v}; }, 0xFFFFFFFF},
    {"add8_wraps", [] { return uint64_t{val8Add(Val8{0xFF}, Val8{2}).v}; }, 1},
    {"sub16_wraps", [] { return uint64_t{val16Sub(Val16{0}, Val16{1}).v}; }, 0xFFFF},
    {"postIncrement_returns_old", [] { Val32 x{0xFFFFFFFF}; return uint64_t{x.postIncrement().v}; }, 0xFFFFFFFF},
    {"postIncrement_wraps", [] { Val32 x{0xFFFFFFFF}; x.postIncrement(); return uint64_t{x.v}; }, 0},
    {"float_bits", [] { return uint64_t{val32ToFloat(Val32{0x3F800000}) == 1.0f}; }, 1},
    {"double_bits", [] { return uint64_t{val64ToDouble(Val64{0x3FF0000000000000ull}) == 1.0}; }, 1},
    {"negative_zero_bits", [] { return val64FromDouble(-0.0).v; }, 0x8000000000000000ull},
};

class TypesEdgeCase : public ::testing::TestWithParam<TypesCase> {};

TEST_P(TypesEdgeCase, GivesTheDefinedResult) {
    EXPECT_EQ(GetParam().compute(), GetParam().expected) << std::hex << "0x" << GetParam().expected;
}

INSTANTIATE_TEST_SUITE_P(Types, TypesEdgeCase, ::testing::ValuesIn(typesCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Exceptions, FixedSourceLocation) {
    ProgramException e("Unsupported argument");
    EXPECT_EQ(e.message(), "Unsupported argument");
    EXPECT_STREQ(e.file(), "types");
    EXPECT_EQ(e.line(), 10);
    EXPECT_EQ(e.describe(), "ProgramException@types(10): Unsupported argument");
}
