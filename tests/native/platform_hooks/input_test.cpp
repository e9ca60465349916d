// The input library hooks: the DXInput object's bytes after scripted polls,
// and the left-press rule.
#include <gtest/gtest.h>

#include "hooksTest.h"

using namespace hooksTest;
using fakeEngine::calls;
using platform::dxInputObjectSize;

namespace {

// The game object whose dwords +0xA0 and +0xA4 are watched.
constexpr uint32_t watchedObject = dataStart + 0x4000;
constexpr uint32_t firstWatched = watchedObject + 0xA0;
constexpr uint32_t secondWatched = watchedObject + 0xA4;

class InputTest : public HooksTest {
protected:
    void SetUp() override {
        HooksTest::SetUp();
        writeDword(watchedGlobal, watchedObject);
        EXPECT_EQ(runInline(createDXInput), createDXInput + 142);
        object = readDword(dxInputGlobal);
        fakeEngine::clearCalls();
    }

    uint32_t buttons() const { return readDword(object + 28); }
    uint32_t previousButtons() const { return readBytes(object + 44, 1)[0] | readBytes(object + 45, 1)[0] << 8; }
    int32_t mouseX() const { return static_cast<int32_t>(readDword(object + 32)); }
    int32_t mouseY() const { return static_cast<int32_t>(readDword(object + 36)); }
    uint8_t key(uint32_t scanCode) const { return readBytes(object + 46 + scanCode, 1)[0]; }
    uint8_t previousKey(uint32_t scanCode) const { return readBytes(object + 302 + scanCode, 1)[0]; }

    // One mouse poll with these buttons; the left button as the game sees it.
    uint32_t pollLeft(bool left) {
        fakeEngine::setMouseButtons(left, false);
        hook(pollMouse, {object});
        return buttons() & 0xFF;
    }
    uint32_t refreshLeft(bool left) {
        fakeEngine::setMouseButtons(left, false);
        machine::state.eax = app::Val32{0};
        EXPECT_EQ(runInline(refreshLeftButton), 0x40449eu);
        EXPECT_EQ(machine::state.eax.v, object);
        return buttons() & 0xFF;
    }

