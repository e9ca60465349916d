// The main window, keyboard and mouse state.
//
// The decisions (taps, placements, the fullscreen switch, the cursor clip and
// visibility) run over a WindowPlatform: the Windows one in the product, a
// recording one in tests.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "engine/display.h"
#include "engine/engine.h"

namespace engine {

// hInstance is the program's HINSTANCE, passed untyped to keep this header
// free of Windows headers.
void createWindow(void* hInstance);
// Hides the main window if it exists and shows the cursor. keyStates,
// getMouseButtons and getCursorPosition are declared in engine/engine.h.
void hideWindow();

// ---- Window state and decisions (engine.window) ---------------------------

constexpr uint32_t styleFullscreen = 0x80000000;  // WS_POPUP
constexpr uint32_t styleWindowed = 0x80CE0000;    // popup, caption, system menu, frame, minimise
constexpr uint32_t styleVisible = 0x10000000;     // WS_VISIBLE

struct Point {
    int32_t x = 0;
    int32_t y = 0;
};

struct WindowPlacement {
    int32_t x = 0;
    int32_t y = 0;
    int32_t width = 0;
    int32_t height = 0;
    uint32_t style = 0;
};

// The window-system calls the decisions need.
struct WindowPlatform {
    // The rectangle enlarged for the style's frame (no menu) at this DPI;
    // 0: at the system's DPI.
    Rect (*adjustWindowRect)(Rect client, uint32_t style, uint32_t dpi);
    // The window's DPI, 0 where the system cannot tell.
    uint32_t (*windowDpi)(void* window);
    // false when the client rectangle cannot be read.
    bool (*clientSize)(void* window, int32_t& width, int32_t& height);
    void (*setStyle)(void* window, uint32_t style);
    void (*moveWindow)(void* window, int32_t x, int32_t y, int32_t width, int32_t height,
                       bool repaint);
    void (*invalidate)(void* window);
    // The modal notice "Quorlen" with the exclamation icon, topmost.
    void (*notice)(void* window, const std::string& message);
    Point (*clientToScreen)(void* window, Point point);
    Point (*screenToClient)(void* window, Point point);
    Point (*cursorPosition)();
    // A null rectangle removes the clip.
    void (*clipCursor)(const Rect* screenRect);
    void (*showCursor)(bool show);
    void (*copyScreenshot)(void* window);
    // SetCapture on the window, or ReleaseCapture.
    void (*captureMouse)(void* window, bool capture);
    // The virtual desktop, in screen coordinates.
    Rect (*virtualScreen)();
};

// Installs the platform and fills the key map; the window does not exist yet.
void initWindowState(const WindowPlatform& platform);
// Set once the platform has created the window.
void setMainWindow(void* window);
void* getMainWindow();
// The window's own DC (HDC), kept by the OpenGL set-up for the buffer swap.
void* getDeviceContext();
bool isFullscreen();

WindowPlacement computeWindowPlacement(const Display& display, bool fullscreen);
void getClientSize(int32_t& width, int32_t& height);
void setCursorClipRect(int32_t x, int32_t y, int32_t width, int32_t height);
// Clips the cursor to the picture while the window is fullscreen, active and
// not minimised; otherwise releases the clip it set.
void applyCursorClip();
void setCursorVisible(bool visible);
void showMessage(const std::string& message);
void toggleFullscreen();
void invalidateWindow();
// The scan code of a game key, or -1 for any other key.
int32_t gameKeyScanCode(uint32_t vk);
// The two ends of a guest message poll: releaseKeys before its pump ends the
// taps the game has read; markKeysSeen after it marks the rest as read.
void releaseKeys();
void markKeysSeen();
uint64_t hiWord(uint64_t value);
// The refresh rate of the window's display (the primary one when the window
// lies on no listed display).
int32_t currentRefreshRate();

// Message handlers; true when handled.
bool onKeyDown(uint32_t vk);
bool onKeyUp(uint32_t vk);
bool onActivate(uint32_t state, bool minimised);
// WM_SIZE: whether the window is now minimised (before the viewport follows).
void noteMinimised(bool minimised);
void onSetCursor();
// WM_MOUSEMOVE: the cursor's visibility follows it while the mouse is captured.
void onMouseMove();
// The minimum tracking size when windowed; false in fullscreen.
bool onGetMinMaxInfo(Point& minTrackSize);
void onDisplayChange();
// WM_DPICHANGED: the new DPI and the system's suggested window rectangle.
void onDpiChanged(uint32_t dpi, const Rect& suggested);
void onMouseButton(bool left, bool down);
// WM_KILLFOCUS (and deactivation): every held game key and button goes up.
void onFocusLost();
// WM_CAPTURECHANGED: the mouse was taken away while a button was down.
void onCaptureChanged();
// WM_SYSCOMMAND: true for the keyboard menu (Alt, F10), which is answered
// without default processing; any other command takes its default course.
bool onSystemCommand(uint64_t command);

// Test hooks.
const Rect& cursorClipRectForTests();
bool cursorClipSetForTests();
bool messageBoxOpenForTests();
void resetWindowForTests();

}  // namespace engine
