// A guest with the graphics and input library hooks and the game patches
// bound, as the start-up leaves it just before the guest runs: the bare
// guest of guestCall.h (the game's globals at 0x413148... lie in its data
// block), handles 1 to 5 made (so the back-surface DC is 4), gdi32 bound for
// text between getDC and releaseDC, and the recording fake engine.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "errors.h"
#include "fakeEngine.h"
#include "game/patch.h"
#include "guestCall.h"
#include "machine/binding.h"
#include "machine/executer.h"
#include "machine/machineState.h"
#include "platform/gdi.h"
#include "platform/handle.h"
#include "platform/kelmGraphics.h"
#include "platform/kelmInput.h"

namespace hooksTest {

using namespace guestCall;

// Hook addresses, by name.
enum : uint32_t {
    createDXDraw = 0x401d85, releaseDXDraw = 0x4012eb, ignoreCall = 0x407108,
    setDisplayMode = 0x40714c, flip = 0x4073bc, createLayer = 0x407404,
    destroyLayer = 0x4074ac, loadLayerImage = 0x4075fc, clearDisplay = 0x407868,
    blitLayerRegion = 0x4078d4, blitLayer = 0x407978, fillRect = 0x4079f8,
    lockLayer = 0x407a80, unlockLayer = 0x407af8, getDC = 0x407b40, releaseDC = 0x407b8c,
    setTransparentColour = 0x407c00, ignoreDisplayCall = 0x407c60,
    checkFullScreenRect = 0x407d24,
    createDXInput = 0x401e4d, releaseDXInput = 0x4012ca, pollMouse = 0x406d64,
    pollKeyboard = 0x406f18, refreshLeftButton = 0x404499,
    patchPictureCopy = 0x402a55, patchDispatchLoop = 0x40f067, patchSkip = 0x401d7d,
    patchBranch = 0x40154c,
};

constexpr uint32_t dxDrawGlobal = 0x413148;
constexpr uint32_t dxInputGlobal = 0x41314c;
constexpr uint32_t watchedGlobal = 0x413150;
constexpr uint32_t branchGlobal = 0x413178;
constexpr uint32_t eaxBefore = 0xEAEAEAEA;  // a marker for "eax untouched"
// Scratch room in the data block, below the game's globals.
constexpr uint32_t scratch = dataStart;
constexpr uint32_t nameAt = dataStart + 0x800;

class HooksTest : public ::testing::Test {
protected:
    void SetUp() override {
        layOutGuest();
        platform::resetHandlesForTests();
        platform::resetGdiForTests();
        platform::resetKelmGraphicsForTests();
        platform::resetKelmInputForTests();
        fakeEngine::reset();
        app::resetErrorsForTests();
        for (int i = 0; i < 3; ++i) platform::newHandle();  // module, cursor, icon
        platform::initGdi();
        platform::registerGdiFunctions();
        platform::registerKelmGraphicsHooks();
        platform::registerKelmInputHooks();
        game::registerPatches();
        machine::state.eax = app::Val32{eaxBefore};
    }
    void TearDown() override {
        platform::resetKelmGraphicsForTests();
        machine::resetMachineForTests();
    }

    // A function hook called as the game calls it; the caller then removes
    // its arguments again, so tables of calls do not creep down the stack.
    static Result hook(uint32_t address, std::initializer_list<uint32_t> args) {
        Result r = call(address, args);
        machine::state.esp.v += 4u * static_cast<uint32_t>(args.size());
        return r;
    }
    // A refused call, its arguments removed afterwards.
    static Refusal refused(uint32_t address, std::initializer_list<uint32_t> args) {
        Refusal r = callRefused(address, args);
        machine::state.esp.v += 4u * static_cast<uint32_t>(args.size() + 1);
        return r;
    }
    // An inline hook run once at its own address; returns eip after it.
    static uint32_t runInline(uint32_t address) {
        runHandlerAt(address);
        return machine::state.eip.v;
    }

    // The draw object and the display object, as the game makes them.
    uint32_t makeDrawObject() {
        runInline(createDXDraw);
        return readDword(dxDrawGlobal);
    }
    uint32_t makeDisplay() {
        hook(setDisplayMode, {0, 0, 0, 0, scratch});
        return readDword(scratch);
    }
    // A layer object at object, loaded from name unless name is null.
    void makeLayer(uint32_t object, const char* name, uint32_t drawObject) {
        hook(createLayer, {object, 0});
        if (name == nullptr) return;
        writeString(nameAt, name);
        hook(loadLayerImage, {object, nameAt, drawObject, 0, 0});
    }
};

}  // namespace hooksTest
