// Handles, guest strings and the three handler protocols.
#include <gtest/gtest.h>

#include "guestCall.h"
#include "machine/machineState.h"
#include "platform/handle.h"
#include "platform/string.h"
#include "platformTest.h"

using namespace guestCall;
using platform::Handle;
using platformTest::PlatformTest;

namespace {

constexpr uint32_t GetModuleHandleA = 0xF0001007;
constexpr uint32_t LoadCursorA = 0xF0002001;
constexpr uint32_t LoadIconA = 0xF0002000;
constexpr uint32_t GetStockObject = 0xF0003000;
constexpr uint32_t RegisterClassExA = 0xF0004000;
constexpr uint32_t CreateWindowExA = 0xF0004001;

std::string getStringAt(uint32_t address) {
    return guest::errorOf([&] { platform::getString(app::Addr{address}); });
}

}  // namespace

// ---- Handles -----------------------------------------------------------------

TEST_F(PlatformTest, StartUpHandlesAreOneToFive) {
    EXPECT_EQ(call(GetModuleHandleA, {0}).eax, 1u);  // the program module
    EXPECT_EQ(call(LoadCursorA, {0, 32512}).eax, 2u);
    EXPECT_EQ(call(LoadIconA, {0, 32512}).eax, 3u);
    EXPECT_EQ(platform::acquireBackSurfaceDC(), Handle{4});
    EXPECT_EQ(call(GetStockObject, {4}).eax, 5u);
}

TEST_F(PlatformTest, FirstHandleWhileTheGuestRunsIsSixWhicheverFunctionMakesIt) {
    struct Case {
        const char* name;
        uint32_t address;
        std::initializer_list<uint32_t> args;
    };
    const Case makers[] = {
        {"GetModuleHandleA", GetModuleHandleA, {dataStart}},
        {"RegisterClassExA", RegisterClassExA, {dataStart + 0x100}},
        {"CreateWindowExA", CreateWindowExA, {0, 0, 0, 0, 0, 0, 640, 480, 0, 0, 1, 0}},
    };
    for (const Case& first : makers) {
        startGuest();
        writeString(dataStart, "KERNEL32.DLL");
        writeString(dataStart + 0x20, "gdi32.dll");
        EXPECT_EQ(call(first.address, first.args).eax, 6u) << first.name;
        EXPECT_EQ(call(GetModuleHandleA, {dataStart + 0x20}).eax, 7u) << first.name;
    }
}

// ---- Guest strings -------------------------------------------------------------

TEST_F(PlatformTest, GetStringReadsUpToTheZeroByte) {
    writeBytes(dataStart, {'a', 1, 31, '~', 0, 'x', 0});
    EXPECT_EQ(platform::getString(app::Addr{dataStart}), std::string("a\x01\x1f~"));
    EXPECT_EQ(platform::getString(app::Addr{dataStart + 4}), "");  // first byte zero
    EXPECT_EQ(platform::getString(app::Addr{0}), "");              // null address
}

TEST_F(PlatformTest, GetStringRefusesBytesAbove126) {
    for (uint8_t bad : {uint8_t{127}, uint8_t{128}, uint8_t{255}}) {
        writeBytes(dataStart, {'o', 'k', bad, 0});
        EXPECT_EQ(getStringAt(dataStart), "Unsupported character in string") << int{bad};
    }
    EXPECT_TRUE(platform::isUnsupportedChar(127));
    EXPECT_FALSE(platform::isUnsupportedChar(126));
    EXPECT_FALSE(platform::isUnsupportedChar(0));
}

TEST_F(PlatformTest, GetStringStopsAtItsBlockEnd) {
    // The data block ends where the first heap block (the command line) starts.
    const uint32_t end = dataStart + dataSize;
    ASSERT_EQ(readBytes(end, 1)[0], uint8_t{'C'});
    writeBytes(end - 3, {'a', 'b', 0});
    EXPECT_EQ(platform::getString(app::Addr{end - 3}), "ab");
    writeBytes(end - 3, {'a', 'b', 'c'});
    EXPECT_EQ(getStringAt(end - 3),
              "Buffer passed to getString() doesn't contain a null-terminated string");
    EXPECT_EQ(getStringAt(0x50), "Attempted to lookup invalid memory address: 0x50  size: 1");
}

TEST_F(PlatformTest, StringArgReadsTheAddressInItsSlot) {
    writeString(dataStart + 0x40, "gdi32.dll");
    writeDword(dataStart, dataStart + 0x40);
    EXPECT_EQ(platform::stringArg(app::Addr{dataStart}), "gdi32.dll");
    pushCall({dataStart + 0x40});
    EXPECT_EQ(platform::stringArg(1u), "gdi32.dll");
}

// ---- Protocols -----------------------------------------------------------------

TEST_F(PlatformTest, EmulatedFunctionsRemoveTheReturnAddressAndTheirArguments) {
    Result noArguments = call(0xF0001001, {});  // GetACP
    EXPECT_EQ(noArguments.espChange, 4u);
    EXPECT_EQ(noArguments.eip, returnAddress);
    Result fiveArguments = call(0xF0002005, {dataStart, 0, 0, 640, 480});  // SetRect
    EXPECT_EQ(fiveArguments.espChange, 24u);
    EXPECT_EQ(fiveArguments.eip, returnAddress);
}

TEST_F(PlatformTest, AReturnAddressOutsideMemoryChangesNothing) {
    // GetACP with esp just below the stack block: the return address is not
    // there, so eax must stay.
    machine::state.esp = app::Val32{stackStart - 4};
    machine::state.eip = app::Addr{0xF0001001};
    EXPECT_NE(guest::errorOf([] { runHandlerAt(0xF0001001); }), "");
    EXPECT_EQ(machine::state.eax.v, platformTest::eaxBefore);
    EXPECT_EQ(machine::state.esp.v, stackStart - 4);
    EXPECT_EQ(machine::state.eip.v, 0xF0001001u);
}

namespace {
uint32_t seenArguments[4];
void testFunctionHook() {
    machine::WordView args = platform::hookArgs();
    for (uint32_t k = 0; k < 4; ++k) seenArguments[k] = args.get(k);
    platform::returnFromHook();
}
void testInlineHook() { platform::continueAfter(7); }
constexpr platform::HookRow testHooks[] = {
    {"testFunctionHook", 0x402000, 4, testFunctionHook},
    {"testInlineHook", 0x402100, 0, testInlineHook},
};
}  // namespace

TEST_F(PlatformTest, FunctionHooksLeaveTheirArgumentsAndEax) {
    platform::registerHooks(testHooks);
    Result r = call(0x402000, {11, 22, 33});
    EXPECT_EQ(r.espChange, 4u);
    EXPECT_EQ(r.eip, returnAddress);
    EXPECT_EQ(r.eax, platformTest::eaxBefore);
    EXPECT_EQ(seenArguments[0], returnAddress);
    EXPECT_EQ(seenArguments[3], 33u);
    EXPECT_EQ(readDword(machine::state.esp.v), 11u);  // still on the stack
}

TEST_F(PlatformTest, InlineHooksMoveEipPastTheirStretch) {
    platform::registerHooks(testHooks);
    uint32_t esp = machine::state.esp.v;
    runHandlerAt(0x402100);
    EXPECT_EQ(machine::state.eip.v, 0x402107u);
    EXPECT_EQ(machine::state.esp.v, esp);
}
