// x87 floating point: the escapes D8, D9 and DB to DF, and FWAIT.
//
// Each supported form runs as the same instruction on the host's x87 unit:
// the unit's register stack, tags and status word are the guest's between
// guest instructions. A handler decodes its operand, moves a memory operand
// between guest memory and a host variable of the operand's own format, runs
// the one host instruction and writes a stored result back. Bit patterns are
// copied, never converted, so a signalling NaN reaches the unit as one.
//
// The host unit always runs with its six exception masks set: a guest word
// that unmasks an exception would otherwise turn the next host x87
// instruction into a hardware trap inside the interpreter. The guest's word
// stays in fpuControlWord exactly as written, and an exception that it leaves
// unmasked ends the guest run after the instruction that raised it.
#include <array>
#include <cstring>

#include "machine/executer.h"
#include "machine/executer_internal.h"
#include "machine/executer_x87_host.h"
#include "machine/machineState.h"
#include "types.h"

namespace machine {

namespace {

using x87host::run;
using x87host::runOnMemory;
using x87host::stackRegisterForms;

constexpr uint16_t exceptionMasks = 0x003F;  // IM DM ZM OM UM PM

// The exception flags that the guest's control word in effect leaves
// unmasked: set by FLDCW, cleared by FNINIT (whose word masks everything).
uint16_t unmaskedExceptions = 0;

[[noreturn]] void fail(const char* message) { throw app::ProgramException(message); }

[[noreturn]] void unknownSubinstruction(uint8_t modrm) {
    throw app::ProgramException(app::format("Unknown subinstruction 0x%x at address 0x%x", modrm,
                                            instructionStart.v));
}

// Out of line, so that the escapes need no stack frame for the message.
[[noreturn, gnu::noinline, gnu::cold]] void failUnmaskedException() {
    throw app::ProgramException(
        app::format("Floating-point exception at address 0x%x", instructionStart.v));
}

// Ends the run when the last instruction raised an exception that the guest
// has unmasked; costs nothing while the guest's word masks all of them.
inline void checkUnmaskedExceptions() {
    if (unmaskedExceptions == 0) return;
    if ((x87host::statusWord() & unmaskedExceptions) != 0) failUnmaskedException();
}

bool inRow(uint8_t modrm, uint8_t first) { return modrm >= first && modrm <= first + 7; }

void runStackRegisterForm(const std::array<x87host::Instruction, 8>& forms, uint32_t index) {
    if (index > 7) fail("Register index not supported");
    forms[index]();
}

// ---- Operand plumbing ---------------------------------------------------------

void refuseFsForLoad() {
    if (fsPrefix) fail("Loading argument from fs segment not supported");
}

void refuseRegisterArguments(uint8_t modrm) {
    if (isRegisterForm(modrm)) fail("Register arguments not supported");
}

struct Extended {
    uint8_t bytes[10];
};

float readReal32(Addr address) { return app::val32ToFloat(readMemOperand<Val32>(address)); }

double readReal64(Addr address) {
    double value;
    std::memcpy(&value, hostPointer8(address), sizeof value);
    return value;
}

Extended readReal80(Addr address) {
    Extended value;
    std::memcpy(value.bytes, hostPointer10(address), sizeof value.bytes);
    return value;
}

// ---- Stack-register forms ------------------------------------------------------

void executeFmulSt0Sti(uint32_t i) { runStackRegisterForm(stackRegisterForms<0xD8, 0xC8>, i); }
void executeFcomSti(uint32_t i) { runStackRegisterForm(stackRegisterForms<0xD8, 0xD0>, i); }
void executeFldSti(uint32_t i) { runStackRegisterForm(stackRegisterForms<0xD9, 0xC0>, i); }
void executeFxchSti(uint32_t i) { runStackRegisterForm(stackRegisterForms<0xD9, 0xC8>, i); }
void executeFstpSti(uint32_t i) { runStackRegisterForm(stackRegisterForms<0xDD, 0xD8>, i); }
void executeFaddpSti(uint32_t i) { runStackRegisterForm(stackRegisterForms<0xDE, 0xC0>, i); }
void executeFmulpSti(uint32_t i) { runStackRegisterForm(stackRegisterForms<0xDE, 0xC8>, i); }
void executeFsubpSti(uint32_t i) { runStackRegisterForm(stackRegisterForms<0xDE, 0xE8>, i); }
void executeFdivrpSti(uint32_t i) { runStackRegisterForm(stackRegisterForms<0xDE, 0xF0>, i); }

// ---- Forms without operand -------------------------------------------------------

void executeFchs() { run<0xD9, 0xE0>(); }
void executeFabs() { run<0xD9, 0xE1>(); }
void executeFtst() { run<0xD9, 0xE4>(); }
void executeFxam() { run<0xD9, 0xE5>(); }
void executeFld1() { run<0xD9, 0xE8>(); }
void executeFldl2e() { run<0xD9, 0xEA>(); }
void executeFldpi() { run<0xD9, 0xEB>(); }
void executeFldln2() { run<0xD9, 0xED>(); }
void executeFldz() { run<0xD9, 0xEE>(); }
void executeF2xm1() { run<0xD9, 0xF0>(); }
void executeFyl2x() { run<0xD9, 0xF1>(); }
void executeFpatan() { run<0xD9, 0xF3>(); }
void executeFsqrt() { run<0xD9, 0xFA>(); }
void executeFrndint() { run<0xD9, 0xFC>(); }
void executeFscale() { run<0xD9, 0xFD>(); }
void executeFsin() { run<0xD9, 0xFE>(); }
void executeFcos() { run<0xD9, 0xFF>(); }
void executeFcompp() { run<0xDE, 0xD9>(); }
void executeFnclex() { run<0xDB, 0xE2>(); }

// FNINIT gives the unit its initial word, which masks everything; the
// guest's word follows, so that FNSTCW and a later FLDCW of the saved word
// see the rounding and precision the unit now has.
constexpr uint16_t fninitControlWord = 0x037F;

void executeFninit() {
    run<0xDB, 0xE3>();
    state.fpuControlWord = fninitControlWord;
    unmaskedExceptions = 0;
}

// ---- Loading forms ------------------------------------------------------------------

// FADD m32 and FMUL m32 are the x87 forms that read through the FS segment.
void executeFaddM32(uint8_t modrm) {
    refuseRegisterArguments(modrm);
    float operand = readReal32(decodeModRMAddress(modrm));
    runOnMemory<0xD8, 0>(&operand);
}

void executeFmulM32(uint8_t modrm) {
    refuseRegisterArguments(modrm);
    float operand = readReal32(decodeModRMAddress(modrm));
    runOnMemory<0xD8, 1>(&operand);
}

// Also FCOM ST(i) (D8 D0-D7).
void executeFcomM32(uint8_t modrm) {
    refuseFsForLoad();
    if (isRegisterForm(modrm)) {
        if (!inRow(modrm, 0xD0)) fail("Invalid argument");
        executeFcomSti(modrm - 0xD0u);
        return;
    }
    float operand = readReal32(decodeModRMAddress(modrm));
    runOnMemory<0xD8, 2>(&operand);
}

void executeFildM32(uint8_t modrm) {
    refuseFsForLoad();
    refuseRegisterArguments(modrm);
    auto operand = static_cast<int32_t>(readMemOperand<Val32>(decodeModRMAddress(modrm)).v);
    runOnMemory<0xDB, 0>(&operand);
}

void executeFildM16(uint8_t modrm) {
    refuseFsForLoad();
    refuseRegisterArguments(modrm);
    auto operand = static_cast<int16_t>(readMemOperand<Val16>(decodeModRMAddress(modrm)).v);
    runOnMemory<0xDF, 0>(&operand);
}

void executeFaddM64(uint8_t modrm) {
    refuseFsForLoad();
    refuseRegisterArguments(modrm);
    double operand = readReal64(decodeModRMAddress(modrm));
    runOnMemory<0xDC, 0>(&operand);
}

void executeFmulM64(uint8_t modrm) {
    refuseFsForLoad();
    refuseRegisterArguments(modrm);
    double operand = readReal64(decodeModRMAddress(modrm));
    runOnMemory<0xDC, 1>(&operand);
}

void executeFldM64(uint8_t modrm) {
    refuseFsForLoad();
    refuseRegisterArguments(modrm);
    double operand = readReal64(decodeModRMAddress(modrm));
    runOnMemory<0xDD, 0>(&operand);
}

void executeFldM80(uint8_t modrm) {
    refuseFsForLoad();
    refuseRegisterArguments(modrm);
    Extended operand = readReal80(decodeModRMAddress(modrm));
    runOnMemory<0xDB, 5>(operand.bytes);
}

// ---- Storing forms --------------------------------------------------------------
// They run the host instruction before they decode the address, so a refused
// register form or a bad address comes after the unit has stored (and, for the
// popping forms, popped).

void executeFistM16(uint8_t modrm) {
    int16_t result;
    runOnMemory<0xDF, 2>(&result);
    refuseRegisterArguments(modrm);
    writeMemOperand(decodeModRMAddress(modrm), Val16{static_cast<uint16_t>(result)});
}

void executeFnstswM16(uint8_t modrm) {
    uint16_t result;
    runOnMemory<0xDD, 7>(&result);
    if (isRegisterForm(modrm)) fail("Invalid argument");
    writeMemOperand(decodeModRMAddress(modrm), Val16{result});
}

void executeFistpM64(uint8_t modrm) {
    if (fsPrefix) fail("Storing to fs segment not supported");
    int64_t result;
    runOnMemory<0xDF, 7>(&result);
    refuseRegisterArguments(modrm);
    std::memcpy(hostPointer8(decodeModRMAddress(modrm)), &result, sizeof result);
}

// Also FSTP ST(i) (DD D8-DF).
void executeFstpM64(uint8_t modrm) {
    if (fsPrefix) fail("Argument in fs segment not supported");
    if (isRegisterForm(modrm)) {
        if (!inRow(modrm, 0xD8)) fail("Invalid argument");
        executeFstpSti(modrm - 0xD8u);
        return;
    }
    double result;
    runOnMemory<0xDD, 3>(&result);
    std::memcpy(hostPointer8(decodeModRMAddress(modrm)), &result, sizeof result);
}

void executeFstpM80(uint8_t modrm) {
    if (fsPrefix) fail("Argument in fs segment not supported");
    if (isRegisterForm(modrm)) fail("Unsupported argument");
    Extended result;
    runOnMemory<0xDB, 7>(result.bytes);
    std::memcpy(hostPointer10(decodeModRMAddress(modrm)), result.bytes, sizeof result.bytes);
}

// ---- Control word ----------------------------------------------------------------

void executeFldcwM16(uint8_t modrm) {
    if (isRegisterForm(modrm)) fail("Invalid argument");
    uint16_t word = readMemOperand<Val16>(decodeModRMAddress(modrm)).v;
    state.fpuControlWord = word;
    unmaskedExceptions = static_cast<uint16_t>(~word & exceptionMasks);
    auto hostWord = static_cast<uint16_t>(word | exceptionMasks);
    runOnMemory<0xD9, 5>(&hostWord);
}

// Stores the guest's word as it loaded it; the unit is not consulted.
void executeFnstcwM16(uint8_t modrm) {
    if (isRegisterForm(modrm)) fail("Invalid argument");
    writeMemOperand(decodeModRMAddress(modrm), Val16{state.fpuControlWord});
}

// ---- Dispatch ----------------------------------------------------------------------
// Each escape is one table like the decoder's groups: a row per /reg field of
// the ModRM byte, with the handler of the row's memory form (ModRM below C0)
// and the handler of its eight register forms (from C0 + 8 * /reg), both
// given the ModRM byte. The register forms of a row go to stackRegister<h>
// (h runs ST(i), i the byte's low three bits), to eachByte<forms> (one form
// without operand per byte), to the row's memory-form handler itself, which
// carries them out or refuses them by its own rule, or to unknown.

using ModRMHandler = void (*)(uint8_t modrm);
using Form = void (*)();
using FormRow = std::array<Form, 8>;

struct EscapeRow {
    ModRMHandler memory;
    ModRMHandler registers;
};

using Escape = std::array<EscapeRow, 8>;

constexpr ModRMHandler unknown = unknownSubinstruction;

template <void (*handler)(uint32_t i)> void stackRegister(uint8_t modrm) { handler(modrm & 7u); }

// A null byte is unknown.
template <const FormRow& forms> void eachByte(uint8_t modrm) {
    Form form = forms[modrm & 7u];
    if (form == nullptr) unknownSubinstruction(modrm);
    form();
}

// FLDCW and FNSTCW are only taken with [SIB + disp8] and [EBP + disp8]
// (mod 1, rm 4 or 5: D9 6C, 6D, 7C, 7D); any other address is unknown.
template <ModRMHandler form> void withDisp8Address(uint8_t modrm) {
    if ((modrm & 0xC6u) != 0x44u) unknownSubinstruction(modrm);
    form(modrm);
}

inline void dispatch(const Escape& escape, uint8_t modrm) {
    const EscapeRow& row = escape[regField(modrm)];
    (isRegisterForm(modrm) ? row.registers : row.memory)(modrm);
}

constexpr Escape escapeD8 = {{
    /*/0 C0*/ {executeFaddM32, executeFaddM32},  // register forms refused
    /*/1 C8*/ {executeFmulM32, stackRegister<executeFmulSt0Sti>},
    /*/2 D0*/ {executeFcomM32, executeFcomM32},  // FCOM ST(i)
    /*/3 D8*/ {unknown, unknown},
    /*/4 E0*/ {unknown, unknown},
    /*/5 E8*/ {unknown, unknown},
    /*/6 F0*/ {unknown, unknown},
    /*/7 F8*/ {unknown, unknown},
}};

constexpr FormRow formsD9E0 = {{
    /*E0*/ executeFchs, /*E1*/ executeFabs, /*E2*/ nullptr, /*E3*/ nullptr,
    /*E4*/ executeFtst, /*E5*/ executeFxam, /*E6*/ nullptr, /*E7*/ nullptr,
}};
constexpr FormRow formsD9E8 = {{
    /*E8*/ executeFld1, /*E9*/ nullptr,       /*EA*/ executeFldl2e, /*EB*/ executeFldpi,
    /*EC*/ nullptr,     /*ED*/ executeFldln2, /*EE*/ executeFldz,   /*EF*/ nullptr,
}};
constexpr FormRow formsD9F0 = {{
    /*F0*/ executeF2xm1, /*F1*/ executeFyl2x, /*F2*/ nullptr, /*F3*/ executeFpatan,
    /*F4*/ nullptr,      /*F5*/ nullptr,      /*F6*/ nullptr, /*F7*/ nullptr,
}};
constexpr FormRow formsD9F8 = {{
    /*F8*/ nullptr,        /*F9*/ nullptr,       /*FA*/ executeFsqrt, /*FB*/ nullptr,
    /*FC*/ executeFrndint, /*FD*/ executeFscale, /*FE*/ executeFsin,  /*FF*/ executeFcos,
}};

constexpr Escape escapeD9 = {{
    /*/0 C0*/ {unknown, stackRegister<executeFldSti>},
    /*/1 C8*/ {unknown, stackRegister<executeFxchSti>},
    /*/2 D0*/ {unknown, unknown},
    /*/3 D8*/ {unknown, unknown},
    /*/4 E0*/ {unknown, eachByte<formsD9E0>},
    /*/5 E8*/ {withDisp8Address<executeFldcwM16>, eachByte<formsD9E8>},
    /*/6 F0*/ {unknown, eachByte<formsD9F0>},
    /*/7 F8*/ {withDisp8Address<executeFnstcwM16>, eachByte<formsD9F8>},
}};

constexpr FormRow formsDBE0 = {{
    /*E0*/ nullptr, /*E1*/ nullptr, /*E2*/ executeFnclex, /*E3*/ executeFninit,
    /*E4*/ nullptr, /*E5*/ nullptr, /*E6*/ nullptr,       /*E7*/ nullptr,
}};

constexpr Escape escapeDB = {{
    /*/0 C0*/ {executeFildM32, executeFildM32},  // register forms refused
    /*/1 C8*/ {unknown, unknown},
    /*/2 D0*/ {unknown, unknown},
    /*/3 D8*/ {unknown, unknown},
    /*/4 E0*/ {unknown, eachByte<formsDBE0>},
    /*/5 E8*/ {executeFldM80, executeFldM80},    // register forms refused
    /*/6 F0*/ {unknown, unknown},
    /*/7 F8*/ {executeFstpM80, executeFstpM80},  // register forms refused
}};

constexpr Escape escapeDC = {{
    /*/0 C0*/ {executeFaddM64, executeFaddM64},  // register forms refused
    /*/1 C8*/ {executeFmulM64, executeFmulM64},  // register forms refused
    /*/2 D0*/ {unknown, unknown},
    /*/3 D8*/ {unknown, unknown},
    /*/4 E0*/ {unknown, unknown},
    /*/5 E8*/ {unknown, unknown},
    /*/6 F0*/ {unknown, unknown},
    /*/7 F8*/ {unknown, unknown},
}};

constexpr Escape escapeDD = {{
    /*/0 C0*/ {executeFldM64, executeFldM64},        // register forms refused
    /*/1 C8*/ {unknown, unknown},
    /*/2 D0*/ {unknown, unknown},
    /*/3 D8*/ {executeFstpM64, executeFstpM64},      // FSTP ST(i)
    /*/4 E0*/ {unknown, unknown},
    /*/5 E8*/ {unknown, unknown},
    /*/6 F0*/ {unknown, unknown},
    /*/7 F8*/ {executeFnstswM16, executeFnstswM16},  // register forms refused
}};

constexpr FormRow formsDED8 = {{
    /*D8*/ nullptr, /*D9*/ executeFcompp, /*DA*/ nullptr, /*DB*/ nullptr,
    /*DC*/ nullptr, /*DD*/ nullptr,       /*DE*/ nullptr, /*DF*/ nullptr,
}};

constexpr Escape escapeDE = {{
    /*/0 C0*/ {unknown, stackRegister<executeFaddpSti>},
    /*/1 C8*/ {unknown, stackRegister<executeFmulpSti>},
    /*/2 D0*/ {unknown, unknown},
    /*/3 D8*/ {unknown, eachByte<formsDED8>},
    /*/4 E0*/ {unknown, unknown},
    /*/5 E8*/ {unknown, stackRegister<executeFsubpSti>},
    /*/6 F0*/ {unknown, stackRegister<executeFdivrpSti>},
    /*/7 F8*/ {unknown, unknown},
}};

constexpr Escape escapeDF = {{
    /*/0 C0*/ {executeFildM16, executeFildM16},    // register forms refused
    /*/1 C8*/ {unknown, unknown},
    /*/2 D0*/ {executeFistM16, executeFistM16},    // register forms refused
    /*/3 D8*/ {unknown, unknown},
    /*/4 E0*/ {unknown, unknown},
    /*/5 E8*/ {unknown, unknown},
    /*/6 F0*/ {unknown, unknown},
    /*/7 F8*/ {executeFistpM64, executeFistpM64},  // register forms refused
}};

}  // namespace

void executeFpuD8() { dispatch(escapeD8, fetchByte()); checkUnmaskedExceptions(); }
void executeFpuD9() { dispatch(escapeD9, fetchByte()); checkUnmaskedExceptions(); }
void executeFpuDB() { dispatch(escapeDB, fetchByte()); checkUnmaskedExceptions(); }
void executeFpuDC() { dispatch(escapeDC, fetchByte()); checkUnmaskedExceptions(); }
void executeFpuDD() { dispatch(escapeDD, fetchByte()); checkUnmaskedExceptions(); }
void executeFpuDE() { dispatch(escapeDE, fetchByte()); checkUnmaskedExceptions(); }
void executeFpuDF() { dispatch(escapeDF, fetchByte()); checkUnmaskedExceptions(); }

// FWAIT does nothing: the waiting forms (FSTSW, FSTCW, FINIT, FCLEX) run as
// FWAIT and then their non-waiting twin. An unmasked exception has already
// ended the run at the instruction that raised it, so none is pending here.
void executeWait() {}

void resetX87ForTests() { unmaskedExceptions = 0; }

}  // namespace machine
