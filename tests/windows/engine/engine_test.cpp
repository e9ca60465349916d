// The engine's Windows side in one process under Wine: the window, the
// context, the pump, the frame wait and the x87 unit around them.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "engine/display.h"
#include "engine/graphics.h"
#include "engine/timer.h"
#include "engine/window.h"
#include "glwh/glwh.h"
#include "errors.h"
#include "log.h"

namespace {

HWND mainWindow() { return static_cast<HWND>(engine::getMainWindow()); }

// The style bits the engine sets (the system adds WS_CLIPSIBLINGS to every
// top-level window).
uint32_t windowStyle() {
    return static_cast<uint32_t>(GetWindowLongPtrW(mainWindow(), GWL_STYLE)) & 0xFFFF0000u &
           ~static_cast<uint32_t>(WS_CLIPSIBLINGS);
}

std::string logFolder() {
    char folder[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    return std::string(folder) + "engine_wine_tests";
}

// Starts the engine once, as the program's start-up does.
class EngineEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        CreateDirectoryA(logFolder().c_str(), nullptr);
        DeleteFileA((logFolder() + "\\log.txt").c_str());
        app::initLog(logFolder());
        engine::initDisplays(false);
        engine::createWindow(GetModuleHandleW(nullptr));
        engine::initGraphics(0);
        engine::initTimer();
        engine::initViewport();
    }
};
const auto* environment = ::testing::AddGlobalTestEnvironment(new EngineEnvironment);

// Pumps until the queue is empty, as the guest's polls would.
void pumpAll() {
    for (int i = 0; i < 5; ++i) engine::processMessages();
}

RECT windowRect() {
    RECT rect;
    GetWindowRect(mainWindow(), &rect);
    return rect;
}

TEST(EngineWindow, ClassTitleAndFullscreenPlacement) {
    wchar_t text[64];
    GetClassNameW(mainWindow(), text, 64);
    EXPECT_STREQ(text, L"MainWindow");
    GetWindowTextW(mainWindow(), text, 64);
    EXPECT_STREQ(text, L"Quorlen");
    EXPECT_EQ(windowStyle(), 0x90000000u);
    EXPECT_EQ(static_cast<uint32_t>(GetWindowLongPtrW(mainWindow(), GWL_EXSTYLE)) & WS_EX_APPWINDOW,
              static_cast<uint32_t>(WS_EX_APPWINDOW));
    engine::DisplayRef display = engine::primaryDisplay();
    RECT rect = windowRect();
    EXPECT_EQ(rect.left, display->x);
    EXPECT_EQ(rect.top, display->y);
    EXPECT_EQ(rect.right - rect.left, display->width);
    EXPECT_EQ(rect.bottom - rect.top, display->height);
    std::printf("display %dx%d at %d Hz, work area %dx%d, GL %d, tear %d\n",
                static_cast<int>(display->width), static_cast<int>(display->height),
                static_cast<int>(display->refreshRate), static_cast<int>(display->workWidth),
                static_cast<int>(display->workHeight), static_cast<int>(glwh::loadedGLVersion()),
                glwh::isSwapControlTearAvailable() ? 1 : 0);
}

TEST(EngineWindow, F11SwitchesToAWindowedClientOf640x480AndBack) {
    SendMessageW(mainWindow(), WM_KEYDOWN, VK_F11, 0);
    pumpAll();
    EXPECT_FALSE(engine::isFullscreen());
    int32_t width, height;
    engine::getClientSize(width, height);
    EXPECT_EQ(width, 640);
    EXPECT_EQ(height, 480);
    EXPECT_EQ(windowStyle(), 0x90CE0000u);
    engine::DisplayRef display = engine::primaryDisplay();
    RECT rect = windowRect();
    int32_t outerWidth = rect.right - rect.left;
    EXPECT_EQ(rect.left, display->workX + (display->workWidth - outerWidth) / 2);

    SendMessageW(mainWindow(), WM_KEYDOWN, VK_F11, 0);
    pumpAll();
    EXPECT_TRUE(engine::isFullscreen());
    rect = windowRect();
    EXPECT_EQ(rect.right - rect.left, display->width);
    EXPECT_EQ(rect.bottom - rect.top, display->height);
}

