// A small guest program through the real run loop: import slots filled by
// the image set-up, calls through them, and the ends of a run.
#include <gtest/gtest.h>

#include "peloader/program.h"
#include "fakeEngine.h"
#include "guestFixture.h"
#include "log.h"
#include "machine/binding.h"
#include "machine/executer.h"
#include "machine/machineState.h"
#include "platform/gdi.h"
#include "platform/handle.h"
#include "platform/platform.h"
#include "platform/window.h"

namespace {

using guestLayout::codeStart;
constexpr uint32_t dataStart = 0x402000;
// Import slots in the data section.
constexpr uint32_t slotGetACP = 0x402000;
constexpr uint32_t slotExitProcess = 0x402004;
constexpr uint32_t slotGetModuleHandleA = 0x402008;
constexpr uint32_t slotUnbound = 0x40200C;
constexpr uint32_t slotGetSystemMetrics = 0x402010;
constexpr uint32_t results = 0x402100;

// The code section: three routines at fixed offsets, 0xCC elsewhere.
std::vector<uint8_t> codeSection() {
    std::vector<uint8_t> code(0x300, 0xCC);
    auto place = [&](uint32_t address, const char* hex) {
        std::vector<uint8_t> bytes = guest::hexBytes(hex);
        std::copy(bytes.begin(), bytes.end(), code.begin() + (address - codeStart));
    };
    // 0x401000: calls through three bound slots, storing each eax.
    place(0x401000,
          "FF 15 00 20 40 00"  // call [GetACP]
          "A3 00 21 40 00"     // mov [0x402100], eax
          "6A 01"              // push 1
          "FF 15 10 20 40 00"  // call [GetSystemMetrics]
          "A3 04 21 40 00"     // mov [0x402104], eax
          "6A 00"              // push 0
          "FF 15 08 20 40 00"  // call [GetModuleHandleA]
          "A3 08 21 40 00"     // mov [0x402108], eax
          "C3");               // ret
    // 0x401080: a call through the slot that has no binding.
    place(0x401080, "FF 15 0C 20 40 00 C3");
    // 0x401100: calls the nesting hook at 0x401200, then must not go on.
    place(0x401100,
          "E8 FB 00 00 00"   // call 0x401200
          "B8 78 56 34 12"   // mov eax, 0x12345678
          "C3");             // ret
    // 0x401180: the routine the hook runs nested: ExitProcess(0).
    place(0x401180,
          "6A 00"              // push 0
          "FF 15 04 20 40 00"  // call [ExitProcess]
          "B8 78 56 34 12"     // mov eax, 0x12345678
          "C3");               // ret
    return code;
}

const peloader::Program& program() {
    static const peloader::Program program(
        codeStart, 0x10000, 4, 0,
        {peloader::makeSection(codeStart, 0x300, codeSection(), true),
         peloader::makeSection(dataStart, 0x200, {}, false)},
        "", {}, {},
        {{"KERNEL32.dll",
          {{"GetACP", slotGetACP},
           {"ExitProcess", slotExitProcess},
           {"GetModuleHandleA", slotGetModuleHandleA},
           {"NotEmulated", slotUnbound}}},
         {"USER32.dll", {{"GetSystemMetrics", slotGetSystemMetrics}}}},
        peloader::TlsInfo{});
    return program;
}

bool hookFinished = false;
void nestingHook() {
    machine::callGuest(machine::Addr{0x401180});
    hookFinished = true;
    platform::returnFromHook();
}
constexpr platform::HookRow nestingHooks[] = {{"nestingHook", 0x401200, 1, nestingHook}};

// The start-up from the registrars to just before the guest run.
class GuestRunTest : public ::testing::Test {
protected:
    void SetUp() override {
        machine::resetMachineForTests();
        platform::resetHandlesForTests();
        platform::resetPlatformForTests();
        platform::resetGdiForTests();
        platform::resetWindowForTests();
        fakeEngine::reset();
        hookFinished = false;
        platform::registerPlatformFunctions();
        platform::registerGdiFunctions();
        platform::registerWindowFunctions();
        platform::registerHooks(nestingHooks);
        machine::initialiseMachine(program());
        platform::platformInit(program());
        platform::initGdi();
    }
    void TearDown() override { machine::resetMachineForTests(); }

    uint32_t dword(uint32_t address) { return machine::readMemory32(false, machine::Addr{address}).v; }
};

}  // namespace

TEST_F(GuestRunTest, ImportSlotsLeadToTheHandlers) {
    EXPECT_EQ(dword(slotGetACP), 0xF0001001u);
    EXPECT_EQ(dword(slotGetSystemMetrics), 0xF0002002u);
    EXPECT_EQ(dword(slotUnbound), slotUnbound);
    uint32_t esp = machine::state.esp.v;
    machine::state.eip = machine::Addr{0x401234};
    machine::callGuest(machine::Addr{0x401000});
    EXPECT_EQ(dword(results), 1252u);
    EXPECT_EQ(dword(results + 4), 480u);
    EXPECT_EQ(dword(results + 8), 1u);
    EXPECT_EQ(machine::state.esp.v, esp);
    EXPECT_EQ(machine::state.eip.v, 0x401234u);
}

TEST_F(GuestRunTest, ACallThroughAnUnboundSlotStopsTheRunThere) {
    EXPECT_EQ(guest::errorOf([] { machine::callGuest(machine::Addr{0x401080}); }),
              "Unable to read instruction outside of code memory block. eip = 0x40200c");
}

TEST_F(GuestRunTest, ExitProcessEndsANestedRunAndTheOuterOne) {
    machine::state.eax = machine::Val32{0};
    machine::callGuest(machine::Addr{0x401100});
    EXPECT_TRUE(machine::state.exitRequested);
    EXPECT_TRUE(hookFinished);  // the hook that nested the run finished its work
    EXPECT_EQ(machine::state.eax.v, 0u);  // no instruction ran after ExitProcess
}
