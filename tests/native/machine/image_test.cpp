#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "peloader/loader.h"
#include "peloader/program.h"
#include "guestFixture.h"
#include "peImage.h"

namespace {

using namespace machine;

constexpr uint32_t exitProcessAddress = guestLayout::firstNativeFunction;
int exitProcessCalls = 0;
void exitProcessHandler() {
    ++exitProcessCalls;
    returnToGuest();
}

// A small image: code at 0x401000, import slots at 0x402000, a second code
// section at 0x403000 and data (the TLS template and index) at 0x404000.
peloader::Program makeProgram(peloader::TlsInfo tls, peloader::Imports imports) {
    std::vector<peloader::Section> sections;
    sections.push_back(peloader::makeSection(0x401000, 0x10, guest::hexBytes("C3"), true));
    sections.push_back(peloader::makeSection(0x402000, 0x20, {}, false));
    sections.push_back(peloader::makeSection(0x403000, 0x10, guest::hexBytes("C3"), true));
    sections.push_back(peloader::makeSection(
        0x404000, 0x20, guest::hexBytes("11 22 33 44 55 66 77 88  00 00 00 00 00 00 00 00  EE EE EE EE"),
        false));
    return peloader::Program(0x401000, 0x10000, 4, 0, std::move(sections), "", {}, {},
                             std::move(imports), tls);
}

const peloader::TlsInfo noTls{false, 0, 0, 0, 0, 0};
const peloader::TlsInfo tlsOf8Plus8{true, 0x404000, 8, 0x404010, 0, 8};

class ImageTest : public ::testing::Test {
protected:
    void SetUp() override {
        resetMachineForTests();
        exitProcessCalls = 0;
        bindFunction("kernel32.dll", "ExitProcess", Addr{exitProcessAddress}, exitProcessHandler);
    }
    void TearDown() override { resetMachineForTests(); }
};

TEST_F(ImageTest, LaysOutStackSectionsAndFetchesFromTheLastCodeSection) {
    initialiseMachine(makeProgram(noTls, {}));
    EXPECT_EQ(state.esp.v, 0x110000u);
    const auto& blocks = memoryBlocks();
    ASSERT_EQ(blocks.size(), 5u);
    EXPECT_EQ(blocks[0].start.v, 0x100000u);
    EXPECT_EQ(blocks[0].size, 0x10000u);
    EXPECT_EQ(blocks[4].start.v, 0x404000u);
    EXPECT_EQ(readMemory8(false, Addr{0x404003}).v, 0x44u);

    state.eip = Addr{0x401000};
    EXPECT_EQ(guest::errorOf([] { fetchCode8(); }),
              "Unable to read instruction outside of code memory block. eip = 0x401000");
    state.eip = Addr{0x403000};
    EXPECT_EQ(fetchCode8().v, 0xC3u);

    // Without TLS: a 4-byte TEB and no heap block.
    EXPECT_EQ(readMemory32(true, Addr{0}).v, 0u);
    EXPECT_EQ(guest::errorOf([] { readMemory32(true, Addr{0x2C}); }),
              "Invalid offset from fs register: 0x2c");
    EXPECT_EQ(allocate(4).v, 0x404020u);  // the heap starts at the last section's end
}

TEST_F(ImageTest, ImportSlotsHoldBoundAddressesOrThemselves) {
    peloader::Imports imports{
        {"KERNEL32.dll", {{"ExitProcess", 0x402000}, {"exitprocess", 0x402004}}},
        {"GDI32.dll", {{"TextOutA", 0x402010}}},
    };
    initialiseMachine(makeProgram(noTls, imports));
    EXPECT_EQ(readMemory32(false, Addr{0x402000}).v, exitProcessAddress);  // DLL name lower-cased
    EXPECT_EQ(readMemory32(false, Addr{0x402004}).v, 0x402004u);  // function names are exact
    EXPECT_EQ(readMemory32(false, Addr{0x402010}).v, 0x402010u);

    callGuest(Addr{readMemory32(false, Addr{0x402000}).v});
    EXPECT_EQ(exitProcessCalls, 1);
    EXPECT_EQ(guest::errorOf([] { callGuest(Addr{readMemory32(false, Addr{0x402004}).v}); }),
              "Unable to read instruction outside of code memory block. eip = 0x402004");
}

TEST_F(ImageTest, ImportSlotOutsideEveryBlockFails) {
    peloader::Imports imports{{"kernel32.dll", {{"ExitProcess", 0x402020}}}};
    EXPECT_EQ(guest::errorOf([&] { initialiseMachine(makeProgram(noTls, imports)); }),
              "Attempted to lookup invalid memory address: 0x402020  size: 4");
}

TEST_F(ImageTest, StaticTlsCopiesTheTemplateIntoTheFirstHeapBlocks) {
    initialiseMachine(makeProgram(tlsOf8Plus8, {}));
    Addr slots = toAddr(readMemory32(true, Addr{0x2C}));
    EXPECT_EQ(slots.v, 0x404020u);  // exactly at the end of the last section
    Addr block = toAddr(readMemory32(false, slots));
    EXPECT_EQ(guest::bytesAt(block, 16),
              guest::hexBytes("11 22 33 44 55 66 77 88 00 00 00 00 00 00 00 00"));
    EXPECT_EQ(guest::errorOf([&] { readMemory8(false, addrAdd(block, 16)); }),
              app::format("Attempted to lookup invalid memory address: 0x%x  size: 1", block.v + 16));
    EXPECT_EQ(readMemory32(false, Addr{0x404010}).v, 0u);  // the TLS index
    EXPECT_EQ(readMemory32(true, Addr{0x18}).v, 0u);
}

TEST_F(ImageTest, TlsTotalThatWrapsOrIsTooLargeIsRefused) {
    peloader::TlsInfo wrapping = tlsOf8Plus8;
    wrapping.zeroFillSize = 0xFFFFFFFC;  // 8 + this wraps to 4
    EXPECT_THROW(initialiseMachine(makeProgram(wrapping, {})), app::RangeError);
    // Stopped at the copy: the steps before it ran, nothing was written past the block.
    EXPECT_EQ(readMemory32(false, Addr{0x404010}).v, 0u);
    ASSERT_EQ(memoryBlocks().size(), 7u);
    EXPECT_EQ(memoryBlocks().back().size, 4u);
    EXPECT_EQ(readMemory32(false, memoryBlocks().back().start).v, 0u);

    // The set-up's own errors come first, in its order.
    struct Case {
        uint32_t size, indexAddress, zeroFillSize;
        const char* message;
    };
    const Case cases[] = {
        {8, 0x404010, 0x10000000, "Size too large to allocate"},
        {0x30000000, 0x404010, 0xF0000000, "Size too large to allocate"},  // wraps to 0x20000000
        {8, 0x405000, 0xFFFFFFFC, "Attempted to lookup invalid memory address: 0x405000  size: 4"},
    };
    for (const Case& c : cases) {
        resetMachineForTests();
        peloader::TlsInfo tls = tlsOf8Plus8;
        tls.size = c.size;
        tls.indexAddress = c.indexAddress;
        tls.zeroFillSize = c.zeroFillSize;
        EXPECT_EQ(guest::errorOf([&] { initialiseMachine(makeProgram(tls, {})); }), c.message);
    }
}

// A section more than 2 GiB above the one before it: the heap still starts
// above it, and every block, the stack included, is found with enough blocks
// for the search to take its binary steps.
TEST_F(ImageTest, HeapStartsAboveASectionFarAboveTheOneBefore) {
    std::vector<peloader::Section> sections;
    sections.push_back(peloader::makeSection(0x400000, 0x1000, guest::hexBytes("C3"), true));
    sections.push_back(peloader::makeSection(0x90000000, 0x1000, guest::hexBytes("5A"), false));
    initialiseMachine(peloader::Program(0x400000, 0x10000, 4, 0, std::move(sections), "", {}, {},
                                        {}, noTls));
    std::vector<Addr> heap;
    for (int i = 0; i < 12; ++i) heap.push_back(allocate(16));
    EXPECT_EQ(heap[0].v, 0x90001000u);  // exactly at the far section's end
    for (Addr block : heap) EXPECT_GT(block.v, 0x90000000u);

    const auto& blocks = memoryBlocks();
    ASSERT_EQ(blocks.size(), 15u);
    for (size_t i = 0; i < blocks.size(); ++i) {
        Addr start = blocks[i].start;
        writeMemory8(false, start, Val8{uint8_t(i)});
        EXPECT_EQ(&findBlock(1, start), &blocks[i]) << std::hex << start.v;
        EXPECT_EQ(findBlockIndex(addrAdd(start, 1)), int32_t(i)) << std::hex << start.v;
    }
    for (size_t i = 0; i < blocks.size(); ++i)  // each read after a far one: no cache hit
        EXPECT_EQ(readMemory8(false, blocks[i].start).v, uint8_t(i)) << i;
    push32(Val32{0x12345678});
    EXPECT_EQ(readMemory32(false, heap[11]).v, 14u);  // the last block
    EXPECT_EQ(pop32().v, 0x12345678u);
    EXPECT_EQ(state.esp.v, 0x110000u);
    free(heap[0]);
    EXPECT_EQ(allocate(16), heap[0]);
}

// A damaged header can give a few code bytes a code section of 0x70000000
// bytes. The guest block is that large, but the host tables of the run loop
// follow the handlers bound, not the claimed size: a hook in the first bytes
// makes a table of one entry.
int hookCalls = 0;
void skipFiveBytes() {
    ++hookCalls;
    state.eip.v += 5;
}

TEST_F(ImageTest, CodeSectionClaimingFarMoreThanTheFileRunsWithBoundedHostTables) {
    constexpr uint32_t claimed = 0x70000000;
    peimage::PeImage image;
    image.addSection(0x1000, claimed, guest::hexBytes("CC CC CC CC CC  40  C3"),
                     peimage::codeSection);
    std::string path = peimage::writeTempFile(
        "machine_oversized_code_" + std::to_string(getpid()) + ".exe", image.build());
    std::unique_ptr<peloader::Program> program = peloader::loadProgram(path);
    std::filesystem::remove(path);
    ASSERT_NE(program, nullptr);

    hookCalls = 0;
    bindHook(Addr{0x401000}, skipFiveBytes);
    initialiseMachine(*program);
    program.reset();
    ASSERT_EQ(codeBlock()->size, claimed);
    EXPECT_EQ(codeHandlerTableSizeForTests(), 1u);

    state.eax.v = 41;
    callGuest(Addr{0x401000});  // the hook, then INC EAX and RET
    EXPECT_EQ(hookCalls, 1);
    EXPECT_EQ(state.eax.v, 42u);
    // Past the table the block's zeros are decoded as they always were.
    EXPECT_EQ(guest::errorOf([] { callGuest(Addr{0x401000 + claimed - 2}); }),
              "Unknown instruction byte 0x0 at address 0x70400ffe");
}

TEST(Bindings, TablesAndDllNames) {
    resetMachineForTests();
    bindFunction("kernel32.dll", "GetVersion", Addr{0xF0001005}, exitProcessHandler);
    bindFunction("kernel32.dll", "GetVersion", Addr{0xF0001006}, exitProcessHandler);  // replaces
    bindHook(Addr{0x4012CA}, exitProcessHandler);
    uint32_t address = 123;
    EXPECT_TRUE(lookupImport("kernel32.dll", "GetVersion", address));
    EXPECT_EQ(address, 0xF0001006u);
    EXPECT_FALSE(lookupImport("KERNEL32.DLL", "GetVersion", address));
    EXPECT_EQ(address, 0u);
    EXPECT_FALSE(lookupImport("kernel32.dll", "getversion", address));
    EXPECT_EQ(normalizeDllName("KERNEL32.DLL"), "kernel32.dll");
    EXPECT_EQ(normalizeDllName("User32.Dll"), "user32.dll");
    EXPECT_EQ(getImports().at("kernel32.dll").size(), 1u);
    EXPECT_EQ(getHandlers().size(), 3u);  // both addresses stay bound, and the hook
    EXPECT_EQ(getHandlers().count(0x4012CA), 1u);
    resetMachineForTests();
    EXPECT_TRUE(getImports().empty());
    EXPECT_TRUE(getHandlers().empty());
}

}  // namespace
