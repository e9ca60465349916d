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

// Ends the run when the last instruction raised an exception that the guest
// has unmasked; costs nothing while the guest's word masks all of them.
inline void checkUnmaskedExceptions() {
    if (unmaskedExceptions == 0) return;
    if ((x87host::statusWord() & unmaskedExceptions) != 0)
        throw app::ProgramException(
            app::format("Floating-point exception at address 0x%x", instructionStart.v));
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

// FNINIT gives the unit its initial word 0x037F, which masks everything;
// fpuControlWord keeps what the guest last loaded.
void executeFninit() {
    run<0xDB, 0xE3>();
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

void dispatchD8(uint8_t modrm) {
    if (!isRegisterForm(modrm)) {
        switch (regField(modrm)) {
        case 0: return executeFaddM32(modrm);
        case 1: return executeFmulM32(modrm);
        case 2: return executeFcomM32(modrm);
        default: unknownSubinstruction(modrm);
        }
    }
    if (inRow(modrm, 0xC0)) return executeFaddM32(modrm);
    if (inRow(modrm, 0xC8)) return executeFmulSt0Sti(modrm - 0xC8u);
    if (inRow(modrm, 0xD0)) return executeFcomM32(modrm);
    unknownSubinstruction(modrm);
}

void dispatchD9(uint8_t modrm) {
    if (inRow(modrm, 0xC0)) return executeFldSti(modrm - 0xC0u);
    if (inRow(modrm, 0xC8)) return executeFxchSti(modrm - 0xC8u);
    switch (modrm) {
    case 0xE0: return executeFchs();
    case 0xE1: return executeFabs();
    case 0xE4: return executeFtst();
    case 0xE5: return executeFxam();
    case 0xE8: return executeFld1();
    case 0xEA: return executeFldl2e();
    case 0xEB: return executeFldpi();
    case 0xED: return executeFldln2();
    case 0xEE: return executeFldz();
    case 0xF0: return executeF2xm1();
    case 0xF1: return executeFyl2x();
    case 0xF3: return executeFpatan();
    case 0xFA: return executeFsqrt();
    case 0xFC: return executeFrndint();
    case 0xFD: return executeFscale();
    case 0xFE: return executeFsin();
    case 0xFF: return executeFcos();
    // Only [SIB + disp8] and [EBP + disp8] carry a control word.
    case 0x6C: case 0x6D: return executeFldcwM16(modrm);
    case 0x7C: case 0x7D: return executeFnstcwM16(modrm);
    default: unknownSubinstruction(modrm);
    }
}

void dispatchDB(uint8_t modrm) {
    if (!isRegisterForm(modrm)) {
        switch (regField(modrm)) {
        case 0: return executeFildM32(modrm);
        case 5: return executeFldM80(modrm);
        case 7: return executeFstpM80(modrm);
        default: unknownSubinstruction(modrm);
        }
    }
    if (modrm == 0xE2) return executeFnclex();
    if (modrm == 0xE3) return executeFninit();
    if (inRow(modrm, 0xC0)) return executeFildM32(modrm);
    if (inRow(modrm, 0xE8)) return executeFldM80(modrm);
    if (inRow(modrm, 0xF8)) return executeFstpM80(modrm);
    unknownSubinstruction(modrm);
}

void dispatchDC(uint8_t modrm) {
    if (!isRegisterForm(modrm)) {
        switch (regField(modrm)) {
        case 0: return executeFaddM64(modrm);
        case 1: return executeFmulM64(modrm);
        default: unknownSubinstruction(modrm);
        }
    }
    if (inRow(modrm, 0xC0)) return executeFaddM64(modrm);
    if (inRow(modrm, 0xC8)) return executeFmulM64(modrm);
    unknownSubinstruction(modrm);
}

void dispatchDD(uint8_t modrm) {
    if (!isRegisterForm(modrm)) {
        switch (regField(modrm)) {
        case 0: return executeFldM64(modrm);
        case 3: return executeFstpM64(modrm);
        case 7: return executeFnstswM16(modrm);
        default: unknownSubinstruction(modrm);
        }
    }
    if (inRow(modrm, 0xC0)) return executeFldM64(modrm);
    if (inRow(modrm, 0xD8)) return executeFstpM64(modrm);
    if (inRow(modrm, 0xF8)) return executeFnstswM16(modrm);
    unknownSubinstruction(modrm);
}

void dispatchDE(uint8_t modrm) {
    if (inRow(modrm, 0xC0)) return executeFaddpSti(modrm - 0xC0u);
    if (inRow(modrm, 0xC8)) return executeFmulpSti(modrm - 0xC8u);
    if (modrm == 0xD9) return executeFcompp();
    if (inRow(modrm, 0xE8)) return executeFsubpSti(modrm - 0xE8u);
    if (inRow(modrm, 0xF0)) return executeFdivrpSti(modrm - 0xF0u);
    unknownSubinstruction(modrm);
}

void dispatchDF(uint8_t modrm) {
    if (!isRegisterForm(modrm)) {
        switch (regField(modrm)) {
        case 0: return executeFildM16(modrm);
        case 2: return executeFistM16(modrm);
        case 7: return executeFistpM64(modrm);
        default: unknownSubinstruction(modrm);
        }
    }
    if (inRow(modrm, 0xC0)) return executeFildM16(modrm);
    if (inRow(modrm, 0xD0)) return executeFistM16(modrm);
    if (inRow(modrm, 0xF8)) return executeFistpM64(modrm);
    unknownSubinstruction(modrm);
}

}  // namespace

void executeFpuD8() { dispatchD8(fetchByte()); checkUnmaskedExceptions(); }
void executeFpuD9() { dispatchD9(fetchByte()); checkUnmaskedExceptions(); }
void executeFpuDB() { dispatchDB(fetchByte()); checkUnmaskedExceptions(); }
void executeFpuDC() { dispatchDC(fetchByte()); checkUnmaskedExceptions(); }
void executeFpuDD() { dispatchDD(fetchByte()); checkUnmaskedExceptions(); }
void executeFpuDE() { dispatchDE(fetchByte()); checkUnmaskedExceptions(); }
void executeFpuDF() { dispatchDF(fetchByte()); checkUnmaskedExceptions(); }

// FWAIT does nothing: the waiting forms (FSTSW, FSTCW, FINIT, FCLEX) run as
// FWAIT and then their non-waiting twin. An unmasked exception has already
// ended the run at the instruction that raised it, so none is pending here.
void executeWait() {}

void resetX87ForTests() { unmaskedExceptions = 0; }

}  // namespace machine
