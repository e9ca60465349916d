// The x87 escapes: which bytes run, which are refused and with what message,
// the order of host operation, memory access and checks, the guest control
// word, and the end of the run on an exception the guest has unmasked. The
// values the forms compute are proven against the processor in
// x87_reference_test.cpp.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <ostream>
#include <string>
#include <vector>

#include "guestFixture.h"
#include "machine/binding.h"
#include "machine/executer.h"
#include "machine/machineState.h"

namespace {

using machine::Addr;

constexpr uint32_t data = guestLayout::dataStart;  // a 0x100-byte data block
constexpr uint32_t dataSize = 0x100;

struct Extended {
    uint16_t signExponent;
    uint64_t significand;
};
constexpr Extended one{0x3FFF, 0x8000000000000000ull};
constexpr Extended two{0x4000, 0x8000000000000000ull};
constexpr Extended four{0x4001, 0x8000000000000000ull};
constexpr Extended five{0x4001, 0xA000000000000000ull};
constexpr Extended third{0x3FFD, 0xAAAAAAAAAAAAAAABull};
constexpr Extended forty000{0x400E, 0x9C40000000000000ull};

// The unit as FNSAVE shows it (and FRSTOR puts back).
struct Unit {
    uint16_t controlWord, statusWord, tagWord;
    uint8_t st[8][10];

    bool empty(int i) const {
        unsigned physical = (((statusWord >> 11) & 7u) + static_cast<unsigned>(i)) & 7u;
        return ((tagWord >> (2 * physical)) & 3u) == 3u;
    }
    int depth() const {
        int n = 0;
        for (int i = 0; i < 8; ++i) n += empty(i) ? 0 : 1;
        return n;
    }
    // "sign-exponent:significand" in hex, or "empty"
    std::string text(int i) const {
        if (empty(i)) return "empty";
        uint16_t se;
        uint64_t m;
        std::memcpy(&m, st[i], 8);
        std::memcpy(&se, st[i] + 8, 2);
        char out[32];
        std::snprintf(out, sizeof out, "%04x:%016llx", se, static_cast<unsigned long long>(m));
        return out;
    }
};

Unit unit() {
    alignas(16) uint8_t image[108];
    asm volatile("fnsave %0\n\tfrstor %0" : "+m"(image) : : "memory");
    Unit u;
    std::memcpy(&u.controlWord, image, 2);
    std::memcpy(&u.statusWord, image + 4, 2);
    std::memcpy(&u.tagWord, image + 8, 2);
    for (int i = 0; i < 8; ++i) std::memcpy(u.st[i], image + 28 + 10 * i, 10);
    return u;
}

std::string text(Extended v) {
    char out[32];
    std::snprintf(out, sizeof out, "%04x:%016llx", v.signExponent,
                  static_cast<unsigned long long>(v.significand));
    return out;
}

// Pushes onto the host unit, which holds the guest's stack.
void push(Extended v) {
    uint8_t bytes[10];
    std::memcpy(bytes, &v.significand, 8);
    std::memcpy(bytes + 8, &v.signExponent, 2);
    asm volatile("fldt %0" : : "m"(bytes));
}

uint16_t hostControlWord() {
    uint16_t word;
    asm volatile("fnstcw %0" : "=m"(word));
    return word;
}

uint16_t read16(uint32_t address) { return machine::readMemory16(false, Addr{address}).v; }

uint64_t read64(uint32_t address) {
    uint64_t v;
    std::memcpy(&v, machine::hostPointer8(Addr{address}), 8);
    return v;
}

class X87Test : public guest::GuestTest {
protected:
    void SetUp() override {
        guest::GuestTest::SetUp();
        machine::resetX87ForTests();
        asm volatile("fninit");
        machine::allocateTEB(48);
    }
    void TearDown() override {
        asm volatile("fninit");
        machine::resetX87ForTests();
        guest::GuestTest::TearDown();
    }