TEST(EngineWindow, DisplayChangeKeepsTheWindowOnThePrimaryDisplay) {
    SendMessageW(mainWindow(), WM_DISPLAYCHANGE, 24, MAKELPARAM(1920, 1080));
    pumpAll();
    EXPECT_TRUE(engine::isFullscreen());
    engine::DisplayRef display = engine::primaryDisplay();
    RECT rect = windowRect();
    EXPECT_EQ(rect.left, display->x);
    EXPECT_EQ(rect.right - rect.left, display->width);
    EXPECT_EQ(rect.bottom - rect.top, display->height);
}

RECT cursorClip() {
    RECT rect;
    GetClipCursor(&rect);
    return rect;
}

std::string text(const RECT& r) {
    return std::to_string(r.left) + " " + std::to_string(r.top) + " " + std::to_string(r.right) +
           " " + std::to_string(r.bottom);
}

// The picture's rectangle on the screen, and the whole desktop (no clip).
std::string pictureOnScreen() {
    const engine::Rect& picture = engine::cursorClipRectForTests();
    POINT origin{0, 0};
    ClientToScreen(mainWindow(), &origin);
    return text(RECT{picture.left + origin.x, picture.top + origin.y, picture.right + origin.x,
                     picture.bottom + origin.y});
}

std::string desktop() {
    int x = GetSystemMetrics(SM_XVIRTUALSCREEN), y = GetSystemMetrics(SM_YVIRTUALSCREEN);
    return text(RECT{x, y, x + GetSystemMetrics(SM_CXVIRTUALSCREEN),
                     y + GetSystemMetrics(SM_CYVIRTUALSCREEN)});
}

TEST(EngineWindow, CursorClippedOnlyWhileActiveAndNotMinimised) {
    pumpAll();
    ASSERT_TRUE(engine::isFullscreen());
    SendMessageW(mainWindow(), WM_ACTIVATE, WA_ACTIVE, 0);
    EXPECT_EQ(text(cursorClip()), pictureOnScreen());
    SendMessageW(mainWindow(), WM_ACTIVATE, WA_INACTIVE, 0);
    EXPECT_EQ(text(cursorClip()), desktop());
    SendMessageW(mainWindow(), WM_ACTIVATE, WA_CLICKACTIVE, 0);
    EXPECT_EQ(text(cursorClip()), pictureOnScreen());
    ShowWindow(mainWindow(), SW_MINIMIZE);
    pumpAll();
    EXPECT_EQ(text(cursorClip()), desktop());
    ShowWindow(mainWindow(), SW_RESTORE);
    SendMessageW(mainWindow(), WM_ACTIVATE, WA_ACTIVE, 0);
    pumpAll();
    EXPECT_EQ(text(cursorClip()), pictureOnScreen());
    RECT rect = windowRect();
    EXPECT_EQ(rect.right - rect.left, engine::primaryDisplay()->width);
}

TEST(EngineWindow, TapIsSeenForOnePoll) {
    pumpAll();
    PostMessageW(mainWindow(), WM_KEYDOWN, VK_RETURN, 0);
    PostMessageW(mainWindow(), WM_KEYUP, VK_RETURN, 0);
    engine::processMessages();
    EXPECT_EQ(engine::keyStates()[28], 1);
    engine::processMessages();
    EXPECT_EQ(engine::keyStates()[28], 0);
}

TEST(EngineWindow, ButtonsAndHostKeys) {
    PostMessageW(mainWindow(), WM_LBUTTONDOWN, 0, 0);
    PostMessageW(mainWindow(), WM_RBUTTONDOWN, 0, 0);
    engine::processMessages();
    bool left, right;
    engine::getMouseButtons(left, right);
    EXPECT_TRUE(left);
    EXPECT_TRUE(right);
    PostMessageW(mainWindow(), WM_LBUTTONUP, 0, 0);
    PostMessageW(mainWindow(), WM_RBUTTONUP, 0, 0);
    PostMessageW(mainWindow(), WM_KEYDOWN, 'A', 0);
    engine::processMessages();
    engine::getMouseButtons(left, right);
    EXPECT_FALSE(left);
    EXPECT_FALSE(right);
    for (uint8_t byte : engine::keyStates()) EXPECT_EQ(byte, 0);
}

