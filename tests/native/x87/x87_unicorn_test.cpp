// A second opinion on the x87 forms: Unicorn runs the cases' bytes as real
// 32-bit code (the native reference runs them in 64-bit mode). Its status
// word lacks C1 and the exception flags, so only C0, C2, C3 and TOP (mask
// 0x7D00), the non-empty registers and the data block are compared, and only
// for what it models (isModelledByUnicorn).
#include <gtest/gtest.h>
#include <unicorn/unicorn.h>

#include <cstring>
#include <string>

#include "x87Cases.h"

namespace {

using x87diff::Case;
using x87diff::Family;
using x87diff::ResultRecord;

constexpr uint16_t comparedStatusBits = 0x7D00;

bool labelHas(const Case& c, const char* text) { return c.label.find(text) != std::string::npos; }

// What Unicorn models as the processor does. Left to the native reference:
// - the transcendental and rounding forms, whose last bits differ;
// - invalid operations (stack faults, signalling NaNs), which get no masked
//   response, and operands in the encodings the unit refuses;
// - the constants under a directed rounding, which Unicorn does not round;
// - stored status words, which lack C1 and the exception flags.
bool isModelledByUnicorn(const Case& c, const ResultRecord& interpreted) {
    for (const char* form : {"F2XM1", "FYL2X", "FPATAN", "FSIN", "FCOS", "FSCALE", "FSQRT", "FRNDINT"})
        if (labelHas(c, form)) return false;
    uint16_t status;
    std::memcpy(&status, interpreted.fpu + 4, 2);
    constexpr uint16_t invalidOperation = 0x0001;
    if ((status & invalidOperation) != 0) return false;
    if (labelHas(c, "unnormal") || labelHas(c, "pseudo")) return false;
    uint16_t controlWord;
    std::memcpy(&controlWord, c.record.data + x87diff::controlWordOffset, 2);
    bool directedRounding = (controlWord & 0x0C00) != 0;
    for (const char* constant : {"FLDL2E", "FLDPI", "FLDLN2"})
        if (labelHas(c, constant) && directedRounding) return false;
    return !labelHas(c, "FNSTSW");
}

struct Emulator {
    uc_engine* uc = nullptr;
    Emulator() {
        if (uc_open(UC_ARCH_X86, UC_MODE_32, &uc) != UC_ERR_OK) return;
        uc_mem_map(uc, x87diff::stackAddress, 0x10000, UC_PROT_ALL);
        uc_mem_map(uc, x87diff::codeAddress, 0x1000, UC_PROT_ALL);
        uc_mem_map(uc, x87diff::dataAddress, 0x1000, UC_PROT_ALL);
    }
    ~Emulator() {
        if (uc != nullptr) uc_close(uc);
    }
    Emulator(const Emulator&) = delete;
    Emulator& operator=(const Emulator&) = delete;
};

// "" when Unicorn agrees with the interpreter's result on what it models.
std::string compareWithUnicorn(uc_engine* uc, const Case& c, const ResultRecord& interpreted) {
    const x87diff::CaseRecord& r = c.record;
    uc_mem_write(uc, x87diff::codeAddress, r.code, r.codeLength);
    uc_mem_write(uc, x87diff::dataAddress, r.data, x87diff::dataBytes);
    const int regs[8] = {UC_X86_REG_EAX, UC_X86_REG_ECX, UC_X86_REG_EDX, UC_X86_REG_EBX,
                         UC_X86_REG_ESP, UC_X86_REG_EBP, UC_X86_REG_ESI, UC_X86_REG_EDI};
    for (int i = 0; i < 8; ++i) {
        uint32_t v = r.regs[i];
        uc_reg_write(uc, regs[i], &v);
    }
    uc_err err = uc_emu_start(uc, x87diff::codeAddress, x87diff::codeAddress + r.codeLength, 0, 0);
    if (err != UC_ERR_OK) return std::string("unicorn: ") + uc_strerror(err);

    uint64_t unicornStatus = 0;
    uc_reg_read(uc, UC_X86_REG_FPSW, &unicornStatus);
    uint16_t status, tags;
    std::memcpy(&status, interpreted.fpu + 4, 2);
    std::memcpy(&tags, interpreted.fpu + 8, 2);
    if ((unicornStatus & comparedStatusBits) != (status & comparedStatusBits))
        return "status word & 0x7d00: unicorn " + std::to_string(unicornStatus & comparedStatusBits) +
               " interpreter " + std::to_string(status & comparedStatusBits);
    unsigned top = (status >> 11) & 7u;
    for (unsigned i = 0; i < 8; ++i) {
        unsigned physical = (top + i) & 7u;
        if (((tags >> (2 * physical)) & 3u) == 3u) continue;
        uint8_t value[16] = {};
        uc_reg_read(uc, UC_X86_REG_FP0 + static_cast<int>(physical), value);
        if (std::memcmp(value, interpreted.fpu + 28 + 10 * i, 10) != 0)
            return "ST(" + std::to_string(i) + ") differs";
    }
    uint8_t data[x87diff::dataBytes];
    uc_mem_read(uc, x87diff::dataAddress, data, sizeof data);
    if (std::memcmp(data, interpreted.data, sizeof data) != 0) return "data block differs";
    return "";
}

class X87Unicorn : public ::testing::TestWithParam<Family> {};

TEST_P(X87Unicorn, AgreesWithTheInterpreter) {
    std::vector<Case> cases = GetParam().cases();
    std::string error;
    std::vector<ResultRecord> interpreted = x87diff::runInterpreter(cases, error);
    EXPECT_EQ(error, "");
    Emulator emulator;
    uint32_t compared = 0;
    ASSERT_NE(emulator.uc, nullptr);
    uint32_t mismatches = 0;
    std::string report;
    for (size_t k = 0; k < cases.size(); ++k) {
        if (!isModelledByUnicorn(cases[k], interpreted[k])) continue;
        ++compared;
        std::string difference = compareWithUnicorn(emulator.uc, cases[k], interpreted[k]);
        if (difference.empty()) continue;
        if (++mismatches <= 20) report += cases[k].label + ": " + difference + "\n";
    }
    EXPECT_EQ(mismatches, 0u) << "of " << compared << " cases:\n" << report;
    RecordProperty("compared", static_cast<int>(compared));
}

INSTANTIATE_TEST_SUITE_P(Families, X87Unicorn, ::testing::ValuesIn(x87diff::families()));

}  // namespace
