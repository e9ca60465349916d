#include <gtest/gtest.h>

#include "engine/graphics.h"
#include "engine/window.h"
#include "fakes.h"

namespace {

using fakes::attached;
using fakes::device;
using fakes::primary;
using Calls = std::vector<std::string>;

constexpr uint32_t vkEnter = 0x0D;
constexpr uint32_t vkEsc = 0x1B;
constexpr int32_t windowedWidth = 640 + fakes::frameLeft + fakes::frameRight;   // 656
constexpr int32_t windowedHeight = 480 + fakes::frameTop + fakes::frameBottom;  // 519

uint8_t keyByte(int32_t scanCode) { return engine::keyStates()[static_cast<size_t>(scanCode)]; }

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override { fakes::startEngine({device("A", primary, 0, 0, 1920, 1080, 60)}); }
};

// ---- Keys -------------------------------------------------------------------

// One guest message poll with nothing pumped: the game reads the keys after it.
void guestPoll() {
    engine::releaseKeys();
    engine::markKeysSeen();
}

TEST_F(WindowTest, GameKeysSetTheirScanCodes) {
    const std::pair<uint32_t, int32_t> keys[] = {{0x1B, 1}, {0x70, 59}, {0x0D, 28},
                                                 {0x31, 2}, {0x32, 3},  {0x33, 4}};
    for (auto [vk, scanCode] : keys) {
        EXPECT_TRUE(engine::onKeyDown(vk));
        EXPECT_EQ(keyByte(scanCode), 1) << vk;
        guestPoll();
        EXPECT_TRUE(engine::onKeyUp(vk));
        EXPECT_EQ(keyByte(scanCode), 0) << vk;
    }
}

TEST_F(WindowTest, TapInThePollsPumpReadsDownForOneRead) {
    engine::releaseKeys();
    engine::onKeyDown(vkEnter);
    engine::onKeyUp(vkEnter);
    engine::markKeysSeen();
    EXPECT_EQ(keyByte(28), 1);  // what the game reads after this poll
    engine::releaseKeys();
    EXPECT_EQ(keyByte(28), 0);
}

// Keys are also pumped while the game waits for its frame; such a tap must
// survive the next poll's release, or the game would never read it.
TEST_F(WindowTest, TapDuringTheFrameWaitIsReadAfterTheNextPoll) {
    guestPoll();
    engine::onKeyDown(vkEnter);
    engine::onKeyUp(vkEnter);
    engine::releaseKeys();
    engine::markKeysSeen();
    EXPECT_EQ(keyByte(28), 1);
    guestPoll();
    EXPECT_EQ(keyByte(28), 0);
}

TEST_F(WindowTest, TapReadOnceThenPressedAgainDuringTheWaitStaysDown) {
    engine::releaseKeys();
    engine::onKeyDown(vkEsc);
    engine::onKeyUp(vkEsc);
    engine::markKeysSeen();  // the game reads the first tap
    engine::onKeyDown(vkEsc);
    engine::onKeyUp(vkEsc);  // a second tap during the frame wait
    guestPoll();
    EXPECT_EQ(keyByte(1), 1);
    guestPoll();
    EXPECT_EQ(keyByte(1), 0);
}

TEST_F(WindowTest, HeldKeyGoesUpAtOnceOnRelease) {
    engine::onKeyDown(vkEnter);
    guestPoll();
    engine::onKeyDown(vkEnter);  // auto-repeat
    guestPoll();
    EXPECT_EQ(keyByte(28), 1);
    engine::onKeyUp(vkEnter);
    EXPECT_EQ(keyByte(28), 0);
}

TEST_F(WindowTest, DownUpDownBetweenPumpsReadsUpUntilRepeat) {
    engine::releaseKeys();
    engine::onKeyDown(vkEsc);
    engine::onKeyUp(vkEsc);
    engine::onKeyDown(vkEsc);
    engine::markKeysSeen();
    EXPECT_EQ(keyByte(1), 1);
    engine::releaseKeys();
    EXPECT_EQ(keyByte(1), 0);  // still held
    engine::onKeyDown(vkEsc);
    EXPECT_EQ(keyByte(1), 1);
}