bool cursorShowing() {
    CURSORINFO info{};
    info.cbSize = sizeof info;
    GetCursorInfo(&info);
    return (info.flags & CURSOR_SHOWING) != 0;
}

// The cursor moves, then its message: the engine reads the position itself.
void moveCursor(UINT message, POINT client) {
    POINT screen = client;
    ClientToScreen(mainWindow(), &screen);
    SetCursorPos(screen.x, screen.y);
    SendMessageW(mainWindow(), message, message == WM_LBUTTONUP ? 0 : MK_LBUTTON,
                 MAKELPARAM(client.x, client.y));
}

// Windowed, a drag from the picture holds the capture, under which no
// WM_SETCURSOR comes: the moves and the release show and hide the cursor.
TEST(EngineWindow, CursorFollowsADragOutOfTheWindow) {
    SendMessageW(mainWindow(), WM_KEYDOWN, VK_F11, 0);
    pumpAll();
    ASSERT_FALSE(engine::isFullscreen());
    const POINT picture{320, 240}, outside{-40, -60};
    moveCursor(WM_SETCURSOR, picture);
    EXPECT_FALSE(cursorShowing());
    moveCursor(WM_LBUTTONDOWN, picture);
    EXPECT_EQ(GetCapture(), mainWindow());
    moveCursor(WM_MOUSEMOVE, outside);
    EXPECT_TRUE(cursorShowing());
    moveCursor(WM_MOUSEMOVE, picture);
    EXPECT_FALSE(cursorShowing());
    moveCursor(WM_LBUTTONUP, outside);  // released outside with no move before
    EXPECT_EQ(GetCapture(), nullptr);
    EXPECT_TRUE(cursorShowing());
    SendMessageW(mainWindow(), WM_KEYDOWN, VK_F11, 0);
    pumpAll();
    EXPECT_TRUE(engine::isFullscreen());
}

TEST(EngineWindow, MouseActivateEatsTheClick) {
    EXPECT_EQ(SendMessageW(mainWindow(), WM_MOUSEACTIVATE, 0, 0), MA_ACTIVATEANDEAT);
}

TEST(EnginePump, QuitWindowIsTakenByThePoll) {
    pumpAll();
    engine::quitWindow();
    EXPECT_TRUE(engine::processMessages());
    EXPECT_FALSE(engine::processMessages());  // consumed, not posted again
}

TEST(EnginePump, QuitDuringTheFrameWaitEndsIt) {
    engine::processMessages();
    engine::waitForNextFrame();
    engine::quitWindow();
    bool quit = false;
    for (int i = 0; i < 3 && !quit; ++i) quit = engine::waitForNextFrame();
    EXPECT_TRUE(quit);
}

// Prints the spread of single frames too: a timer that fires on the system
// tick shows as frames of about 16 and 31 ms instead of 20.
TEST(EnginePump, FiftyFramesTakeAboutOneSecond) {
    engine::processMessages();
    engine::waitForNextFrame();  // back on the schedule
    int64_t start = engine::currentTime();
    int64_t frameEnd = start, shortest = INT64_MAX, longest = 0;
    int offByMoreThan2ms = 0;
    for (int frame = 0; frame < 50; ++frame) {
        engine::processMessages();
        ASSERT_FALSE(engine::waitForNextFrame());
        int64_t now = engine::currentTime();
        int64_t interval = now - frameEnd;
        frameEnd = now;
        shortest = std::min(shortest, interval);
        longest = std::max(longest, interval);
        if (interval < engine::ticksPerFrame - 20000 || interval > engine::ticksPerFrame + 20000)
            ++offByMoreThan2ms;
        engine::clearScreen();
        engine::swapBuffers();
    }
    int64_t elapsed = engine::currentTime() - start;
    std::printf("50 frames in %lld us; single frames %lld to %lld us, %d off by more than 2 ms; "
                "%s frame timer\n",
                static_cast<long long>(elapsed / 10), static_cast<long long>(shortest / 10),
                static_cast<long long>(longest / 10), offByMoreThan2ms,
                engine::isFrameTimerHighResolution() ? "high-resolution" : "plain");
    EXPECT_GT(elapsed, 9000000);
    EXPECT_LT(elapsed, 30000000);  // generous: a loaded machine may run late
}

