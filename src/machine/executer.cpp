// Instruction decoding and dispatch: the prefix loop, the memory-operand
// decoder, the opcode maps and the check that every prefix was accepted.
//
// The whole supported instruction set is visible here: the one-byte map, the
// 0x0F map and the groups. The handlers live in the family files
// (executer_move.cpp, executer_control.cpp, executer_string.cpp,
// executer_arith.cpp, executer_compare.cpp, executer_logic.cpp,
// executer_shift.cpp, executer_muldiv.cpp, executer_x87.cpp).
//
// Prefixes: the loop below sets a flag per prefix byte; a handler accepts a
// prefix by clearing its flag once it has used it, and whatever is still set
// after the handler is refused, in a fixed order. The r/m helpers of
// executer_internal.h pass and clear fsPrefix, and addressSizePrefix for the
// operands that take a 16-bit address; a wrapper or group row with a 16-bit
// form clears operandSizePrefix before it runs that form.
//
// Adding a form: its flag rule as a core in executer_internal.h (or reuse
// one), a handler of a few lines in its family file (operands, core,
// write-back), its row here (one-byte map, 0x0F rows or a group row), rows in
// tests/native/interpreter/ and a row in the differential test's form table.
#include "machine/executer.h"

#include <array>

#include "machine/executer_internal.h"
#include "machine/machineState.h"

