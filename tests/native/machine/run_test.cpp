#include <gtest/gtest.h>

#include <string>

#include "guestFixture.h"

namespace {

using namespace machine;

constexpr Addr exitProcessAddress{guestLayout::firstNativeFunction};
constexpr Addr addTwoAddress{0xF0002001};

std::string trail;  // what the handlers did, in order

void returningHook() {
    trail += "hook ";
    returnToGuest();
}

// ExitProcess: sets the halt flag and returns into the guest.
void exitProcess() {
    trail += "exit ";
    state.exitRequested = true;
    returnToGuest();
    state.esp.v += 4;
}

// A stdcall function of two arguments: eax = a + b, pops 8 argument bytes.
void addTwo() {
    uint32_t a = readMemory32(false, Addr{state.esp.v + 4}).v;
    uint32_t b = readMemory32(false, Addr{state.esp.v + 8}).v;
    state.eax.v = a + b;
    returnToGuest();
    state.esp.v += 8;
}

// A hook that runs the guest routine at 0x401010 nested, then returns.
void nestingHook() {
    trail += "outer ";
    callGuest(Addr{0x401010});
    trail += "outer-done ";
    returnToGuest();
}

class RunLoopTest : public guest::GuestTest {
protected:
    void SetUp() override {
        guest::GuestTest::SetUp();
        trail.clear();
    }
};

// The run of `run`: called from host code while eip holds 0x1234.
void callFromHost(Addr target) {
    state.eip = Addr{0x1234};
    callGuest(target);
}

// CALL rel32 from `at` to `target`.
std::string callRel32(uint32_t at, uint32_t target) {
    uint32_t rel = target - (at + 5);
    return app::format("E8 %02x %02x %02x %02x", rel & 0xFF, (rel >> 8) & 0xFF, (rel >> 16) & 0xFF,
                       rel >> 24);
}

TEST_F(RunLoopTest, ImmediateReturnRestoresEipAndEsp) {
    guest::loadCode("C3");
    uint32_t espBefore = state.esp.v;
    callFromHost(guest::codeAddress);
    EXPECT_EQ(state.eip.v, 0x1234u);
    EXPECT_EQ(state.esp.v, espBefore);
}

TEST_F(RunLoopTest, HookAtTargetRunsBeforeAnyDecode) {
    guest::loadCode("FF FF FF FF");  // never decoded while the hook is bound
    bindHook(guest::codeAddress, returningHook);
    uint32_t espBefore = state.esp.v;
    callFromHost(guest::codeAddress);
    EXPECT_EQ(trail, "hook ");
    EXPECT_EQ(state.eip.v, 0x1234u);
    EXPECT_EQ(state.esp.v, espBefore);
}

TEST_F(RunLoopTest, StdcallHandlerReturnsThroughReturnToGuest) {
    // push 2; push 1; call addTwo; ret
    guest::loadCode("6A 02 6A 01 " + callRel32(0x401004, addTwoAddress.v) + " C3");
    bindFunction("user32.dll", "AddTwo", addTwoAddress, addTwo);
    uint32_t espBefore = state.esp.v;
    callFromHost(guest::codeAddress);
    EXPECT_EQ(state.eax.v, 3u);
    EXPECT_EQ(state.esp.v, espBefore);
    EXPECT_EQ(state.eip.v, 0x1234u);
}

TEST_F(RunLoopTest, HaltFlagStopsBeforeTheNextInstruction) {
    // push 0; call ExitProcess; then a byte that would fail if it were decoded
    guest::loadCode("6A 00 " + callRel32(0x401002, exitProcessAddress.v) + " FF FF");
    bindFunction("kernel32.dll", "ExitProcess", exitProcessAddress, exitProcess);
    uint32_t espBefore = state.esp.v;
    callFromHost(guest::codeAddress);
    EXPECT_EQ(trail, "exit ");
    EXPECT_EQ(state.eip.v, 0x401007u);      // left where the guest was
    EXPECT_EQ(state.esp.v, espBefore - 4);  // the sentinel was never popped
}

TEST_F(RunLoopTest, NestedRunThatExitsStopsBothLoopsAfterTheOuterHandlerFinishes) {
    // 0x401000: hooked (runs 0x401010 nested); 0x401010: push 0; call ExitProcess; FF
    std::string code = "CC CC CC CC CC CC CC CC CC CC CC CC CC CC CC CC 6A 00 " +
                       callRel32(0x401012, exitProcessAddress.v) + " FF";
    guest::loadCode(code);
    bindHook(guest::codeAddress, nestingHook);
    bindFunction("kernel32.dll", "ExitProcess", exitProcessAddress, exitProcess);
    callFromHost(guest::codeAddress);
    EXPECT_EQ(trail, "outer exit outer-done ");
    EXPECT_TRUE(state.exitRequested);
    EXPECT_EQ(state.eip.v, 0x1234u);  // the outer hook returned to the outer sentinel
}

TEST_F(RunLoopTest, NestedRunReturnsToTheHandlerAndOuterRunContinues) {
    // 0x401000: hooked; 0x401010: ret
    guest::loadCode("CC CC CC CC CC CC CC CC CC CC CC CC CC CC CC CC C3");
    bindHook(guest::codeAddress, nestingHook);
    uint32_t espBefore = state.esp.v;
    callFromHost(guest::codeAddress);
    EXPECT_EQ(trail, "outer outer-done ");
    EXPECT_EQ(state.eip.v, 0x1234u);
    EXPECT_EQ(state.esp.v, espBefore);
}

TEST_F(RunLoopTest, GuestJumpToTheSentinelEndsTheRunLikeAReturn) {
    uint32_t rel = guestReturnSentinel.v - (0x401000 + 5);
    guest::loadCode(app::format("E9 %02x %02x %02x %02x", rel & 0xFF, (rel >> 8) & 0xFF,
                                (rel >> 16) & 0xFF, rel >> 24));
    uint32_t espBefore = state.esp.v;
    callFromHost(guest::codeAddress);
    EXPECT_EQ(state.eip.v, 0x1234u);
    EXPECT_EQ(state.esp.v, espBefore - 4);
}

TEST_F(RunLoopTest, RunStartedWithTheHaltFlagSetStopsAtOnce) {
    guest::loadCode("FF");
    state.exitRequested = true;
    uint32_t espBefore = state.esp.v;
    callFromHost(guest::codeAddress);
    EXPECT_EQ(state.eip, guest::codeAddress);
    EXPECT_EQ(state.esp.v, espBefore - 4);
    EXPECT_EQ(readMemory32(false, toAddr(state.esp)).v, guestReturnSentinel.v);
}

// Handlers are found wherever they are bound: in the code block, at reserved
// addresses of every group, and at stray addresses elsewhere.
TEST_F(RunLoopTest, HandlersAreFoundAtEveryKindOfAddress) {
    guest::loadCode("C3");
    guest::addZeroedData(guest::dataAddress, 16);
    const uint32_t addresses[] = {0x401000, 0xF0001000, 0xF00040FF, 0xF0007000,
                                  0x500000, 0xF0000100, 0xFFFFFFFF};
    for (uint32_t address : addresses) {
        trail.clear();
        bindHook(Addr{address}, returningHook);
        callFromHost(Addr{address});
        EXPECT_EQ(trail, "hook ") << std::hex << address;
    }
}

// A handler that binds a hook at the next byte and moves there.
void bindingHook() {
    trail += "binder ";
    bindHook(Addr{0x401001}, returningHook);
    state.eip = Addr{0x401001};
}

TEST_F(RunLoopTest, BindingMadeByAHandlerCountsFromTheNextStep) {
    guest::loadCode("CC FF");  // 0x401001 would fail if it were decoded
    bindHook(guest::codeAddress, bindingHook);
    callFromHost(guest::codeAddress);
    EXPECT_EQ(trail, "binder hook ");
    EXPECT_EQ(state.eip.v, 0x1234u);
}

TEST_F(RunLoopTest, UnboundReservedAddressFailsAtFetch) {
    guest::loadCode("C3");
    bindHook(Addr{0xF0001001}, returningHook);
    for (uint32_t address : {0xF0001000u, 0xF0001101u, 0xF0011001u}) {
        EXPECT_EQ(guest::errorOf([&] { callFromHost(Addr{address}); }),
                  app::format("Unable to read instruction outside of code memory block. eip = 0x%x",
                              address));
    }
}

void failingNestedHook() { callGuest(Addr{0x401010}); }

TEST_F(RunLoopTest, ErrorsPassThroughEveryLevel) {
    guest::loadCode("CC CC CC CC CC CC CC CC CC CC CC CC CC CC CC CC F4");
    bindHook(guest::codeAddress, failingNestedHook);
    EXPECT_EQ(guest::errorOf([] { callFromHost(guest::codeAddress); }),
              "Unknown instruction byte 0xf4 at address 0x401010");
}

// A hook that runs itself nested until `nestingLimit` runs are open.
int nestedRuns = 0;
int nestingLimit = 0;
void reenteringHook() {
    if (++nestedRuns < nestingLimit) callGuest(guest::codeAddress);
    returnToGuest();
}

TEST_F(RunLoopTest, NestingIsBoundedAndAnErrorLeavesNoDepthBehind) {
    guest::loadCode("C3");
    bindHook(guest::codeAddress, reenteringHook);
    const int deepest = static_cast<int>(maxGuestCallDepth);
    for (int limit : {deepest, 1000, deepest}) {
        nestedRuns = 0;
        nestingLimit = limit;
        uint32_t espBefore = state.esp.v;
        std::string error = guest::errorOf([] { callFromHost(guest::codeAddress); });
        if (limit <= deepest) {
            EXPECT_EQ(error, "");
            EXPECT_EQ(nestedRuns, limit);
            EXPECT_EQ(state.eip.v, 0x1234u);
            EXPECT_EQ(state.esp.v, espBefore);
        } else {
            EXPECT_EQ(error, "Guest calls nested deeper than 64 levels");
            EXPECT_EQ(nestedRuns, deepest);
            state.esp.v = espBefore;  // the open runs never popped their sentinels
        }
    }
}

TEST_F(RunLoopTest, StackOverflowWhilePushingTheSentinel) {
    guest::loadCode("C3");
    state.esp.v = stackBase.v;
    EXPECT_EQ(guest::errorOf([] { callFromHost(guest::codeAddress); }), "Stack overflow");
    EXPECT_EQ(state.eip.v, 0x1234u);
}

}  // namespace