TEST(EngineGraphics, ContextAndSwapInterval) {
    EXPECT_GE(glwh::loadedGLVersion(), 33);
    EXPECT_LE(glwh::loadedGLVersion(), 45);
    EXPECT_TRUE(engine::isGraphicsInitialised());
    // Without the tear extension the adaptive interval becomes 1, not a fault.
    engine::setVSync(true);
    engine::setVSync(false);
    EXPECT_EQ(engine::activeSwapMode(), 0);
}

template <typename Function>
Function openglFunction(const char* name) {
    return reinterpret_cast<Function>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"opengl32.dll"), name)));
}

TEST(EngineGraphics, BelowVersion30TheLegacyContextIsReturned) {
    auto currentContext = openglFunction<HGLRC(WINAPI*)()>("wglGetCurrentContext");
    auto makeCurrent = openglFunction<BOOL(WINAPI*)(HDC, HGLRC)>("wglMakeCurrent");
    auto deleteContext = openglFunction<BOOL(WINAPI*)(HGLRC)>("wglDeleteContext");
    auto getString = openglFunction<const char*(WINAPI*)(unsigned)>("glGetString");
    ASSERT_TRUE(currentContext && makeCurrent && deleteContext && getString);
    HGLRC mainContext = currentContext();
    HWND window = CreateWindowExW(0, L"STATIC", L"legacy", WS_POPUP, 0, 0, 64, 64, nullptr,
                                  nullptr, nullptr, nullptr);
    HDC dc = GetDC(window);
    void* legacy = glwh::createGLContext(21, dc, 0);
    ASSERT_NE(legacy, nullptr);
    EXPECT_EQ(currentContext(), static_cast<HGLRC>(legacy));
    EXPECT_NE(getString(0x1F02 /* GL_VERSION */), nullptr);
    makeCurrent(static_cast<HDC>(engine::graphicsDeviceContext()), mainContext);
    deleteContext(static_cast<HGLRC>(legacy));
    ReleaseDC(window, dc);
    DestroyWindow(window);
    engine::clearScreen();
    engine::swapBuffers();
}

TEST(EngineGraphics, ShaderSourcesAreResources) {
    for (const char* name : {"spriteVertex", "spriteFragment", "rectangleVertex", "rectangleFragment"}) {
        std::string source = engine::loadShaderSource(name);
        EXPECT_EQ(source.rfind("#version 330", 0), 0u) << name;
    }
    EXPECT_TRUE(engine::loadShaderSource("missing").empty());
}

// ---- The x87 unit ------------------------------------------------------------

// FNSAVE image: control, status and tag words, then the instruction and
// operand pointers, then the eight registers.
struct X87State {
    uint8_t bytes[108];
    uint16_t control() const { return word(0); }
    uint16_t status() const { return word(4); }
    uint16_t tags() const { return word(8); }
    uint16_t word(int offset) const { return static_cast<uint16_t>(bytes[offset] | bytes[offset + 1] << 8); }
    bool sameRegisters(const X87State& other) const {
        return std::memcmp(bytes + 28, other.bytes + 28, 80) == 0;
    }
};

void fillX87() {
    const uint16_t control = 0x0E7F;  // 64-bit precision, round up, all masked
    const double values[8] = {1.5, -2.25, 3.0e100, 1.0e-300, 7.0, -0.0, 12345.678, 0.1};
    asm volatile("fninit\n\tfldcw %0" : : "m"(control));
    for (double value : values) asm volatile("fldl %0" : : "m"(value));
}

X87State saveX87() {
    X87State state;
    asm volatile("fnsave %0\n\tfrstor %0" : "=m"(state.bytes));
    return state;
}