namespace machine {

bool fsPrefix = false;
bool addressSizePrefix = false;
bool repPrefix = false;
bool operandSizePrefix = false;
Addr instructionStart{0};
uint8_t opcode = 0;

uint8_t fetchByte() { return fetchCode8().v; }

// ---- Memory operands ----------------------------------------------------------

Addr decodeModRMAddress16(uint8_t modrm) {
    // Only [disp16] exists: mod 0, rm 6.
    if ((modrm & 0xC7u) != 0x06)
        throw app::ProgramException(app::format("Unimplemented R/M 16-bit addressing form 0x%x", modrm));
    return Addr{fetchCode16().v};
}

Addr decodeSIBAddress(uint8_t mod) {
    uint8_t sib = fetchByte();
    uint32_t base = sib & 7u;
    uint32_t index = (sib >> 3) & 7u;
    uint32_t scale = sib >> 6;
    uint32_t address;
    if (base == EBP) {
        if (mod == 0)
            address = fetchCode32().v;
        else if (mod == 1 || mod == 2)
            address = state.ebp.v;
        else
            throw app::ProgramException(app::format("Unimplemented SIB value 0x%x", sib));
    } else {
        address = state.reg[base].v;
    }
    if (index != ESP) address += state.reg[index].v << scale;
    return Addr{address};
}

Addr decodeModRMAddress(uint8_t modrm) {
    if (addressSizePrefix) return decodeModRMAddress16(modrm);
    uint8_t mod = modrm >> 6;
    uint32_t rm = modrm & 7u;
    switch (mod) {
    case 0:
        if (rm == EBP) return Addr{fetchCode32().v};
        if (rm == ESP) return decodeSIBAddress(0);
        return Addr{state.reg[rm].v};
    case 1:
        if (rm == ESP) {
            Addr base = decodeSIBAddress(1);
            return Addr{base.v + app::val8SignExtend32(fetchCode8()).v};
        } else {
            uint32_t disp = app::val8SignExtend32(fetchCode8()).v;
            return Addr{state.reg[rm].v + disp};
        }
    case 2:
        if (rm == ESP) {
            Addr base = decodeSIBAddress(2);
            return Addr{base.v + fetchCode32().v};
        } else {
            uint32_t disp = fetchCode32().v;
            return Addr{state.reg[rm].v + disp};
        }
    default:
        throw app::ProgramException(app::format("Unimplemented R/M addressing form 0x%x", modrm));
    }
}

namespace {

// ---- Misses ---------------------------------------------------------------------

[[noreturn]] void throwUnknownSubinstruction(uint8_t byte) {
    throw app::ProgramException(app::format("Unknown subinstruction 0x%x at address 0x%x", byte,
                                            instructionStart.v));
}

void executeUnknownByte() {
    throw app::ProgramException(app::format("Unknown instruction byte 0x%x at address 0x%x", opcode,
                                            instructionStart.v));
}

// ---- Operand-size wrappers ---------------------------------------------------------
// With 0x66 the wrapper clears the flag and runs the 16-bit form.

void opOrRRm() {
    if (operandSizePrefix) { operandSizePrefix = false; executeOr16(); return; }
    executeOr();
}
void opAndRRm() {
    if (operandSizePrefix) { operandSizePrefix = false; executeAnd16(); return; }
    executeAnd();
}
void opSubEaxImm() {
    if (operandSizePrefix) { operandSizePrefix = false; executeSubAxImm16(); return; }
    executeSubEaxImm32();
}
void opCmpRRm() {
    if (operandSizePrefix) { operandSizePrefix = false; executeCmp16(); return; }
    executeCmp();
}
void opCmpEaxImm() {
    if (operandSizePrefix) { operandSizePrefix = false; executeCmpAxImm16(); return; }
    executeCmpEaxImm32();
}
void opTestRmR() {
    if (operandSizePrefix) { operandSizePrefix = false; executeTest16(); return; }
    executeTest();
}
void opMovRmR() {
    if (operandSizePrefix) { operandSizePrefix = false; executeMovRm16R16(); return; }
    executeMov();
}

// Register-encoded rows: the register is the opcode's low three bits.
void opIncR() {
    if (operandSizePrefix) { operandSizePrefix = false; executeInc16(opcode & 7u); return; }
    executeInc(opcode & 7u);
}
void opDecR() {
    if (operandSizePrefix) { operandSizePrefix = false; executeDec16(opcode & 7u); return; }
    executeDec(opcode & 7u);
}
void opXchgEaxR() {
    if (operandSizePrefix) { operandSizePrefix = false; executeXchg16(opcode & 7u); return; }
    executeXchg(opcode & 7u);
}
void opMovRImm() {
    if (operandSizePrefix) { operandSizePrefix = false; executeMovR16Imm16(opcode & 7u); return; }
    executeMovRImm32(opcode & 7u);
}
void opPushR() { executePush(opcode & 7u); }
void opPopR() { executePop(opcode & 7u); }
void opMovR8Imm8() { executeMovR8Imm8(opcode & 7u); }

// ---- Groups ------------------------------------------------------------------------
// One row per reg field. `normal` runs without 0x66 (and with it, when there
// is no 16-bit form: the prefix is then refused after the instruction);
// `with66` is the 16-bit form. A row with only `with66` requires the prefix;
// a row with neither is a miss.

using GroupHandler = void (*)(uint8_t modrm);

struct GroupRow {
    GroupHandler normal;
    GroupHandler with66;
};

using Group = std::array<GroupRow, 8>;

void dispatchGroup(const Group& group) {
    uint8_t modrm = fetchByte();
    const GroupRow& row = group[regField(modrm)];
    if (row.with66 != nullptr && operandSizePrefix) {
        operandSizePrefix = false;
        row.with66(modrm);
    } else if (row.normal != nullptr) {
        row.normal(modrm);
    } else if (row.with66 != nullptr) {
        throw app::ProgramException(
            app::format("Instruction not supported at address 0x%x", instructionStart.v));
    } else {
        throwUnknownSubinstruction(modrm);
    }
}

constexpr Group group80 = {{
    /*/0*/ {executeAddRm8Imm8, nullptr},
    /*/1*/ {executeOrRm8Imm8, nullptr},
    /*/2*/ {nullptr, nullptr},
    /*/3*/ {nullptr, nullptr},
    /*/4*/ {executeAndRm8Imm8, nullptr},
    /*/5*/ {nullptr, nullptr},
    /*/6*/ {executeXorRm8Imm8, nullptr},
    /*/7*/ {executeCmpRm8Imm8, nullptr},
}};

constexpr Group group81 = {{
    /*/0*/ {executeAddRmImm32, nullptr},
    /*/1*/ {executeOrRmImm32, nullptr},
    /*/2*/ {nullptr, nullptr},
    /*/3*/ {nullptr, nullptr},
    /*/4*/ {executeAndRmImm32, executeAndRm16Imm16},
    /*/5*/ {executeSubRmImm32, executeSubRm16Imm16},
    /*/6*/ {nullptr, nullptr},
    /*/7*/ {executeCmpRmImm32, nullptr},
}};

constexpr Group group83 = {{
    /*/0*/ {executeAddRmImm8, nullptr},
    /*/1*/ {executeOrRmImm8, executeOrRm16Imm8},
    /*/2*/ {executeAdc, nullptr},
    /*/3*/ {nullptr, nullptr},
    /*/4*/ {executeAndRmImm8, nullptr},
    /*/5*/ {executeSubRmImm8, nullptr},
    /*/6*/ {nullptr, nullptr},
    /*/7*/ {executeCmpRmImm8, executeCmpRm16Imm8},
}};

constexpr Group groupC1 = {{
    /*/0*/ {nullptr, nullptr},
    /*/1*/ {nullptr, nullptr},
    /*/2*/ {nullptr, nullptr},
    /*/3*/ {nullptr, nullptr},
    /*/4*/ {executeShl, nullptr},
    /*/5*/ {executeShr, nullptr},
    /*/6*/ {nullptr, nullptr},
    /*/7*/ {executeSar, nullptr},
}};

constexpr Group groupC6 = {{
    /*/0*/ {executeMovRm8Imm8, nullptr},
    /*/1*/ {nullptr, nullptr},
    /*/2*/ {nullptr, nullptr},
    /*/3*/ {nullptr, nullptr},
    /*/4*/ {nullptr, nullptr},
    /*/5*/ {nullptr, nullptr},
    /*/6*/ {nullptr, nullptr},
    /*/7*/ {nullptr, nullptr},
}};

constexpr Group groupC7 = {{
    /*/0*/ {executeMovRmImm32, executeMovRm16Imm16},
    /*/1*/ {nullptr, nullptr},
    /*/2*/ {nullptr, nullptr},
    /*/3*/ {nullptr, nullptr},
    /*/4*/ {nullptr, nullptr},
    /*/5*/ {nullptr, nullptr},
    /*/6*/ {nullptr, nullptr},
    /*/7*/ {nullptr, nullptr},
}};

constexpr Group groupD1 = {{
    /*/0*/ {nullptr, nullptr},
    /*/1*/ {nullptr, nullptr},
    /*/2*/ {nullptr, executeRcl},
    /*/3*/ {nullptr, nullptr},
    /*/4*/ {nullptr, executeShl16By1},
    /*/5*/ {executeShrBy1, executeShr16By1},
    /*/6*/ {nullptr, nullptr},
    /*/7*/ {executeSarBy1, nullptr},
}};

constexpr Group groupD3 = {{
    /*/0*/ {nullptr, nullptr},
    /*/1*/ {nullptr, executeRor},
    /*/2*/ {nullptr, nullptr},
    /*/3*/ {nullptr, nullptr},
    /*/4*/ {nullptr, executeShl16ByCl},
    /*/5*/ {nullptr, nullptr},
    /*/6*/ {nullptr, nullptr},
    /*/7*/ {nullptr, executeSar16ByCl},
}};

constexpr Group groupF6 = {{
    /*/0*/ {executeTestRm8Imm8, nullptr},
    /*/1*/ {nullptr, nullptr},
    /*/2*/ {nullptr, nullptr},
    /*/3*/ {nullptr, nullptr},
    /*/4*/ {nullptr, nullptr},
    /*/5*/ {nullptr, nullptr},
    /*/6*/ {nullptr, nullptr},
    /*/7*/ {nullptr, nullptr},
}};

constexpr Group groupF7 = {{
    /*/0*/ {executeTestRmImm32, nullptr},
    /*/1*/ {nullptr, nullptr},
    /*/2*/ {executeNot, nullptr},
    /*/3*/ {executeNeg, nullptr},
    /*/4*/ {nullptr, nullptr},
    /*/5*/ {executeImul, nullptr},
    /*/6*/ {executeDiv, nullptr},
    /*/7*/ {executeIdiv, nullptr},
}};

constexpr Group groupFE = {{
    /*/0*/ {nullptr, nullptr},
    /*/1*/ {executeDecRm8, nullptr},
    /*/2*/ {nullptr, nullptr},
    /*/3*/ {nullptr, nullptr},
    /*/4*/ {nullptr, nullptr},
    /*/5*/ {nullptr, nullptr},
    /*/6*/ {nullptr, nullptr},
    /*/7*/ {nullptr, nullptr},
}};

constexpr Group groupFF = {{
    /*/0*/ {executeIncRm, nullptr},
    /*/1*/ {executeDecRm, nullptr},
    /*/2*/ {executeCallRm, nullptr},
    /*/3*/ {nullptr, nullptr},
    /*/4*/ {executeJmpRm, nullptr},
    /*/5*/ {nullptr, nullptr},
    /*/6*/ {executePushRm, nullptr},
    /*/7*/ {nullptr, nullptr},
}};

}  // namespace

void executeGroup80() { dispatchGroup(group80); }
void executeGroup81() { dispatchGroup(group81); }
void executeGroup83() { dispatchGroup(group83); }
void executeGroupC1() { dispatchGroup(groupC1); }
void executeGroupC6() { dispatchGroup(groupC6); }
void executeGroupC7() { dispatchGroup(groupC7); }
void executeGroupD1() { dispatchGroup(groupD1); }
void executeGroupD3() { dispatchGroup(groupD3); }
void executeGroupF6() { dispatchGroup(groupF6); }
void executeGroupF7() { dispatchGroup(groupF7); }
void executeGroupFE() { dispatchGroup(groupFE); }
void executeGroupFF() { dispatchGroup(groupFF); }

// ---- The 0x0F map ----------------------------------------------------------------

namespace {

using Handler = void (*)();

struct TwoByteRow {
    uint8_t byte;
    Handler handler;
};

constexpr TwoByteRow twoByteRows[] = {
    {0x83, executeJaeRel32},
    {0x84, executeJeRel32},
    {0x85, executeJneRel32},
    {0x86, executeJbeRel32},
    {0x8C, executeJlRel32},
    {0x8D, executeJgeRel32},
    {0x8E, executeJleRel32},
    {0x8F, executeJgRel32},
    {0x94, executeSete},
    {0x95, executeSetne},
    {0x9F, executeSetg},
    {0xAF, executeImulReg},
    {0xB7, executeMovzx},
    {0xBE, executeMovsx},
};

// Indexed by the second byte; a null entry is a miss.
constexpr std::array<Handler, 256> twoByteMap = [] {
    std::array<Handler, 256> map{};
    for (const TwoByteRow& row : twoByteRows) map[row.byte] = row.handler;
    return map;
}();

}  // namespace

void executeTwoByteOpcode() {
    uint8_t second = fetchByte();
    Handler handler = twoByteMap[second];
    if (handler == nullptr) throwUnknownSubinstruction(second);
    handler();
}

// ---- The one-byte map ----------------------------------------------------------------

namespace {

constexpr Handler oneByteMap[256] = {
    /*00*/ executeUnknownByte,
    /*01*/ executeAdd,
    /*02*/ executeUnknownByte,
    /*03*/ executeAddRRm,
    /*04*/ executeUnknownByte,
    /*05*/ executeAddEaxImm32,
    /*06*/ executeUnknownByte,
    /*07*/ executeUnknownByte,
    /*08*/ executeUnknownByte,
    /*09*/ executeUnknownByte,
    /*0A*/ executeOr8,
    /*0B*/ opOrRRm,
    /*0C*/ executeUnknownByte,
    /*0D*/ executeOrEaxImm32,
    /*0E*/ executeUnknownByte,
    /*0F*/ executeTwoByteOpcode,
    /*10*/ executeUnknownByte,
    /*11*/ executeUnknownByte,
    /*12*/ executeUnknownByte,
    /*13*/ executeUnknownByte,
    /*14*/ executeUnknownByte,
    /*15*/ executeUnknownByte,
    /*16*/ executeUnknownByte,
    /*17*/ executeUnknownByte,
    /*18*/ executeUnknownByte,
    /*19*/ executeUnknownByte,
    /*1A*/ executeUnknownByte,
    /*1B*/ executeSbb,
    /*1C*/ executeUnknownByte,
    /*1D*/ executeUnknownByte,
    /*1E*/ executeUnknownByte,
    /*1F*/ executeUnknownByte,
    /*20*/ executeUnknownByte,
    /*21*/ executeUnknownByte,
    /*22*/ executeUnknownByte,
    /*23*/ opAndRRm,
    /*24*/ executeAndAlImm8,
    /*25*/ executeAndEaxImm32,
    /*26*/ executeUnknownByte,
    /*27*/ executeUnknownByte,
    /*28*/ executeUnknownByte,
    /*29*/ executeSub,
    /*2A*/ executeUnknownByte,
    /*2B*/ executeSubRRm,
    /*2C*/ executeUnknownByte,
    /*2D*/ opSubEaxImm,
    /*2E*/ executeUnknownByte,
    /*2F*/ executeUnknownByte,
    /*30*/ executeUnknownByte,
    /*31*/ executeUnknownByte,
    /*32*/ executeXor8,
    /*33*/ executeXor,
    /*34*/ executeUnknownByte,
    /*35*/ executeUnknownByte,
    /*36*/ executeUnknownByte,
    /*37*/ executeUnknownByte,
    /*38*/ executeUnknownByte,
    /*39*/ executeUnknownByte,
    /*3A*/ executeCmp8,
    /*3B*/ opCmpRRm,
    /*3C*/ executeCmpAlImm8,
    /*3D*/ opCmpEaxImm,
    /*3E*/ executeUnknownByte,
    /*3F*/ executeUnknownByte,
    /*40*/ opIncR,
    /*41*/ opIncR,
    /*42*/ opIncR,
    /*43*/ opIncR,
    /*44*/ opIncR,
    /*45*/ opIncR,
    /*46*/ opIncR,
    /*47*/ opIncR,
    /*48*/ opDecR,
    /*49*/ opDecR,
    /*4A*/ opDecR,
    /*4B*/ opDecR,
    /*4C*/ opDecR,
    /*4D*/ opDecR,
    /*4E*/ opDecR,
    /*4F*/ opDecR,
    /*50*/ opPushR,
    /*51*/ opPushR,
    /*52*/ opPushR,
    /*53*/ opPushR,
    /*54*/ opPushR,
    /*55*/ opPushR,
    /*56*/ opPushR,
    /*57*/ opPushR,
    /*58*/ opPopR,
    /*59*/ opPopR,
    /*5A*/ opPopR,
    /*5B*/ opPopR,
    /*5C*/ opPopR,
    /*5D*/ opPopR,
    /*5E*/ opPopR,
    /*5F*/ opPopR,
    /*60*/ executeUnknownByte,
    /*61*/ executeUnknownByte,
    /*62*/ executeUnknownByte,
    /*63*/ executeUnknownByte,
    /*64*/ executeUnknownByte,  // FS prefix: taken by the prefix loop
    /*65*/ executeUnknownByte,
    /*66*/ executeUnknownByte,  // operand-size prefix: taken by the prefix loop
    /*67*/ executeUnknownByte,  // address-size prefix: taken by the prefix loop
    /*68*/ executePushImm32,
    /*69*/ executeUnknownByte,
    /*6A*/ executePushImm8,
    /*6B*/ executeImulImm8,
    /*6C*/ executeUnknownByte,
    /*6D*/ executeUnknownByte,
    /*6E*/ executeUnknownByte,
    /*6F*/ executeUnknownByte,
    /*70*/ executeUnknownByte,
    /*71*/ executeUnknownByte,
    /*72*/ executeJbRel8,
    /*73*/ executeJaeRel8,
    /*74*/ executeJeRel8,
    /*75*/ executeJneRel8,
    /*76*/ executeJbeRel8,
    /*77*/ executeJaRel8,
    /*78*/ executeUnknownByte,
    /*79*/ executeJnsRel8,
    /*7A*/ executeUnknownByte,
    /*7B*/ executeUnknownByte,
    /*7C*/ executeJlRel8,
    /*7D*/ executeJgeRel8,
    /*7E*/ executeJleRel8,
    /*7F*/ executeJgRel8,
    /*80*/ executeGroup80,
    /*81*/ executeGroup81,
    /*82*/ executeUnknownByte,
    /*83*/ executeGroup83,
    /*84*/ executeTest8,
    /*85*/ opTestRmR,
    /*86*/ executeUnknownByte,
    /*87*/ executeUnknownByte,
    /*88*/ executeMovRm8R8,
    /*89*/ opMovRmR,
    /*8A*/ executeMovR8Rm8,
    /*8B*/ executeMovRRm,
    /*8C*/ executeUnknownByte,
    /*8D*/ executeLea,
    /*8E*/ executeUnknownByte,
    /*8F*/ executeUnknownByte,
    /*90*/ opXchgEaxR,
    /*91*/ opXchgEaxR,
    /*92*/ opXchgEaxR,
    /*93*/ opXchgEaxR,
    /*94*/ opXchgEaxR,
    /*95*/ opXchgEaxR,
    /*96*/ opXchgEaxR,
    /*97*/ opXchgEaxR,
    /*98*/ executeUnknownByte,
    /*99*/ executeCdq,
    /*9A*/ executeUnknownByte,
    /*9B*/ executeWait,
    /*9C*/ executeUnknownByte,
    /*9D*/ executeUnknownByte,
    /*9E*/ executeSahf,
    /*9F*/ executeUnknownByte,
    /*A0*/ executeUnknownByte,
    /*A1*/ executeMovEaxMoffs,
    /*A2*/ executeUnknownByte,
    /*A3*/ executeMovMoffsEax,
    /*A4*/ executeMovsb,
    /*A5*/ executeMovsd,
    /*A6*/ executeUnknownByte,
    /*A7*/ executeUnknownByte,
    /*A8*/ executeTestAlImm8,
    /*A9*/ executeUnknownByte,
    /*AA*/ executeUnknownByte,
    /*AB*/ executeUnknownByte,
    /*AC*/ executeUnknownByte,
    /*AD*/ executeUnknownByte,
    /*AE*/ executeUnknownByte,
    /*AF*/ executeUnknownByte,
    /*B0*/ opMovR8Imm8,
    /*B1*/ opMovR8Imm8,
    /*B2*/ opMovR8Imm8,
    /*B3*/ opMovR8Imm8,
    /*B4*/ opMovR8Imm8,
    /*B5*/ opMovR8Imm8,
    /*B6*/ opMovR8Imm8,
    /*B7*/ opMovR8Imm8,
    /*B8*/ opMovRImm,
    /*B9*/ opMovRImm,
    /*BA*/ opMovRImm,
    /*BB*/ opMovRImm,
    /*BC*/ opMovRImm,
    /*BD*/ opMovRImm,
    /*BE*/ opMovRImm,
    /*BF*/ opMovRImm,
    /*C0*/ executeUnknownByte,
    /*C1*/ executeGroupC1,
    /*C2*/ executeRetImm16,
    /*C3*/ executeRet,
    /*C4*/ executeUnknownByte,
    /*C5*/ executeUnknownByte,
    /*C6*/ executeGroupC6,
    /*C7*/ executeGroupC7,
    /*C8*/ executeUnknownByte,
    /*C9*/ executeUnknownByte,
    /*CA*/ executeUnknownByte,
    /*CB*/ executeUnknownByte,
    /*CC*/ executeUnknownByte,
    /*CD*/ executeUnknownByte,
    /*CE*/ executeUnknownByte,
    /*CF*/ executeUnknownByte,
    /*D0*/ executeUnknownByte,
    /*D1*/ executeGroupD1,
    /*D2*/ executeUnknownByte,
    /*D3*/ executeGroupD3,
    /*D4*/ executeUnknownByte,
    /*D5*/ executeUnknownByte,
    /*D6*/ executeUnknownByte,
    /*D7*/ executeUnknownByte,
    /*D8*/ executeFpuD8,
    /*D9*/ executeFpuD9,
    /*DA*/ executeUnknownByte,
    /*DB*/ executeFpuDB,
    /*DC*/ executeFpuDC,
    /*DD*/ executeFpuDD,
    /*DE*/ executeFpuDE,
    /*DF*/ executeFpuDF,
    /*E0*/ executeUnknownByte,
    /*E1*/ executeUnknownByte,
    /*E2*/ executeUnknownByte,
    /*E3*/ executeJecxz,
    /*E4*/ executeUnknownByte,
    /*E5*/ executeUnknownByte,
    /*E6*/ executeUnknownByte,
    /*E7*/ executeUnknownByte,
    /*E8*/ executeCall,
    /*E9*/ executeJmp,
    /*EA*/ executeUnknownByte,
    /*EB*/ executeJmpRel8,
    /*EC*/ executeUnknownByte,
    /*ED*/ executeUnknownByte,
    /*EE*/ executeUnknownByte,
    /*EF*/ executeUnknownByte,
    /*F0*/ executeUnknownByte,
    /*F1*/ executeUnknownByte,
    /*F2*/ executeRepnzScasb,
    /*F3*/ executeUnknownByte,  // repeat prefix: taken by the prefix loop
    /*F4*/ executeUnknownByte,
    /*F5*/ executeUnknownByte,
    /*F6*/ executeGroupF6,
    /*F7*/ executeGroupF7,
    /*F8*/ executeUnknownByte,
    /*F9*/ executeUnknownByte,
    /*FA*/ executeUnknownByte,
    /*FB*/ executeUnknownByte,
    /*FC*/ executeCld,
    /*FD*/ executeUnknownByte,
    /*FE*/ executeGroupFE,
    /*FF*/ executeGroupFF,
};

// A prefix that the instruction did not accept, in a fixed order.
[[noreturn]] void throwRefusedPrefix() {
    const char* message;
    if (addressSizePrefix)
        message = "Address size override prefix (0x67) used with instruction that doesn't support it at address 0x%x";
    else if (fsPrefix)
        message = "fs segment selector prefix (0x64) used with instruction that doesn't support it at address 0x%x";
    else if (repPrefix)
        message = "Repeat override prefix (0xf3) used with instruction that doesn't support it at address 0x%x";
    else
        message = "Operand size prefix (0x66) used with instruction that doesn't support it at address 0x%x";
    throw app::ProgramException(app::format(message, instructionStart.v));
}

// The flag each prefix byte sets; null for every other byte.
constexpr std::array<bool*, 256> prefixFlags = [] {
    std::array<bool*, 256> flags{};
    flags[0x64] = &fsPrefix;
    flags[0x66] = &operandSizePrefix;
    flags[0x67] = &addressSizePrefix;
    flags[0xF3] = &repPrefix;
    return flags;
}();

}  // namespace

// Prefixes come in any order and may repeat; a repeated one sets its flag
// again. No flag is cleared here: a step that ends normally leaves them clear.
void executeInstruction() {
    instructionStart = state.eip;
    opcode = fetchByte();
    while (bool* flag = prefixFlags[opcode]) {
        *flag = true;
        opcode = fetchByte();
    }
    oneByteMap[opcode]();
    if (addressSizePrefix | fsPrefix | repPrefix | operandSizePrefix) throwRefusedPrefix();
}

void resetDecoderForTests() {
    fsPrefix = addressSizePrefix = repPrefix = operandSizePrefix = false;
    instructionStart = Addr{0};
    opcode = 0;
}

}  // namespace machine