// Losing the focus (another window, alt-tab) releases what is held as the
// player's own releases would: a held key goes up at once, a key pressed
// since the game last read the keys is read once first, a tap in flight is
// left alone, and the buttons go up.
TEST_F(WindowTest, FocusLossReleasesHeldKeysAndButtons) {
    const std::pair<const char*, void (*)()> losses[] = {
        {"WM_KILLFOCUS", [] { engine::onFocusLost(); }},
        {"WA_INACTIVE", [] { EXPECT_FALSE(engine::onActivate(0, false)); }},
    };
    for (auto [name, loseFocus] : losses) {
        SetUp();
        engine::onKeyDown(vkEnter);  // held across polls
        guestPoll();
        engine::onKeyDown(0x70);  // F1: tapped, not yet read
        engine::onKeyUp(0x70);
        engine::onKeyDown(vkEsc);  // pressed, not yet read
        engine::onMouseButton(true, true);
        engine::onMouseButton(false, true);
        loseFocus();
        EXPECT_EQ(keyByte(28), 0) << name;
        engine::releaseKeys();
        engine::markKeysSeen();  // the game reads the keys
        EXPECT_EQ(keyByte(1), 1) << name;
        EXPECT_EQ(keyByte(59), 1) << name;
        guestPoll();
        for (uint8_t byte : engine::keyStates()) EXPECT_EQ(byte, 0) << name;
        bool left, right;
        engine::getMouseButtons(left, right);
        EXPECT_FALSE(left || right) << name;
        engine::onKeyDown(vkEnter);  // keys work again afterwards
        EXPECT_EQ(keyByte(28), 1) << name;
    }
}

// Windowed, the mouse is captured while a button is down, so a release
// outside the window still arrives; a capture taken away releases the
// buttons. Fullscreen needs no capture: the clip keeps the cursor in.
TEST_F(WindowTest, MouseCapturedWhileAButtonIsDownWhenWindowed) {
    engine::onMouseButton(true, true);
    engine::onMouseButton(true, false);
    EXPECT_TRUE(fakes::calls.empty());
    engine::toggleFullscreen();
    fakes::calls.clear();
    engine::onMouseButton(true, true);
    engine::onMouseButton(false, true);
    engine::onMouseButton(true, false);
    engine::onMouseButton(false, false);
    engine::onCaptureChanged();  // sent by our own release: nothing
    EXPECT_EQ(fakes::calls, (Calls{"capture", "release capture"}));
    fakes::calls.clear();
    engine::onMouseButton(false, true);
    engine::onCaptureChanged();  // taken by another window
    bool left, right;
    engine::getMouseButtons(left, right);
    EXPECT_FALSE(right);
    engine::onMouseButton(false, false);
    EXPECT_EQ(fakes::calls, (Calls{"capture"}));
}

TEST_F(WindowTest, HostAndOtherKeysNeverTouchKeyState) {
    EXPECT_TRUE(engine::onKeyDown(0x7B));  // F12
    EXPECT_TRUE(engine::onKeyDown(0x34));  // 4
    EXPECT_FALSE(engine::onKeyDown(0x41));  // A: default processing
    EXPECT_FALSE(engine::onKeyUp(0x41));
    EXPECT_FALSE(engine::onKeyUp(0x7B));
    EXPECT_EQ(fakes::calls, (Calls{"screenshot", "screenshot"}));
    for (uint8_t byte : engine::keyStates()) EXPECT_EQ(byte, 0);
}

TEST_F(WindowTest, NothingIsHandledBeforeTheWindowExists) {
    engine::setMainWindow(nullptr);
    EXPECT_FALSE(engine::onKeyDown(vkEnter));
    EXPECT_FALSE(engine::onKeyUp(vkEnter));
    EXPECT_FALSE(engine::onActivate(1, false));
    engine::Point size;
    EXPECT_FALSE(engine::onGetMinMaxInfo(size));
    EXPECT_EQ(keyByte(28), 0);
}