void expectX87Kept(const char* name, void (*call)()) {
    fillX87();
    X87State before = saveX87();
    call();
    X87State after = saveX87();
    asm volatile("fninit");
    EXPECT_EQ(after.control(), before.control()) << name;
    EXPECT_EQ(after.status(), before.status()) << name;
    EXPECT_EQ(after.tags(), before.tags()) << name;
    EXPECT_TRUE(after.sameRegisters(before)) << name;
}

TEST(EngineX87, EntryPointsUsedWhileTheGuestRunsKeepTheUnit) {
    engine::processMessages();
    PostMessageW(mainWindow(), WM_KEYDOWN, VK_RETURN, 0);
    PostMessageW(mainWindow(), WM_KEYUP, VK_RETURN, 0);
    expectX87Kept("processMessages", [] { engine::processMessages(); });
    expectX87Kept("waitForNextFrame", [] { engine::waitForNextFrame(); });
    expectX87Kept("swapBuffers", [] { engine::swapBuffers(); });
    expectX87Kept("currentTime", [] { engine::currentTime(); });
    expectX87Kept("clearScreen", [] { engine::clearScreen(); });
    expectX87Kept("drawRectangle", [] { engine::drawRectangle(10, 20, 30, 40, 0x123456); });
    expectX87Kept("input state", [] {
        int32_t x, y;
        bool left, right;
        engine::getCursorPosition(x, y);
        engine::getMouseButtons(left, right);
    });
    // The host keys run inside the guest's message poll too: the switch to a
    // window and back (viewport, clip, swap interval) and a screenshot.
    expectX87Kept("host keys", [] {
        for (WPARAM key : {WPARAM{VK_F11}, WPARAM{0x34}, WPARAM{VK_F11}}) {  // F11, 4, F11
            PostMessageW(mainWindow(), WM_KEYDOWN, key, 0);
            engine::processMessages();
        }
    });
    EXPECT_TRUE(engine::isFullscreen());
    expectX87Kept("quitWindow", [] { engine::quitWindow(); });
    EXPECT_TRUE(engine::processMessages());
}

// ---- An exception inside the window procedure -------------------------------

bool noDevice(uint32_t, engine::DisplayDevice&) { return false; }
engine::DisplayMode noMode(const engine::DisplayDevice&) { return engine::DisplayMode{}; }
engine::Rect noRect(int32_t, int32_t) { return engine::Rect{}; }
engine::Rect noMonitor(void*) { return engine::Rect{}; }

// Last: it leaves a pending abort behind (cleared at the end).
TEST(EngineZWindowProcedure, ExceptionIsHeldAndRaisedAfterTheDispatch) {
    pumpAll();
    static const engine::DisplaySource noDisplays{noDevice, noMode, noRect, noMonitor};
    EXPECT_THROW(engine::initDisplays(false, noDisplays), app::AbortProgramException);
    app::resetErrorsForTests();
    app::resetLogForTests();
    DeleteFileA((logFolder() + "\\log.txt").c_str());
    app::initLog(logFolder());

    // A display change now finds no display: the handler's abort is held.
    PostMessageW(mainWindow(), WM_DISPLAYCHANGE, 24, MAKELPARAM(1920, 1080));
    try {
        engine::processMessages();
        ADD_FAILURE() << "no exception out of the pump";
    } catch (const app::AbortProgramException& e) {
        EXPECT_EQ(e.type, app::ErrorType::program);
    }
    app::resetLogForTests();
    std::FILE* file = std::fopen((logFolder() + "\\log.txt").c_str(), "rb");
    ASSERT_NE(file, nullptr);
    char text[1000] = {};
    std::fread(text, 1, sizeof text - 1, file);
    std::fclose(file);
    EXPECT_STREQ(text,
                 "No capable displays found\r\n"
                 "Exception occurred in window message handler\r\n"
                 "AbortProgramException@errors(28): graphicsHardwareUnsupported\r\n");

    app::resetErrorsForTests();
    app::initLog(logFolder());
    engine::initDisplays(false);
}

}  // namespace