    uint32_t object = 0;
};

TEST_F(InputTest, CreatedObjectIsZeroedAndPublished) {
    EXPECT_NE(object, 0u);
    EXPECT_EQ(readBytes(object, dxInputObjectSize), std::vector<uint8_t>(dxInputObjectSize, 0));
    machine::state.eip = app::Addr{createDXInput};
    EXPECT_EQ(guest::errorOf([] { runHandlerAt(createDXInput); }), "DXInput object already created");
    EXPECT_EQ(machine::state.eax.v, eaxBefore);
}

TEST_F(InputTest, ReleaseContinuesIntoTheDrawObjectRelease) {
    runInline(createDXDraw);
    machine::state.eip = app::Addr{releaseDXInput};
    EXPECT_EQ(guest::runUntil(app::Addr{releaseDXDraw + 34}), 2);  // two hooks, no instruction
    EXPECT_EQ(readDword(dxInputGlobal), 0u);
    EXPECT_EQ(readDword(dxDrawGlobal), 0u);
    EXPECT_EQ(guest::errorOf([] { runHandlerAt(releaseDXInput); }), "DXInput object not created");
    // A new object comes from the heap again, zero-filled.
    writeBytes(object, {1, 2, 3});
    runInline(createDXInput);
    EXPECT_EQ(readBytes(readDword(dxInputGlobal), 3), (std::vector<uint8_t>{0, 0, 0}));
}

TEST_F(InputTest, KeyboardPollsKeepTheCurrentAndThePreviousState) {
    fakeEngine::keys()[0x1C] = 1;
    hook(pollKeyboard, {object});
    EXPECT_EQ(readBytes(object + 558, 2), (std::vector<uint8_t>{1, 0}));
    EXPECT_EQ(key(0x1C), 1);
    EXPECT_EQ(readBytes(object + 302, 256), std::vector<uint8_t>(256, 0));

    fakeEngine::keys()[0x1C] = 0;
    fakeEngine::keys()[0x39] = 1;
    fakeEngine::keys()[0xFF] = 1;
    Result r = hook(pollKeyboard, {object});
    EXPECT_EQ(previousKey(0x1C), 1);
    EXPECT_EQ(previousKey(0x39), 0);
    EXPECT_EQ(key(0x1C), 0);
    EXPECT_EQ(key(0x39), 1);
    EXPECT_EQ(key(0xFF), 1);
    EXPECT_EQ(readBytes(object + 558, 1)[0], 1);
    EXPECT_EQ(readBytes(object, 46), std::vector<uint8_t>(46, 0));  // the mouse fields untouched
    EXPECT_EQ(r.espChange, 4u);
    EXPECT_EQ(r.eax, eaxBefore);
}

TEST_F(InputTest, MousePollStoresButtonsAndPosition) {
    struct Case {
        bool left, right;
        uint32_t word;
    };
    const Case cases[] = {{true, true, 0x101}, {false, true, 0x100}, {true, false, 0x001}, {false, false, 0}};
    fakeEngine::setWindowToGame(320, 60, 2);
    fakeEngine::setCursorPosition(340, 100, true);
    uint32_t before = 0;
    for (const Case& c : cases) {
        fakeEngine::setMouseButtons(c.left, c.right);
        Result r = hook(pollMouse, {object});
        EXPECT_EQ(buttons(), c.word);
        EXPECT_EQ(previousButtons(), before);
        EXPECT_EQ(mouseX(), 10);
        EXPECT_EQ(mouseY(), 20);
        EXPECT_EQ(r.espChange, 4u);
        EXPECT_EQ(r.eax, eaxBefore);
        before = c.word;
    }
    EXPECT_EQ(calls()[0], "getCursorPosition()");
    EXPECT_EQ(calls()[1], "windowToGame(340, 100)");
    EXPECT_EQ(calls()[2], "getMouseButtons()");
}

TEST_F(InputTest, CursorOffThePictureKeepsThePosition) {
    fakeEngine::setCursorPosition(5, 6, true);
    hook(pollMouse, {object});
    fakeEngine::setCursorPosition(900, 900, false);
    fakeEngine::setMouseButtons(false, true);
    hook(pollMouse, {object});
    EXPECT_EQ(mouseX(), 5);
    EXPECT_EQ(mouseY(), 6);
    EXPECT_EQ(buttons(), 0x100u);
    EXPECT_EQ(fakeEngine::callsOf("windowToGame").size(), 1u);
}

TEST_F(InputTest, PollsRefuseAnyOtherObject) {
    for (uint32_t hookAddress : {uint32_t{pollMouse}, uint32_t{pollKeyboard}}) {
        for (uint32_t other : {0u, object + 4}) {
            Refusal r = refused(hookAddress, {other});
            EXPECT_EQ(r.message, "Unsupported argument");
            EXPECT_TRUE(r.registersUnchanged && r.memoryUnchanged);
        }
    }
    EXPECT_TRUE(calls().empty());
}

TEST_F(HooksTest, MousePollBeforeAnyObjectRefusesNull) {
    EXPECT_EQ(refused(pollMouse, {0}).message, "Unsupported argument");
}

// ---- The left-press rule ----------------------------------------------------------------

TEST_F(InputTest, PressHiddenOnceAWatchedDwordChangesUntilReleased) {
    EXPECT_EQ(pollLeft(true), 1u);   // press: watched values taken
    EXPECT_EQ(pollLeft(true), 1u);   // held, nothing changed
    writeDword(secondWatched, 5);
    EXPECT_EQ(pollLeft(true), 0u);   // changed while held
    EXPECT_EQ(pollLeft(true), 0u);   // and stays hidden while held
    EXPECT_EQ(refreshLeft(true), 0u);
    EXPECT_EQ(pollLeft(false), 0u);  // released: tracking ends
    writeDword(firstWatched, 9);
    EXPECT_EQ(pollLeft(true), 1u);   // the next press counts again, against the new values
    EXPECT_EQ(refreshLeft(true), 1u);
}

TEST_F(InputTest, ChangeAndChangeBackBetweenPollsDoesNotHideThePress) {
    EXPECT_EQ(pollLeft(true), 1u);
    writeDword(firstWatched, 1);
    writeDword(firstWatched, 0);
    EXPECT_EQ(pollLeft(true), 1u);
}

TEST_F(InputTest, WatchedObjectIsLookedUpOnceAtTheFirstPress) {
    EXPECT_EQ(pollLeft(false), 0u);
    writeDword(watchedGlobal, 0x10);  // not looked at before a press
    EXPECT_NE(guest::errorOf([&] { pollLeft(true); }), "");
    writeDword(watchedGlobal, watchedObject);
    EXPECT_EQ(pollLeft(true), 1u);
    writeDword(watchedGlobal, 0x10);  // never again
    writeDword(firstWatched, 3);
    EXPECT_EQ(pollLeft(true), 0u);
}

TEST_F(InputTest, RefreshChangesOnlyTheLeftByteWhileAPressIsTracked) {
    // Not tracking: eax and eip only.
    writeBytes(object + 28, {0xAA, 0xBB, 0xCC, 0xDD});
    std::vector<uint8_t> before = readBytes(object, dxInputObjectSize);
    refreshLeft(true);
    EXPECT_EQ(readBytes(object, dxInputObjectSize), before);
    EXPECT_TRUE(calls().empty());

    fakeEngine::setMouseButtons(true, true);
    hook(pollMouse, {object});
    EXPECT_EQ(buttons(), 0x101u);
    fakeEngine::setMouseButtons(false, false);  // let go since: refreshed, right kept
    machine::state.eip = app::Addr{refreshLeftButton};
    runInline(refreshLeftButton);
    EXPECT_EQ(buttons(), 0x100u);
    writeDword(object + 28, 0xFFFF0100);
    fakeEngine::setMouseButtons(true, false);
    runInline(refreshLeftButton);
    EXPECT_EQ(buttons(), 0x101u);  // bytes 30 and 31 cleared
}

}  // namespace