TEST_F(WindowTest, MouseButtons) {
    bool left, right;
    engine::onMouseButton(true, true);
    engine::getMouseButtons(left, right);
    EXPECT_TRUE(left);
    EXPECT_FALSE(right);
    engine::onMouseButton(false, true);
    engine::onMouseButton(true, false);
    engine::getMouseButtons(left, right);
    EXPECT_FALSE(left);
    EXPECT_TRUE(right);
}

// Only the keyboard menu is kept from default processing: Alt+F4 (SC_CLOSE),
// minimising and the mouse's system menu work as usual.
TEST(SystemCommand, OnlyTheKeyboardMenuIsAnswered) {
    const std::pair<uint64_t, bool> commands[] = {
        {0xF100, true},  {0xF10F, true},  // SC_KEYMENU, with the system's low bits
        {0xF060, false},                  // SC_CLOSE
        {0xF020, false},                  // SC_MINIMIZE
        {0xF090, false},                  // SC_MOUSEMENU
        {0xF110, false},
    };
    for (auto [command, answered] : commands) {
        EXPECT_EQ(engine::onSystemCommand(command), answered) << std::hex << command;
    }
}

TEST(HiWord, ShiftsAndTruncates) {
    EXPECT_EQ(engine::hiWord(0x12345678u), 0x1234u);
    EXPECT_EQ(engine::hiWord(0xABCD000012345678ull), 0x00001234u);
    EXPECT_EQ(engine::hiWord(0x0000ABCD12345678ull) & 0xFFFF, 0x1234u);
}

// ---- Placement --------------------------------------------------------------

TEST_F(WindowTest, Placements) {
    engine::Display display(100, 50, 1920, 1080, 100, 50, 1920, 1040, 60);
    engine::WindowPlacement full = engine::computeWindowPlacement(display, true);
    EXPECT_EQ(full.x, 100);
    EXPECT_EQ(full.y, 50);
    EXPECT_EQ(full.width, 1920);
    EXPECT_EQ(full.height, 1080);
    EXPECT_EQ(full.style, 0x80000000u);
    engine::WindowPlacement windowed = engine::computeWindowPlacement(display, false);
    EXPECT_EQ(windowed.width, windowedWidth);
    EXPECT_EQ(windowed.height, windowedHeight);
    EXPECT_EQ(windowed.x, 100 + (1920 - 656) / 2);
    EXPECT_EQ(windowed.y, 50 + (1040 - 519) / 2);
    EXPECT_EQ(windowed.style, 0x80CE0000u);
    // A work area smaller than the window: the division truncates toward zero.
    engine::Display small(0, 0, 640, 480, 0, 0, 640, 480, 60);
    engine::WindowPlacement cut = engine::computeWindowPlacement(small, false);
    EXPECT_EQ(cut.x, (640 - 656) / 2);
    EXPECT_EQ(cut.x, -8);
    EXPECT_EQ(cut.y, (480 - 519) / 2);
    EXPECT_EQ(cut.y, -19);
}

// The frame is the one of the window's own monitor; without a DPI from the
// system, the system's frame.
TEST_F(WindowTest, WindowedFrameAtTheWindowsDpi) {
    struct Case {
        uint32_t dpi;
        int32_t width, height;
    };
    const Case cases[] = {{0, 656, 519}, {96, 656, 519}, {144, 664, 538}, {192, 672, 558}};
    engine::toggleFullscreen();
    for (const Case& c : cases) {
        fakes::dpi = c.dpi;
        engine::WindowPlacement placement =
            engine::computeWindowPlacement(*engine::primaryDisplay(), false);
        EXPECT_EQ(placement.width, c.width) << c.dpi;
        EXPECT_EQ(placement.height, c.height) << c.dpi;
        engine::Point size;
        EXPECT_TRUE(engine::onGetMinMaxInfo(size));
        EXPECT_EQ(size.x, c.width) << c.dpi;
        EXPECT_EQ(size.y, c.height) << c.dpi;
    }
}

