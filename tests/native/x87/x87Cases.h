// The x87 differential: one case is a short run of guest instruction bytes
// (FNINIT, FLDCW of the case's control word, FLD m80 of the stack values, then
// the form under test) over one data block. The same records run through the
// interpreter and through the native reference, which executes the bytes on
// the processor itself; the results must agree bit for bit.
//
// Record layouts are shared with x87_reference.asm (little-endian, fixed size).
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "guestLayout.h"

namespace x87diff {

constexpr uint32_t stackAddress = guestLayout::stackStart;
constexpr uint32_t codeAddress = guestLayout::codeStart;
constexpr uint32_t dataAddress = guestLayout::dataStart;
constexpr uint32_t dataBytes = 256;  // the part of the data block a case fills and compares

// Data block layout. EBP points at its middle so that every field is
// [EBP + disp8].
constexpr uint32_t ebpValue = dataAddress + 0x80;
constexpr uint32_t controlWordOffset = 0x00;
constexpr uint32_t stackValuesOffset = 0x10;  // eight 10-byte values, ST(0) first
constexpr uint32_t operandOffset = 0x80;      // [EBP + 0]: the memory operand
constexpr uint32_t targetOffset = 0xA0;       // [EBP + 0x20]: where stores go
constexpr uint32_t espValue = stackAddress + 0xF00;

struct CaseRecord {
    uint32_t codeLength;
    uint32_t steps;  // instructions in code
    uint32_t regs[8];
    uint8_t reserved[24];
    uint8_t code[192];
    uint8_t data[dataBytes];
};
static_assert(sizeof(CaseRecord) == 512);

struct ResultRecord {
    uint8_t fpu[108];  // FNSAVE image
    uint32_t outcome;  // interpreter only: an Outcome
    uint8_t reserved[16];
    uint8_t data[dataBytes];
};
static_assert(sizeof(ResultRecord) == 384);

enum Outcome : uint32_t { ran = 0, floatingPointException = 1, otherError = 2 };

struct Case {
    std::string label;  // the form, its operands and the control word
    CaseRecord record;
};

// 80-bit extended value: sign and biased exponent, then the 64-bit
// significand with its explicit integer bit.
struct Extended {
    uint16_t signExponent;
    uint64_t significand;
};

// The families of forms, each a list of cases over the operand and mode
// matrices.
std::vector<Case> stackUnaryCases();       // ST(0) forms, stores of ST(0)
std::vector<Case> stackBinaryCases();      // ST(0) with ST(1), the popping forms
std::vector<Case> registerIndexCases();    // ST(i) rows, i = 0..7, full and short stacks
std::vector<Case> constantCases();         // FLD1 .. FLDZ, also onto a full stack
std::vector<Case> memoryOperandCases();    // m16, m32, m64, m80 loads and arithmetic
std::vector<Case> controlAndStatusCases(); // FLDCW, FNSTCW, FNSTSW, FNCLEX, FNINIT, FWAIT
std::vector<Case> unmaskedCases();         // control words that unmask exceptions

struct Family {
    const char* name;
    std::vector<Case> (*cases)();
};
const std::vector<Family>& families();
// Names a family in test names and messages.
inline void PrintTo(const Family& family, std::ostream* out) { *out << family.name; }

// Runs each case through the interpreter (executeInstruction) and captures
// the unit and the data block. message receives the first unexpected error.
std::vector<ResultRecord> runInterpreter(const std::vector<Case>& cases, std::string& message);

// "" when the interpreter's result matches the native one, else what differs.
std::string compare(const Case& c, const ResultRecord& native, const ResultRecord& interpreted);

// Every mismatch of a family, at most maxReported described, and the count.
struct Comparison {
    uint32_t mismatches = 0;
    std::string report;
    // Cases where the processor, with the underflow exception unmasked,
    // flags an underflow whose tiny result is exact: the host unit runs with
    // every exception masked and then flags none, so the run goes on with
    // the result the masked unit gives.
    uint32_t toleratedExactUnderflows = 0;
    std::string toleratedReport;
};
Comparison compareAll(const std::vector<Case>& cases, const std::vector<ResultRecord>& native,
                      const std::vector<ResultRecord>& interpreted, uint32_t maxReported = 20);

// Raw record files, as the reference reads and writes them.
bool writeCases(const std::string& path, const std::vector<Case>& cases);
bool readResults(const std::string& path, size_t count, std::vector<ResultRecord>& results);

}  // namespace x87diff
