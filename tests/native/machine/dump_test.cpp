#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "guestFixture.h"
#include "log.h"

namespace {

using namespace machine;

// Runs f with the log going to a fresh folder and returns what it wrote,
// lines ending in "\n". With keepOpen, what reached the file while the log is
// still open.
template <class F>
std::string loggedBy(F&& f, bool keepOpen = false) {
    std::filesystem::path folder = std::filesystem::temp_directory_path() /
                                   ("machine-dump-" + std::to_string(::testing::UnitTest::GetInstance()
                                                                         ->random_seed()) +
                                    ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    app::initLog(folder.string());
    f();
    if (!keepOpen) app::resetLogForTests();
    std::stringstream text;
    {
        std::ifstream in(folder / "log.txt", std::ios::binary);
        text << in.rdbuf();
    }  // closed before the folder goes (Windows keeps open files)
    app::resetLogForTests();
    std::filesystem::remove_all(folder);
    std::string lines = text.str();
    std::erase(lines, '\r');  // the log ends its lines the host's way
    return lines;
}

class DumpTest : public guest::GuestTest {
protected:
    void SetUp() override { guest::resetGuest(0x100000); }
};

const char* registersAfterOverflow =
    "Registers:\n"
    "eip: 4198400 0x401000\n"
    "eax: 4294967295 0xffffffff\n"
    "ecx: 1 0x1\n"
    "edx: 0 0x0\n"
    "ebx: 0 0x0\n"
    "esp: 1048572 0xffffc\n"
    "ebp: 0 0x0\n"
    "esi: 0 0x0\n"
    "edi: 2147483648 0x80000000\n"
    "cf: 1\n"
    "df: 0\n"
    "of: 0\n"
    "sf: 0\n"
    "zf: 1\n"
    "FPU cw: 0x33f\n";

TEST_F(DumpTest, AfterStackOverflowTheStackIsNotValid) {
    state.eip = Addr{0x401000};
    state.eax.v = 0xFFFFFFFF;
    state.ecx.v = 1;
    state.edi.v = 0x80000000;
    guest::setFlags("CF ZF");
    state.esp.v = 0x100000;
    EXPECT_EQ(guest::errorOf([] { push32(Val32{0}); }), "Stack overflow");
    EXPECT_EQ(loggedBy(dumpState),
              std::string(registersAfterOverflow) + "Stack:\nAddress is not valid: 0xffffc\n");
}

TEST_F(DumpTest, DumpIsOnDiskWithoutClosingTheLog) {
    state.esp.v = 0x1FFFF0;
    std::string whole = loggedBy(dumpState);
    ASSERT_NE(whole.find("Stack:\n0x1ffff0 "), std::string::npos);
    EXPECT_EQ(loggedBy(dumpState, true), whole);
}

TEST_F(DumpTest, StackLinesStopAtTheBlockEndAndAt128Bytes) {
    for (uint32_t i = 0; i < 200; ++i)
        writeMemory8(false, Addr{0x200000 - 200 + i}, Val8{static_cast<uint8_t>(i)});
    state.esp.v = 0x1FFFF0;  // 16 bytes before the end: one full line
    std::string dump = loggedBy(dumpState);
    std::string stackPart = "FPU cw: 0x33f\nStack:\n"
                            "0x1ffff0  b8 b9 ba bb bc bd be bf c0 c1 c2 c3 c4 c5 c6 c7\n";
    ASSERT_GE(dump.size(), stackPart.size());
    EXPECT_EQ(dump.substr(dump.size() - stackPart.size()), stackPart);

    EXPECT_EQ(loggedBy([] { dumpMemory(Addr{0x1FFFF8}); }), "0x1ffff8  c0 c1 c2 c3 c4 c5 c6 c7\n");

    EXPECT_EQ(loggedBy([] { dumpMemory(Addr{0x200000 - 200}); }),
              "0x1fff38  00 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f\n"
              "0x1fff48  10 11 12 13 14 15 16 17 18 19 1a 1b 1c 1d 1e 1f\n"
              "0x1fff58  20 21 22 23 24 25 26 27 28 29 2a 2b 2c 2d 2e 2f\n"
              "0x1fff68  30 31 32 33 34 35 36 37 38 39 3a 3b 3c 3d 3e 3f\n"
              "0x1fff78  40 41 42 43 44 45 46 47 48 49 4a 4b 4c 4d 4e 4f\n"
              "0x1fff88  50 51 52 53 54 55 56 57 58 59 5a 5b 5c 5d 5e 5f\n"
              "0x1fff98  60 61 62 63 64 65 66 67 68 69 6a 6b 6c 6d 6e 6f\n"
              "0x1fffa8  70 71 72 73 74 75 76 77 78 79 7a 7b 7c 7d 7e 7f\n");
}

// Every register and flag line once more, each with a value of its own and
// the flags the other way round.
TEST_F(DumpTest, ReservedEspHasNoStackPart) {
    state.eip = Addr{0xF0000010};
    state.eax.v = 1;
    state.ecx.v = 0xFFFFFFFE;
    state.edx.v = 0x80000000;
    state.ebx.v = 10;
    state.esp.v = 0xF0000000;
    state.ebp.v = 0x7FFFFFFF;
    state.esi.v = 0xABCDEF;
    state.edi.v = 3;
    guest::setFlags("DF OF SF");
    state.fpuControlWord = 0xFFFF;
    EXPECT_EQ(loggedBy(dumpState),
              "Registers:\n"
              "eip: 4026531856 0xf0000010\n"
              "eax: 1 0x1\n"
              "ecx: 4294967294 0xfffffffe\n"
              "edx: 2147483648 0x80000000\n"
              "ebx: 10 0xa\n"
              "esp: 4026531840 0xf0000000\n"
              "ebp: 2147483647 0x7fffffff\n"
              "esi: 11259375 0xabcdef\n"
              "edi: 3 0x3\n"
              "cf: 0\n"
              "df: 1\n"
              "of: 1\n"
              "sf: 1\n"
              "zf: 0\n"
              "FPU cw: 0xffff\n");
}

TEST_F(DumpTest, MappedMemoryIsNotDumped) {
    std::vector<uint8_t> host(32);
    addMappedMemory(host);
    EXPECT_EQ(loggedBy([] { dumpMemory(Addr{0xE0000000}); }), "Address is not valid: 0xe0000000\n");
}

}  // namespace