// A new DPI resizes the frame around the same 640x480 client at the place the
// system suggests; in fullscreen the window keeps covering its display.
TEST_F(WindowTest, DpiChangeRecomputesTheWindowedFrame) {
    const engine::Rect suggested{100, 200, 1084, 978};  // the old window scaled by 1.5
    engine::onDpiChanged(144, suggested);
    EXPECT_TRUE(fakes::calls.empty());
    engine::toggleFullscreen();
    fakes::calls.clear();
    engine::onDpiChanged(144, suggested);
    EXPECT_EQ(fakes::calls, (Calls{"move 100 200 664 538 repaint"}));
}

TEST_F(WindowTest, MinimumTrackSizeOnlyWhenWindowed) {
    engine::Point size;
    EXPECT_FALSE(engine::onGetMinMaxInfo(size));
    engine::toggleFullscreen();
    ASSERT_FALSE(engine::isFullscreen());
    EXPECT_TRUE(engine::onGetMinMaxInfo(size));
    EXPECT_EQ(size.x, windowedWidth);
    EXPECT_EQ(size.y, windowedHeight);
}

// ---- Fullscreen switch ------------------------------------------------------

TEST_F(WindowTest, ToggleBothWays) {
    engine::toggleFullscreen();
    EXPECT_FALSE(engine::isFullscreen());
    EXPECT_EQ(fakes::calls, (Calls{"style 0x90ce0000", "move 632 260 656 519 repaint", "invalidate"}));
    fakes::calls.clear();
    engine::toggleFullscreen();
    EXPECT_TRUE(engine::isFullscreen());
    EXPECT_EQ(fakes::calls, (Calls{"style 0x90000000", "move 0 0 1920 1080 repaint", "invalidate"}));
}

TEST_F(WindowTest, WindowedRefusedOnASingleSmallDisplay) {
    fakes::startEngine({device("A", primary, 0, 0, 640, 480, 60)});  // work area 640x440
    engine::toggleFullscreen();
    EXPECT_TRUE(engine::isFullscreen());
    EXPECT_EQ(fakes::calls, (Calls{"move 0 0 639 479", "notice Windowed mode is not supported on this monitor.",
                                   "move 0 0 640 480"}));
}

TEST_F(WindowTest, WindowedAllowedOnSmallDisplayWhenThereAreTwo) {
    fakes::startEngine({device("A", primary, 0, 0, 640, 480, 60),
                        device("B", attached, 640, 0, 1920, 1080, 60)});
    engine::toggleFullscreen();
    EXPECT_FALSE(engine::isFullscreen());
}

TEST_F(WindowTest, FullscreenRefusedOffTheListedDisplays) {
    engine::toggleFullscreen();
    fakes::calls.clear();
    fakes::windowMonitor = engine::Rect{5000, 0, 6000, 1000};
    engine::toggleFullscreen();
    EXPECT_FALSE(engine::isFullscreen());
    EXPECT_EQ(fakes::calls, (Calls{"notice Fullscreen mode is not supported on this monitor."}));
}

TEST_F(WindowTest, FullscreenOffTheListFallsBackToPrimary) {
    fakes::startEngine({device("A", primary, 0, 0, 1920, 1080, 60),
                        device("B", attached, 1920, 0, 1280, 1024, 60)});
    fakes::windowMonitor = engine::Rect{5000, 0, 6000, 1000};
    engine::toggleFullscreen();
    EXPECT_FALSE(engine::isFullscreen());
    EXPECT_EQ(fakes::calls[1], "move 632 260 656 519 repaint");
}