    // The code block, then the zeroed data block at 0x500000; EBP points at
    // its start + 0x10.
    static void load(const std::string& code) {
        guest::loadCode(code);
        guest::addZeroedData(Addr{data}, dataSize);
        machine::state.ebp.v = data + 0x10;
    }
    static void store16(uint32_t address, uint16_t v) {
        machine::writeMemory16(false, Addr{address}, machine::Val16{v});
    }
    static void store64(uint32_t address, uint64_t v) {
        std::memcpy(machine::hostPointer8(Addr{address}), &v, 8);
    }
};

// ---- Refusals ----------------------------------------------------------------------------

struct Refusal {
    const char* code;  // from 0x401000; 0x64 rows read the 48-byte TEB
    int pushes;        // values 1.0 on the stack before
    const char* message;
    int depthAfter;    // stack depth when the run has ended
};

constexpr const char* regArgs = "Register arguments not supported";
constexpr const char* loadFs = "Loading argument from fs segment not supported";
constexpr const char* argFs = "Argument in fs segment not supported";
constexpr const char* write16Fs = "Writing 16-bit value to FS segment is not supported.";

const Refusal refusals[] = {
    // forms outside the supported set
    {"D8 D8", 1, "Unknown subinstruction 0xd8 at address 0x401000", 1},        // FCOMP ST(0)
    {"D8 E1", 2, "Unknown subinstruction 0xe1 at address 0x401000", 2},        // FSUB ST(0), ST(1)
    {"D8 18", 1, "Unknown subinstruction 0x18 at address 0x401000", 1},        // FCOMP m32
    {"D9 00", 0, "Unknown subinstruction 0x0 at address 0x401000", 0},         // FLD m32
    {"D9 1D 00 00 50 00", 1, "Unknown subinstruction 0x1d at address 0x401000", 1},  // FSTP m32
    {"D9 2C 24", 0, "Unknown subinstruction 0x2c at address 0x401000", 0},     // FLDCW [ESP]
    {"D9 28", 0, "Unknown subinstruction 0x28 at address 0x401000", 0},        // FLDCW [EAX]
    {"D9 3D 00 00 50 00", 0, "Unknown subinstruction 0x3d at address 0x401000", 0},  // FNSTCW [disp32]
    {"D9 D0", 0, "Unknown subinstruction 0xd0 at address 0x401000", 0},        // FNOP
    {"D9 F8", 2, "Unknown subinstruction 0xf8 at address 0x401000", 2},        // FPREM
    {"D9 F2", 1, "Unknown subinstruction 0xf2 at address 0x401000", 1},        // FPTAN
    {"D9 F7", 1, "Unknown subinstruction 0xf7 at address 0x401000", 1},        // FINCSTP
    {"DB 08", 1, "Unknown subinstruction 0x8 at address 0x401000", 1},         // FISTTP m32
    {"DB E4", 0, "Unknown subinstruction 0xe4 at address 0x401000", 0},
    {"DC E0", 2, "Unknown subinstruction 0xe0 at address 0x401000", 2},        // FSUBR ST(0)
    {"DC 30", 1, "Unknown subinstruction 0x30 at address 0x401000", 1},        // FDIV m64
    {"DD E1", 2, "Unknown subinstruction 0xe1 at address 0x401000", 2},        // FUCOM ST(1)
    {"DD 10", 1, "Unknown subinstruction 0x10 at address 0x401000", 1},        // FST m64
    {"DD D1", 2, "Unknown subinstruction 0xd1 at address 0x401000", 2},        // FST ST(1)
    {"DD C1", 2, regArgs, 2},                                                  // FFREE: FLD m64's row
    {"DE E1", 2, "Unknown subinstruction 0xe1 at address 0x401000", 2},        // FSUBRP
    {"DE F9", 2, "Unknown subinstruction 0xf9 at address 0x401000", 2},        // FDIVP
    {"DE D8", 2, "Unknown subinstruction 0xd8 at address 0x401000", 2},
    {"DE 00", 1, "Unknown subinstruction 0x0 at address 0x401000", 1},         // FIADD m16
    {"DF E0", 0, "Unknown subinstruction 0xe0 at address 0x401000", 0},        // FNSTSW AX
    {"DF 28", 0, "Unknown subinstruction 0x28 at address 0x401000", 0},        // FILD m64
    {"DF 18", 1, "Unknown subinstruction 0x18 at address 0x401000", 1},        // FISTP m16
    {"DA C0", 2, "Unknown instruction byte 0xda at address 0x401000", 2},

    // register forms that reach a memory form's handler
    {"D8 C0", 1, regArgs, 1},
    {"DB C0", 0, regArgs, 0},
    {"DB E8", 0, regArgs, 0},
    {"DB F8", 1, "Unsupported argument", 1},
    {"DC C0", 1, regArgs, 1},
    {"DC C8", 1, regArgs, 1},
    {"DD F8", 1, "Invalid argument", 1},
    {"DF C0", 0, regArgs, 0},
    {"DF D0", 1, regArgs, 1},   // after the host FIST, which does not pop
    {"DF F8", 1, regArgs, 0},   // after the host FISTP, which has popped

    // the FS segment: refused before anything runs, or by the 16-bit accessors
    {"64 DC C0", 1, loadFs, 1},
    {"64 D8 D1", 2, loadFs, 2},
    {"64 D8 15 08 00 00 00", 1, loadFs, 1},
    {"64 DB 05 00 00 00 00", 0, loadFs, 0},
    {"64 DB C0", 0, loadFs, 0},
    {"64 DF 05 00 00 00 00", 0, loadFs, 0},
    {"64 DF C0", 0, loadFs, 0},
    {"64 DD 05 00 00 00 00", 0, loadFs, 0},
    {"64 DB 2D 00 00 00 00", 0, loadFs, 0},
    {"64 DC 05 00 00 00 00", 1, loadFs, 1},
    {"64 DC 0D 00 00 00 00", 1, loadFs, 1},
    {"64 DD D9", 2, argFs, 2},
    {"64 DD 1D 00 00 00 00", 1, argFs, 1},
    {"64 DB 3D 00 00 00 00", 1, argFs, 1},
    {"64 DB F8", 1, argFs, 1},
    {"64 DF 3D 00 00 00 00", 1, "Storing to fs segment not supported", 1},
    {"64 DF F8", 1, "Storing to fs segment not supported", 1},
    {"64 DF 15 00 00 00 00", 1, write16Fs, 1},
    {"64 DD 3D 00 00 00 00", 0, write16Fs, 0},
    {"64 D9 7D 00", 0, write16Fs, 0},
    {"64 D9 6D 00", 0, "Reading 16-bit value from FS segment is not supported.", 0},
    {"64 D8 05 30 00 00 00", 1, "Invalid offset from fs register: 0x30", 1},

    // prefixes no x87 form accepts: the form runs, then the decoder refuses
    {"66 D9 E8", 0, "Operand size prefix (0x66) used with instruction that doesn't support it at address 0x401000", 1},
    {"64 D9 E8", 0, "fs segment selector prefix (0x64) used with instruction that doesn't support it at address 0x401000", 1},
    {"F3 D9 EE", 0, "Repeat override prefix (0xf3) used with instruction that doesn't support it at address 0x401000", 1},
    {"67 D9 E8", 0, "Address size override prefix (0x67) used with instruction that doesn't support it at address 0x401000", 1},
    {"67 DD 00", 0, "Unimplemented R/M 16-bit addressing form 0x0", 0},

    // operands that are not inside one block: loads change nothing, stores
    // have already popped
    {"DD 05 FC 00 50 00", 0, "Attempted to lookup invalid memory address: 0x5000fc  size: 8", 0},
    {"DB 2D F8 00 50 00", 0, "Attempted to lookup invalid memory address: 0x5000f8  size: 10", 0},
    {"DD 1D FC 00 50 00", 1, "Attempted to lookup invalid memory address: 0x5000fc  size: 8", 0},
    {"DB 3D F8 00 50 00", 1, "Attempted to lookup invalid memory address: 0x5000f8  size: 10", 0},
    {"DF 3D FC 00 50 00", 1, "Attempted to lookup invalid memory address: 0x5000fc  size: 8", 0},
    {"D9", 0, "Unable to read instruction outside of code memory block. eip = 0x401001", 0},
};

void PrintTo(const Refusal& r, std::ostream* out) { *out << r.code; }

class X87Refusal : public X87Test, public ::testing::WithParamInterface<Refusal> {};

TEST_P(X87Refusal, EndsTheRunWithItsMessage) {
    const Refusal& r = GetParam();
    load(r.code);
    for (int i = 0; i < r.pushes; ++i) push(one);
    EXPECT_EQ(guest::errorOf([] { guest::step(); }), r.message);
    EXPECT_EQ(unit().depth(), r.depthAfter);
}

INSTANTIATE_TEST_SUITE_P(Table, X87Refusal, ::testing::ValuesIn(refusals));

// ---- Every ModRM byte of every escape -------------------------------------------------------
// The supported set, swept byte by byte: what the values are is the
// differential's business, here only whether a byte runs or how it ends.

constexpr const char* runs = "";
constexpr const char* fsRefused =
    "fs segment selector prefix (0x64) used with instruction that doesn't support it at address 0x401000";

// Register forms (ModRM C0 to FF) that do not end as unknown, without and
// with 0x64.
struct RegisterForms {
    uint8_t escape, first, last;
    const char* plain;
    const char* withFs;
};

const RegisterForms registerForms[] = {
    {0xD8, 0xC0, 0xC7, regArgs, regArgs},  // FADD m32's row
    {0xD8, 0xC8, 0xCF, runs, fsRefused},   // FMUL ST(0), ST(i)
    {0xD8, 0xD0, 0xD7, runs, loadFs},      // FCOM ST(i)
    {0xD9, 0xC0, 0xCF, runs, fsRefused},   // FLD ST(i), FXCH ST(i)
    {0xD9, 0xE0, 0xE1, runs, fsRefused},   // FCHS, FABS
    {0xD9, 0xE4, 0xE5, runs, fsRefused},   // FTST, FXAM
    {0xD9, 0xE8, 0xE8, runs, fsRefused},   // FLD1
    {0xD9, 0xEA, 0xEB, runs, fsRefused},   // FLDL2E, FLDPI
    {0xD9, 0xED, 0xEE, runs, fsRefused},   // FLDLN2, FLDZ
    {0xD9, 0xF0, 0xF1, runs, fsRefused},   // F2XM1, FYL2X
    {0xD9, 0xF3, 0xF3, runs, fsRefused},   // FPATAN
    {0xD9, 0xFA, 0xFA, runs, fsRefused},   // FSQRT
    {0xD9, 0xFC, 0xFF, runs, fsRefused},   // FRNDINT, FSCALE, FSIN, FCOS
    {0xDB, 0xC0, 0xC7, regArgs, loadFs},   // FILD m32's row
    {0xDB, 0xE2, 0xE3, runs, fsRefused},   // FNCLEX, FNINIT
    {0xDB, 0xE8, 0xEF, regArgs, loadFs},   // FLD m80's row
    {0xDB, 0xF8, 0xFF, "Unsupported argument", argFs},  // FSTP m80's row
    {0xDC, 0xC0, 0xCF, regArgs, loadFs},   // FADD m64's and FMUL m64's rows
    {0xDD, 0xC0, 0xC7, regArgs, loadFs},   // FLD m64's row
    {0xDD, 0xD8, 0xDF, runs, argFs},       // FSTP ST(i)
    {0xDD, 0xF8, 0xFF, "Invalid argument", "Invalid argument"},  // FNSTSW's row
    {0xDE, 0xC0, 0xCF, runs, fsRefused},   // FADDP, FMULP
    {0xDE, 0xD9, 0xD9, runs, fsRefused},   // FCOMPP
    {0xDE, 0xE8, 0xF7, runs, fsRefused},   // FSUBP, FDIVRP
    {0xDF, 0xC0, 0xC7, regArgs, loadFs},   // FILD m16's row
    {0xDF, 0xD0, 0xD7, regArgs, regArgs},  // FIST m16's row
    {0xDF, 0xF8, 0xFF, regArgs, "Storing to fs segment not supported"},  // FISTP m64's row
};

constexpr uint8_t escapes[] = {0xD8, 0xD9, 0xDB, 0xDC, 0xDD, 0xDE, 0xDF};

std::string unknownSubinstruction(unsigned modrm) {
    char text[64];
    std::snprintf(text, sizeof text, "Unknown subinstruction 0x%x at address 0x401000", modrm);
    return text;
}

std::string expectedOfRegisterForm(uint8_t escape, unsigned modrm, bool fs) {
    for (const RegisterForms& r : registerForms)
        if (r.escape == escape && modrm >= r.first && modrm <= r.last) return fs ? r.withFs : r.plain;
    return unknownSubinstruction(modrm);
}

// The memory forms by /reg field (bit n: /n is supported). D9 takes its two
// only with [SIB + disp8] and [EBP + disp8].
uint8_t supportedMemoryForms(uint8_t escape) {
    switch (escape) {
    case 0xD8: return 0b0000'0111;  // FADD, FMUL, FCOM m32
    case 0xD9: return 0b1010'0000;  // FLDCW, FNSTCW
    case 0xDB: return 0b1010'0001;  // FILD m32, FLD m80, FSTP m80
    case 0xDC: return 0b0000'0011;  // FADD, FMUL m64
    case 0xDD: return 0b1000'1001;  // FLD m64, FSTP m64, FNSTSW
    case 0xDF: return 0b1000'0101;  // FILD m16, FIST m16, FISTP m64
    default: return 0;
    }
}

class X87EveryByte : public X87Test {
protected:
    // The bytes on a fresh guest and a unit holding two values; the message
    // the step ends with.
    static std::string run(const std::string& code) {
        guest::resetGuest();
        load(code);
        machine::state.eax.v = data + 0x20;
        store16(data + 0x20, 0x037F);  // for FLDCW: a word that unmasks nothing
        machine::writeMemory16(false, Addr{machine::state.esp.v - 0x40}, machine::Val16{0x037F});
        machine::state.esp.v -= 0x50;
        asm volatile("fninit");
        machine::resetX87ForTests();
        push(one);
        push(one);
        return guest::errorOf([] { guest::step(); });
    }
};

std::string hexCode(std::initializer_list<unsigned> bytes) {
    std::string text;
    for (unsigned b : bytes) {
        char part[4];
        std::snprintf(part, sizeof part, "%02X ", b);
        text += part;
    }
    return text;
}

TEST_F(X87EveryByte, RegisterFormsRunOrEndWithTheirRowsMessage) {
    std::string mismatches;
    for (uint8_t escape : escapes)
        for (unsigned modrm = 0xC0; modrm <= 0xFF; ++modrm)
            for (bool fs : {false, true}) {
                std::string code = (fs ? "64 " : "") + hexCode({escape, modrm});
                std::string got = run(code);
                std::string want = expectedOfRegisterForm(escape, modrm, fs);
                if (got != want) mismatches += code + ": \"" + got + "\", expected \"" + want + "\"\n";
            }
    EXPECT_EQ(mismatches, "");
}

TEST_F(X87EveryByte, MemoryFormsRunOrAreUnknown) {
    std::string mismatches;
    for (uint8_t escape : escapes)
        for (unsigned reg = 0; reg < 8; ++reg) {
            // [EBP + 0x10], [ESP + 0x10], [EAX], [0x500020]
            const std::string forms[] = {
                hexCode({escape, 0x45 | reg << 3, 0x10}),
                hexCode({escape, 0x44 | reg << 3, 0x24, 0x10}),
                hexCode({escape, reg << 3}),
                hexCode({escape, 0x05 | reg << 3, 0x20, 0x00, 0x50, 0x00}),
            };
            for (int k = 0; k < 4; ++k) {
                bool supported = (supportedMemoryForms(escape) >> reg & 1u) != 0 && (escape != 0xD9 || k < 2);
                unsigned modrm = guest::hexBytes(forms[k])[1];
                std::string want = supported ? runs : unknownSubinstruction(modrm);
                std::string got = run(forms[k]);
                if (got != want) mismatches += forms[k] + ": \"" + got + "\", expected \"" + want + "\"\n";
            }
        }
    EXPECT_EQ(mismatches, "");
}

// ---- Forms that run -----------------------------------------------------------------------

TEST_F(X87Test, PoppingSubtractAndReverseDivideUseTheProcessorsOperandOrder) {
    load("DE E9 DE F1");  // FSUBP ST(1), ST(0); FDIVRP ST(1), ST(0)
    push(two);
    push(five);
    push(two);
    guest::step();  // ST(1) = 5 - 2
    EXPECT_EQ(unit().text(0), text(Extended{0x4000, 0xC000000000000000ull}));
    guest::step();  // ST(1) = ST(0) / ST(1) = 3 / 2
    Unit u = unit();
    EXPECT_EQ(u.depth(), 1);
    EXPECT_EQ(u.text(0), text(Extended{0x3FFF, 0xC000000000000000ull}));
}

TEST_F(X87Test, FcomppThenFnstswReportsLessThanAndPopsTwice) {
    load("DE D9 DD 3D 00 00 50 00");  // FCOMPP; FNSTSW [0x500000]
    push(four);
    push(one);  // ST(0) = 1 < ST(1) = 4
    guest::step(2);
    uint16_t status = read16(data);
    EXPECT_EQ(status & 0x4500, 0x0100);  // C0 set, C2 and C3 clear
    EXPECT_EQ(unit().depth(), 0);
    EXPECT_EQ(machine::state.eip.v, 0x401008u);
}

TEST_F(X87Test, FistOutOfRangeStoresIndefiniteAndKeepsTheValue) {
    load("DF 15 00 00 50 00");  // FIST m16 [0x500000]
    push(forty000);
    guest::step();
    EXPECT_EQ(read16(data), 0x8000);
    EXPECT_EQ(unit().text(0), text(forty000));
    EXPECT_EQ(unit().statusWord & 1, 1);  // invalid operation, masked
}

TEST_F(X87Test, FstpM64RoundsTheExtendedValueToNearestDouble) {
    load("DD 1D 08 00 50 00");  // FSTP m64 [0x500008]
    push(third);
    guest::step();
    EXPECT_EQ(read64(data + 8), 0x3FD5555555555555ull);
    EXPECT_EQ(unit().depth(), 0);
}

struct Copy80 {
    const char* name;
    Extended value;
};

void PrintTo(const Copy80& c, std::ostream* out) { *out << c.name; }

class X87Copy80 : public X87Test, public ::testing::WithParamInterface<Copy80> {};

TEST_P(X87Copy80, FldThenFstpOfTenBytesCopiesThemUnchanged) {
    load("DB 2D 00 00 50 00 DB 3D 10 00 50 00");  // FLD m80 [0x500000]; FSTP m80 [0x500010]
    Extended v = GetParam().value;
    std::memcpy(machine::hostPointer10(Addr{data}), &v.significand, 8);
    store16(data + 8, v.signExponent);
    guest::step(2);
    EXPECT_EQ(std::memcmp(machine::hostPointer10(Addr{data}), machine::hostPointer10(Addr{data + 0x10}), 10), 0);
    EXPECT_EQ(unit().depth(), 0);
}

INSTANTIATE_TEST_SUITE_P(Table, X87Copy80,
                         ::testing::Values(Copy80{"qnan", {0x7FFF, 0xC000000000000001ull}},
                                           Copy80{"snan", {0xFFFF, 0xA000000000000000ull}},
                                           Copy80{"inf", {0xFFFF, 0x8000000000000000ull}},
                                           Copy80{"denormal", {0x0000, 0x0000000000000001ull}},
                                           Copy80{"unnormal", {0x4000, 0x4000000000000000ull}}));

TEST_F(X87Test, FaddM32ReadsItsOperandThroughTheFsSegment) {
    load("64 D8 05 08 00 00 00");  // FADD m32 fs:[8]
    machine::writeMemory32(true, Addr{8}, machine::Val32{0x3FC00000});  // 1.5f
    push(one);
    EXPECT_EQ(guest::errorOf([] { guest::step(); }), "");
    EXPECT_EQ(unit().text(0), text(Extended{0x4000, 0xA000000000000000ull}));  // 2.5
    EXPECT_FALSE(machine::fsPrefix);
}

TEST_F(X87Test, FwaitDoesNothingAndFstswRunsAsTwoInstructions) {
    load("9B DD 7D FC");  // FWAIT; FNSTSW [EBP-4]
    push(one);
    Unit before = unit();
    guest::step();
    EXPECT_EQ(machine::state.eip.v, 0x401001u);
    EXPECT_EQ(unit().statusWord, before.statusWord);
    guest::step();
    EXPECT_EQ(read16(data + 0xC), before.statusWord);
}

// ---- Control word -------------------------------------------------------------------------

TEST_F(X87Test, FnstcwBeforeAnyFldcwStoresTheInitialWord) {
    load("D9 7D F8");  // FNSTCW [EBP-8]
    guest::step();
    EXPECT_EQ(read16(data + 8), 0x033F);
}

struct Rounding {
    uint16_t controlWord;
    uint64_t value;    // double bits
    uint64_t stored;   // FISTP m64
};

void PrintTo(const Rounding& r, std::ostream* out) {
    *out << "cw " << std::hex << r.controlWord << " value " << r.value;
}

class X87Rounding : public X87Test, public ::testing::WithParamInterface<Rounding> {};

TEST_P(X87Rounding, FldcwSetsTheRoundingOfFistp) {
    // FLDCW [ESP+4]; FLD m64 [EBP]; FISTP m64 [EBP+8]; FNSTCW [EBP-8]
    load("D9 6C 24 04 DD 45 00 DF 7D 08 D9 7D F8");
    const Rounding& r = GetParam();
    machine::state.esp.v -= 8;
    machine::writeMemory16(false, Addr{machine::state.esp.v + 4}, machine::Val16{r.controlWord});
    store64(data + 0x10, r.value);
    guest::step(4);
    EXPECT_EQ(read64(data + 0x18), r.stored);
    EXPECT_EQ(read16(data + 8), r.controlWord);
}

INSTANTIATE_TEST_SUITE_P(
    Table, X87Rounding,
    ::testing::Values(Rounding{0x0F7F, 0x400599999999999Aull, 2},   // 2.7 towards zero
                      Rounding{0x037F, 0x400599999999999Aull, 3},   // 2.7 to nearest
                      Rounding{0x037F, 0x4004000000000000ull, 2},   // 2.5 to nearest even
                      Rounding{0x077F, 0xC004000000000000ull, static_cast<uint64_t>(-3)},  // -2.5 down
                      Rounding{0x0B7F, 0x4000CCCCCCCCCCCDull, 3},   // 2.1 up
                      Rounding{0x0C7F, 0xC00599999999999Aull, static_cast<uint64_t>(-2)}));  // -2.7 towards zero

TEST_F(X87Test, FninitGivesTheGuestTheUnitsInitialWord) {
    // FLDCW [EBP]; FNINIT; FNSTCW [EBP-8]; FLD m64 [EBP+0x10]; FISTP m64 [EBP+0x18]
    load("D9 6D 00 DB E3 D9 7D F8 DD 45 10 DF 7D 18");
    store16(data + 0x10, 0x0C7F);
    store64(data + 0x20, 0x400599999999999Aull);  // 2.7
    guest::step(5);
    EXPECT_EQ(read16(data + 8), 0x037F);
    EXPECT_EQ(machine::state.fpuControlWord, 0x037F);  // what the dump shows
    EXPECT_EQ(read64(data + 0x28), 3u);                // to nearest
    EXPECT_EQ(hostControlWord(), 0x037F);
}

// ---- Exceptions the guest unmasks ----------------------------------------------------------

struct Unmasked {
    const char* name;
    uint16_t controlWord;  // loaded first, by FLDCW [EBP]
    const char* code;      // after it, from 0x401003
    int steps;
    const char* message;
};

const Unmasked unmaskedRows[] = {
    // FLDZ; FLD1; FDIVRP: 1 / 0
    {"ZeroDivideUnmasked", 0x037B, "D9 EE D9 E8 DE F1", 3,
     "Floating-point exception at address 0x401007"},
    {"ZeroDivideMasked", 0x037F, "D9 EE D9 E8 DE F1", 3, ""},
    // 1 / 3: inexact, which the runtime word leaves masked
    {"RuntimeWordInexactIsMasked", 0x0272, "D9 E8 D9 E8 D9 E8 DE C1 DE C1 D9 E8 DE F1", 7, ""},
    // FLD1; FCHS; FSQRT: invalid
    {"RuntimeWordInvalid", 0x0272, "D9 E8 D9 E0 D9 FA", 3,
     "Floating-point exception at address 0x401007"},
    // a flag raised while masked ends the run at the FLDCW that unmasks it
    {"PendingFlagUnmaskedByFldcw", 0x037F, "D9 EE D9 E8 DE F1 D9 6D 02", 4,
     "Floating-point exception at address 0x401009"},
    // FNINIT masks everything again
    {"FninitMasks", 0x0340, "DB E3 D9 EE D9 E8 DE F1", 4, ""},
    // FNCLEX before the unmasking FLDCW
    {"FnclexClearsFirst", 0x037F, "D9 EE D9 E8 DE F1 DB E2 D9 6D 02", 5, ""},
    // invalid: stack underflow (FADDP on an empty stack)
    {"StackUnderflow", 0x037E, "DE C1", 1, "Floating-point exception at address 0x401003"},
};

void PrintTo(const Unmasked& u, std::ostream* out) { *out << u.name; }

class X87Unmasked : public X87Test, public ::testing::WithParamInterface<Unmasked> {};

TEST_P(X87Unmasked, EndsTheRunAfterTheInstructionThatRaisedIt) {
    const Unmasked& u = GetParam();
    load(std::string("D9 6D 00 ") + u.code);
    store16(data + 0x10, u.controlWord);
    store16(data + 0x12, 0x037B);  // for the rows that load a second word
    EXPECT_EQ(guest::errorOf([&] { guest::step(1 + u.steps); }), u.message);
    // the host unit never traps: its masks stay set whatever the guest loads
    EXPECT_EQ(hostControlWord() & 0x3F, 0x3F);
}

INSTANTIATE_TEST_SUITE_P(Table, X87Unmasked, ::testing::ValuesIn(unmaskedRows));

TEST_F(X87Test, FnstcwReturnsAnUnmaskingWordExactly) {
    load("D9 6D 00 D9 7D F8");  // FLDCW [EBP]; FNSTCW [EBP-8]
    store16(data + 0x10, 0x0360);
    guest::step(2);
    EXPECT_EQ(read16(data + 8), 0x0360);
    EXPECT_EQ(machine::state.fpuControlWord, 0x0360);
    EXPECT_EQ(hostControlWord(), 0x037F);
}

// ---- Across native handlers ------------------------------------------------------------

// A handler that uses the host unit the way host code may: libm, formatting
// a double, and x87 code of its own that fills the stack. It replaces the one
// byte at its address.
void handlerUsingTheHostUnit() {
    volatile double a = 7.5, b = 2.0;
    double x = std::fmod(a, b) + std::atan2(a, b);
    char text[64];
    std::snprintf(text, sizeof text, "%f", x);
    asm volatile("fninit\n\tfld1\n\tfldpi\n\tfldz\n\tfld1\n\tfldpi\n\tfldz\n\tfld1\n\tfldpi\n\tfldz" ::: "memory");
    machine::state.eip.v += 1;
}

void handlerDoingNothing() { machine::state.eip.v += 1; }

std::string hexByte(unsigned v) {
    char text[4];
    std::snprintf(text, sizeof text, " %02X", v & 0xFFu);
    return text;
}

// With EBP at 0x500040: FLDCW [EBP-0x40]; eight FLD m64 [EBP-0x30+8k] (a
// full stack); the handler's byte; eight FSTP m80 [EBP+10k]; FNSTSW
// [EBP+0x60]; RET. The stored bytes and status word with the handler that
// uses the unit must be those with a handler that does nothing.
std::vector<uint8_t> runFullStackAcross(machine::NativeHandler handler) {
    guest::resetGuest();
    std::string code = "D9 6D C0";
    for (unsigned k = 0; k < 8; ++k) code += " DD 45" + hexByte(0xD0 + 8 * k);
    Addr hook{guest::codeAddress.v + 3 + 8 * 3};
    code += " 90";
    for (unsigned k = 0; k < 8; ++k) code += " DB 7D" + hexByte(10 * k);
    code += " DD 7D 60 C3";
    guest::loadCode(code);
    guest::addZeroedData(Addr{data}, dataSize);
    machine::state.ebp.v = data + 0x40;
    machine::writeMemory16(false, Addr{data}, machine::Val16{0x0B7F});  // round up
    const uint64_t values[8] = {0x3FF8000000000000ull, 0xC002000000000000ull, 0x421BF08EB0000000ull,
                                0x3FB999999999999Aull, 0xC01C000000000000ull, 0x01A56E1FC2F8F359ull,
                                0x4045000000000000ull, 0x400A000000000000ull};
    for (unsigned k = 0; k < 8; ++k) std::memcpy(machine::hostPointer8(Addr{data + 0x10 + 8 * k}), &values[k], 8);
    machine::bindHook(hook, handler);
    EXPECT_EQ(guest::errorOf([] { machine::callGuest(guest::codeAddress); }), "");
    auto bytes = machine::hostSlice(Addr{data}, dataSize);
    return {bytes.begin(), bytes.end()};
}

TEST_F(X87Test, AFullGuestStackSurvivesAHandlerThatUsesTheHostUnit) {
    std::vector<uint8_t> undisturbed = runFullStackAcross(handlerDoingNothing);
    std::vector<uint8_t> acrossHostCode = runFullStackAcross(handlerUsingTheHostUnit);
    EXPECT_EQ(acrossHostCode, undisturbed);
    EXPECT_EQ(unit().depth(), 0);
    uint16_t status;
    std::memcpy(&status, undisturbed.data() + 0xA0, 2);
    EXPECT_EQ(status & 0x3841, 0);  // TOP back at 0, no stack fault, no invalid operation
}

}  // namespace