TEST_F(WindowTest, NoticeInFullscreenOffTheListUsesPrimary) {
    fakes::windowMonitor = engine::Rect{5000, 0, 6000, 1000};
    engine::showMessage("Hello");
    EXPECT_EQ(fakes::calls, (Calls{"move 0 0 1919 1079", "notice Hello", "move 0 0 1920 1080"}));
    EXPECT_FALSE(engine::messageBoxOpenForTests());
}

TEST_F(WindowTest, NoticeWhenWindowedDoesNotMove) {
    engine::toggleFullscreen();
    fakes::calls.clear();
    engine::showMessage("Hello");
    EXPECT_EQ(fakes::calls, (Calls{"notice Hello"}));
}

// ---- Display change ----------------------------------------------------------

TEST_F(WindowTest, DisplayChangeIgnoredBeforeGraphics) {
    engine::onDisplayChange();
    EXPECT_TRUE(fakes::calls.empty());
}

TEST_F(WindowTest, DisplayChangeMovesBackToPrimary) {
    fakes::startEngine({device("A", primary, 0, 0, 1920, 1080, 60),
                        device("B", attached, 1920, 0, 1280, 1024, 60)});
    engine::setGraphicsInitialised();
    fakes::windowMonitor = engine::Rect{1920, 0, 3200, 1024};
    engine::onDisplayChange();
    EXPECT_TRUE(engine::isFullscreen());
    EXPECT_EQ(fakes::calls, (Calls{"style 0x90000000", "move 0 0 1920 1080 repaint", "invalidate"}));
}

TEST_F(WindowTest, DisplayChangeToATooSmallSingleDisplayGoesFullscreen) {
    engine::setGraphicsInitialised();
    engine::toggleFullscreen();
    ASSERT_FALSE(engine::isFullscreen());
    fakes::devices = {device("A", primary, 0, 0, 800, 500, 60)};  // work area 800x460
    fakes::windowMonitor = engine::Rect{0, 0, 800, 500};
    fakes::calls.clear();
    engine::onDisplayChange();
    EXPECT_TRUE(engine::isFullscreen());
    EXPECT_EQ(fakes::calls, (Calls{"style 0x90000000", "move 0 0 800 500 repaint", "invalidate"}));
}

// ---- Cursor -------------------------------------------------------------------

TEST_F(WindowTest, ClipRectIsClampedToTheClient) {
    struct Case {
        int32_t x, y, width, height;
        engine::Rect expected;
    };
    fakes::clientWidth = 600;
    fakes::clientHeight = 400;
    const Case cases[] = {
        {0, 0, 640, 480, {0, 0, 600, 400}},
        {-20, -40, 640, 480, {0, 0, 600, 400}},  // picture larger than the client
        {10, 20, 100, 100, {10, 20, 110, 120}},
    };
    for (const Case& c : cases) {
        engine::setCursorClipRect(c.x, c.y, c.width, c.height);
        const engine::Rect& r = engine::cursorClipRectForTests();
        EXPECT_EQ(r.left, c.expected.left);
        EXPECT_EQ(r.top, c.expected.top);
        EXPECT_EQ(r.right, c.expected.right);
        EXPECT_EQ(r.bottom, c.expected.bottom);
    }
    fakes::clientSizeFails = true;
    engine::setCursorClipRect(10, 20, 100, 100);
    EXPECT_EQ(engine::cursorClipRectForTests().right, 0);
    EXPECT_EQ(engine::cursorClipRectForTests().bottom, 0);
}

TEST_F(WindowTest, ClipInScreenCoordinatesOnlyInFullscreen) {
    engine::applyCursorClip();  // before the first viewport: nothing
    EXPECT_TRUE(fakes::calls.empty());
    fakes::clientOrigin = engine::Point{100, 10};
    engine::setCursorClipRect(320, 60, 1280, 960);
    EXPECT_EQ(fakes::calls, (Calls{"clip 420 70 1700 1030"}));
    engine::toggleFullscreen();
    fakes::calls.clear();
    engine::applyCursorClip();
    EXPECT_TRUE(engine::onActivate(2, false));
    EXPECT_EQ(fakes::calls, (Calls{"clip none"}));  // only the clip it set is released
}

TEST_F(WindowTest, ClipOnlyWhileActiveAndNotMinimised) {
    engine::setCursorClipRect(0, 0, 640, 480);
    EXPECT_FALSE(engine::onActivate(0, false));  // WA_INACTIVE
    engine::setCursorClipRect(0, 0, 640, 480);   // a resize while inactive
    EXPECT_TRUE(engine::onActivate(2, false));   // WA_CLICKACTIVE
    EXPECT_FALSE(engine::onActivate(1, true));   // activated while minimised
    EXPECT_TRUE(engine::onActivate(1, false));
    engine::noteMinimised(true);  // WM_SIZE, SIZE_MINIMIZED
    engine::setCursorClipRect(0, 0, 640, 480);
    engine::noteMinimised(false);  // restored
    engine::setCursorClipRect(0, 0, 640, 480);
    EXPECT_EQ(fakes::calls, (Calls{"clip 0 0 640 480", "clip none", "clip 0 0 640 480", "clip none",
                                   "clip 0 0 640 480", "clip none", "clip 0 0 640 480"}));
}

// Clipping to an empty rectangle or to one off the desktop would pin the
// cursor; the clip is released instead.
TEST_F(WindowTest, NoClipToAnEmptyOrOffScreenRectangle) {
    struct Case {
        const char* name;
        engine::Point origin;
        int32_t clientWidth;
    };
    const Case cases[] = {
        {"empty client", {0, 0}, 0},
        {"off the desktop", {-32000, -32000}, 1920},  // where a minimised window lies
        {"right of the desktop", {1920, 0}, 1920},
    };
    for (const Case& c : cases) {
        SetUp();
        engine::setCursorClipRect(320, 60, 1280, 960);
        fakes::calls.clear();
        fakes::clientOrigin = c.origin;
        fakes::clientWidth = c.clientWidth;
        engine::setCursorClipRect(320, 60, 1280, 960);
        EXPECT_EQ(fakes::calls, (Calls{"clip none"})) << c.name;
    }
    fakes::clientOrigin = engine::Point{-100, 0};  // partly on the desktop: clipped
    fakes::clientWidth = 1920;
    engine::setCursorClipRect(320, 60, 1280, 960);
    EXPECT_EQ(fakes::calls.back(), "clip 220 60 1500 1020");
}

TEST_F(WindowTest, CursorOnThePictureExcludesRightAndBottomEdges) {
    engine::setCursorClipRect(320, 60, 1280, 960);
    struct Case {
        int32_t x, y;
        bool onPicture;
    };
    const Case cases[] = {{320, 60, true}, {1599, 1019, true}, {1600, 500, false},
                          {500, 1020, false}, {319, 500, false}, {500, 59, false}};
    for (const Case& c : cases) {
        fakes::cursor = engine::Point{c.x, c.y};
        int32_t x, y;
        EXPECT_EQ(engine::getCursorPosition(x, y), c.onPicture) << c.x << "," << c.y;
        EXPECT_EQ(x, c.x);
        EXPECT_EQ(y, c.y);
    }
}

TEST_F(WindowTest, CursorNeverOnThePictureBeforeTheViewport) {
    int32_t x, y;
    fakes::cursor = engine::Point{5, 5};
    EXPECT_FALSE(engine::getCursorPosition(x, y));
    engine::onSetCursor();
    EXPECT_TRUE(fakes::calls.empty());
}

TEST_F(WindowTest, CursorHiddenOverThePictureShownElsewhere) {
    engine::setCursorClipRect(320, 60, 1280, 960);
    fakes::calls.clear();
    fakes::cursor = engine::Point{400, 400};
    engine::onSetCursor();
    engine::onSetCursor();
    fakes::cursor = engine::Point{10, 10};
    engine::onSetCursor();
    engine::onSetCursor();
    EXPECT_EQ(fakes::calls, (Calls{"hide cursor", "show cursor"}));
}

// A window 800x480 wide at screen (640, 291), its picture 640x480 in the
// middle, and the cursor hidden over it.
class DragTest : public WindowTest {
protected:
    static constexpr engine::Point picture{1000, 500};  // client (360, 209)
    static constexpr engine::Point border{650, 500};    // client (10, 209): beside the picture
    static constexpr engine::Point frame{636, 400};     // client (-4, 109): the window's frame
    static constexpr engine::Point outside{5, 5};       // client (-635, -286)

    void SetUp() override {
        WindowTest::SetUp();
        engine::toggleFullscreen();
        fakes::clientWidth = 800;
        fakes::clientHeight = 480;
        fakes::clientOrigin = engine::Point{640, 291};
        engine::setCursorClipRect(80, 0, 640, 480);
        moveTo(picture);
        engine::onSetCursor();
        fakes::calls.clear();
    }
    static void moveTo(engine::Point screen) { fakes::cursor = screen; }
};

// While the mouse is captured the system sends no WM_SETCURSOR, not even
// over the window: the moves carry the rule, each change counted once.
TEST_F(DragTest, CursorFollowsTheRuleWhileTheMouseIsCaptured) {
    engine::onMouseButton(true, true);
    for (engine::Point at : {border, picture, frame, outside, picture, outside}) {
        moveTo(at);
        engine::onMouseMove();
    }
    EXPECT_EQ(fakes::calls, (Calls{"capture", "show cursor", "hide cursor", "show cursor",
                                   "hide cursor", "show cursor"}));
}

// When the capture ends the cursor is set for where it is, as the next
// WM_SETCURSOR comes only with the next move: the button released, another
// window taking the capture, the focus lost.
TEST_F(DragTest, CursorSetWhereItIsWhenTheCaptureEnds) {
    const std::pair<const char*, void (*)()> endings[] = {
        {"button released", [] { engine::onMouseButton(false, false); }},
        {"capture taken", [] { engine::onCaptureChanged(); }},
        {"focus lost", [] { engine::onFocusLost(); }},
    };
    for (auto [name, endCapture] : endings) {
        SetUp();
        engine::onMouseButton(false, true);
        moveTo(border);  // no move dispatched since
        endCapture();
        EXPECT_EQ(fakes::calls.back(), "show cursor") << name;
        fakes::calls.clear();
        engine::onMouseButton(false, true);
        moveTo(picture);
        endCapture();
        EXPECT_EQ(fakes::calls.back(), "hide cursor") << name;
    }
}

// Without the capture, WM_SETCURSOR does the work: uncaptured moves and
// every move in fullscreen, where a press takes no capture, change nothing.
TEST_F(DragTest, MovesWithoutTheCaptureLeaveTheCursorAlone) {
    moveTo(border);
    engine::onMouseMove();
    engine::toggleFullscreen();
    fakes::calls.clear();
    engine::onMouseButton(true, true);
    engine::onMouseMove();
    EXPECT_TRUE(fakes::calls.empty());
}

TEST_F(WindowTest, CursorShownWhileANoticeIsOpen) {
    static bool calledFromNotice;
    calledFromNotice = false;
    engine::setCursorClipRect(320, 60, 1280, 960);
    fakes::cursor = engine::Point{400, 400};
    engine::onSetCursor();
    // The notice's modal loop dispatches WM_SETCURSOR to the window.
    static engine::WindowPlatform platform;
    platform = fakes::windowPlatform;
    platform.notice = [](void*, const std::string&) {
        engine::onSetCursor();
        calledFromNotice = true;
    };
    engine::initWindowState(platform);
    fakes::calls.clear();
    engine::showMessage("Hello");
    EXPECT_TRUE(calledFromNotice);
    EXPECT_EQ(fakes::calls, (Calls{"move 0 0 1919 1079", "show cursor", "move 0 0 1920 1080"}));
}

}  // namespace
