// engine.window: key taps, mouse buttons, placements, the fullscreen switch,
// the cursor clip and visibility. The window-system calls go through the
// installed WindowPlatform.
#include <algorithm>
#include <array>
#include <vector>

#include "engine/graphics.h"
#include "engine/window.h"
#include "types.h"

namespace engine {

namespace {

const WindowPlatform* platform = nullptr;
void* mainWindow = nullptr;
bool fullscreen = true;
bool cursorClipSet = false;
Rect cursorClipRect;
// The cursor is a shared resource: it is clipped only while the window is
// active and not minimised, and only a clip of our own is released.
bool windowActive = false;
bool windowMinimised = false;
bool cursorClipped = false;
bool cursorVisible = true;
bool leftButton = false;
bool rightButton = false;
std::array<uint8_t, 256> keyState{};
// Taps. The game reads the key state after each of its message polls. A game
// key that goes down and up before the game has read it stays down until the
// read after that: pressedKeys went down since the game last read the keys,
// releasedKeys went up again since then, seenReleasedKeys are such taps that
// the game has now read once.
std::vector<uint32_t> pressedKeys;
std::vector<uint32_t> releasedKeys;
std::vector<uint32_t> seenReleasedKeys;
// Game keys whose last message was a key-down.
std::vector<uint32_t> heldKeys;
// The window holds the mouse capture while a button is down (windowed).
bool mouseCaptured = false;
bool messageBoxOpen = false;

struct GameKey {
    uint32_t vk;
    int32_t scanCode;
};
// The codes the game's input library indexes its key table with.
constexpr std::array<GameKey, 6> scanCodes{{
    {0x1B, 1},   // Esc
    {0x70, 59},  // F1
    {0x0D, 28},  // Enter
    {0x31, 2},   // 1
    {0x32, 3},   // 2
    {0x33, 4},   // 3
}};

constexpr uint32_t vkFour = 0x34;
constexpr uint32_t vkF11 = 0x7A;
constexpr uint32_t vkF12 = 0x7B;
constexpr uint32_t inactiveState = 0;     // WA_INACTIVE
constexpr uint32_t activeState = 1;       // WA_ACTIVE
constexpr uint32_t clickActiveState = 2;  // WA_CLICKACTIVE
constexpr uint64_t scKeyMenu = 0xF100;     // SC_KEYMENU; the low four bits are the system's

const WindowPlatform& windowPlatform() {
    if (platform == nullptr) throw app::RangeError("No window platform installed");
    return *platform;
}

bool contains(const std::vector<uint32_t>& keys, uint32_t vk) {
    return std::find(keys.begin(), keys.end(), vk) != keys.end();
}

void remove(std::vector<uint32_t>& keys, uint32_t vk) {
    keys.erase(std::remove(keys.begin(), keys.end(), vk), keys.end());
}

void setKeyByte(uint32_t vk, uint8_t value) {
    keyState.at(static_cast<size_t>(gameKeyScanCode(vk))) = value;
}

// The outer size of a window whose client area is 640x480 in windowed style.
// The frame is drawn at the DPI of the window's monitor.
Point windowedSize(uint32_t dpi) {
    Rect rect =
        windowPlatform().adjustWindowRect(Rect{0, 0, gameWidth, gameHeight}, styleWindowed, dpi);
    return Point{rect.right - rect.left, rect.bottom - rect.top};
}

Point windowedSize() {
    return windowedSize(mainWindow != nullptr ? windowPlatform().windowDpi(mainWindow) : 0);
}

bool tooSmallForWindow(const Display& display, const WindowPlacement& placement) {
    return display.workWidth < placement.width || display.workHeight < placement.height;
}

// The window's listed display, or the primary one when the window lies on a
// monitor whose device was rejected.
DisplayRef windowDisplayOrPrimary() {
    DisplayRef display = displayForWindow(mainWindow);
    return display != nullptr ? display : primaryDisplay();
}

// Hidden over the picture, shown over its borders, the frame and outside,
// and shown while a notice is open.
void updateCursorVisibility() {
    if (mainWindow == nullptr || !cursorClipSet) return;
    int32_t x, y;
    setCursorVisible(messageBoxOpen || !getCursorPosition(x, y));
}

// Once the capture ends, WM_SETCURSOR comes back only with the next move,
// so the cursor is set for where it is now.
void releaseMouseCapture() {
    if (!mouseCaptured) return;
    mouseCaptured = false;  // first: the release sends WM_CAPTURECHANGED
    windowPlatform().captureMouse(mainWindow, false);
    updateCursorVisibility();
}

bool isEmpty(const Rect& r) { return r.right <= r.left || r.bottom <= r.top; }

bool overlaps(const Rect& a, const Rect& b) {
    return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

void releaseCursorClip() {
    if (!cursorClipped) return;
    cursorClipped = false;
    windowPlatform().clipCursor(nullptr);
}

void applyPlacement(const WindowPlacement& placement) {
    const WindowPlatform& p = windowPlatform();
    p.setStyle(mainWindow, placement.style | styleVisible);
    p.moveWindow(mainWindow, placement.x, placement.y, placement.width, placement.height, true);
    invalidateWindow();
    setVSync(fullscreen);
}

}  // namespace

void initWindowState(const WindowPlatform& windowPlatform) { platform = &windowPlatform; }
void setMainWindow(void* window) { mainWindow = window; }
void* getMainWindow() { return mainWindow; }
bool isFullscreen() { return fullscreen; }

std::span<uint8_t, 256> keyStates() { return keyState; }

void getMouseButtons(bool& left, bool& right) {
    left = leftButton;
    right = rightButton;
}

int32_t gameKeyScanCode(uint32_t vk) {
    for (const GameKey& key : scanCodes) {
        if (key.vk == vk) return key.scanCode;
    }
    return -1;
}

uint64_t hiWord(uint64_t value) { return static_cast<uint32_t>(value >> 16); }

WindowPlacement computeWindowPlacement(const Display& display, bool fullscreenPlacement) {
    if (fullscreenPlacement) {
        return WindowPlacement{display.x, display.y, display.width, display.height, styleFullscreen};
    }
    Point size = windowedSize();
    return WindowPlacement{display.workX + (display.workWidth - size.x) / 2,
                           display.workY + (display.workHeight - size.y) / 2, size.x, size.y,
                           styleWindowed};
}

void getClientSize(int32_t& width, int32_t& height) {
    if (!windowPlatform().clientSize(mainWindow, width, height)) {
        width = 0;
        height = 0;
    }
}

void invalidateWindow() { windowPlatform().invalidate(mainWindow); }

void setCursorClipRect(int32_t x, int32_t y, int32_t width, int32_t height) {
    int32_t clientWidth, clientHeight;
    getClientSize(clientWidth, clientHeight);
    if (x < 0) x = 0;
    if (x + width > clientWidth) width = clientWidth - x;
    if (y < 0) y = 0;
    if (y + height > clientHeight) height = clientHeight - y;
    cursorClipSet = true;
    cursorClipRect = Rect{x, y, x + width, y + height};
    applyCursorClip();
}

void applyCursorClip() {
    if (!cursorClipSet) return;
    const WindowPlatform& p = windowPlatform();
    if (!fullscreen || !windowActive || windowMinimised) {
        releaseCursorClip();
        return;
    }
    Point origin = p.clientToScreen(mainWindow, Point{0, 0});
    Rect screen{cursorClipRect.left + origin.x, cursorClipRect.top + origin.y,
                cursorClipRect.right + origin.x, cursorClipRect.bottom + origin.y};
    // An empty picture or one off the desktop would pin the cursor to a point.
    if (isEmpty(screen) || !overlaps(screen, p.virtualScreen())) {
        releaseCursorClip();
        return;
    }
    p.clipCursor(&screen);
    cursorClipped = true;
}

bool getCursorPosition(int32_t& x, int32_t& y) {
    const WindowPlatform& p = windowPlatform();
    Point client = p.screenToClient(mainWindow, p.cursorPosition());
    x = client.x;
    y = client.y;
    return cursorClipSet && cursorClipRect.left <= x && x < cursorClipRect.right &&
           cursorClipRect.top <= y && y < cursorClipRect.bottom;
}

void setCursorVisible(bool visible) {
    if (visible == cursorVisible) return;
    windowPlatform().showCursor(visible);
    cursorVisible = visible;
}

void onSetCursor() { updateCursorVisibility(); }

// While the window holds the capture the system sends it no WM_SETCURSOR,
// over the window or outside it: its mouse moves take that part.
void onMouseMove() {
    if (mouseCaptured) updateCursorVisibility();
}

void showMessage(const std::string& message) {
    const WindowPlatform& p = windowPlatform();
    messageBoxOpen = true;
    WindowPlacement placement;
    if (fullscreen) {
        placement = computeWindowPlacement(*windowDisplayOrPrimary(), true);
        // One pixel short of the display, so the notice shows above the picture.
        p.moveWindow(mainWindow, placement.x, placement.y, placement.width - 1,
                     placement.height - 1, false);
    }
    p.notice(mainWindow, message);
    if (fullscreen) {
        p.moveWindow(mainWindow, placement.x, placement.y, placement.width, placement.height,
                     false);
    }
    messageBoxOpen = false;
}

void toggleFullscreen() {
    DisplayRef display = displayForWindow(mainWindow);
    if (display == nullptr) {
        if (!fullscreen) {
            showMessage("Fullscreen mode is not supported on this monitor.");
            return;
        }
        display = primaryDisplay();
    }
    bool newFullscreen = !fullscreen;
    WindowPlacement placement = computeWindowPlacement(*display, newFullscreen);
    if (!newFullscreen && !hasMultipleDisplays() && tooSmallForWindow(*display, placement)) {
        showMessage("Windowed mode is not supported on this monitor.");
        return;
    }
    fullscreen = newFullscreen;
    applyPlacement(placement);
}

void onDisplayChange() {
    if (mainWindow == nullptr || !isGraphicsInitialised()) return;
    enumerateDisplays();
    DisplayRef display = windowDisplayOrPrimary();
    // The window goes back to the primary display.
    WindowPlacement placement = computeWindowPlacement(*primaryDisplay(), fullscreen);
    if (!fullscreen && !hasMultipleDisplays() && tooSmallForWindow(*display, placement)) {
        fullscreen = true;
        placement = computeWindowPlacement(*display, true);
    }
    applyPlacement(placement);
}

// Moved to a monitor of another DPI (or its DPI changed): the frame follows,
// the client area stays 640x480 pixels. A fullscreen window has no frame and
// keeps covering its display.
void onDpiChanged(uint32_t dpi, const Rect& suggested) {
    if (mainWindow == nullptr || fullscreen) return;
    Point size = windowedSize(dpi);
    windowPlatform().moveWindow(mainWindow, suggested.left, suggested.top, size.x, size.y, true);
}

int32_t currentRefreshRate() { return windowDisplayOrPrimary()->refreshRate; }

bool onKeyDown(uint32_t vk) {
    if (mainWindow == nullptr) return false;
    if (gameKeyScanCode(vk) >= 0) {
        setKeyByte(vk, 1);
        if (!contains(pressedKeys, vk)) pressedKeys.push_back(vk);
        if (!contains(heldKeys, vk)) heldKeys.push_back(vk);
        return true;
    }
    if (vk == vkFour || vk == vkF12) {
        windowPlatform().copyScreenshot(mainWindow);
        return true;
    }
    if (vk == vkF11) {
        toggleFullscreen();
        return true;
    }
    return false;
}

bool onKeyUp(uint32_t vk) {
    if (mainWindow == nullptr || gameKeyScanCode(vk) < 0) return false;
    remove(heldKeys, vk);
    // A key that went down since the game last read the keys stays down
    // until it has read them, so the game sees even the shortest tap.
    if (contains(pressedKeys, vk)) {
        releasedKeys.push_back(vk);
    } else {
        setKeyByte(vk, 0);
    }
    return true;
}

void releaseKeys() {
    for (uint32_t vk : seenReleasedKeys)
        if (!contains(pressedKeys, vk)) setKeyByte(vk, 0);
    seenReleasedKeys.clear();
}

// Keys pumped while the game waits for its frame come after this mark, so
// the next poll's releaseKeys leaves them for the game to read.
void markKeysSeen() {
    pressedKeys.clear();
    seenReleasedKeys = std::move(releasedKeys);
    releasedKeys.clear();
}

// Also recorded before the window handle is known: the window is first
// activated while it is being created.
bool onActivate(uint32_t state, bool minimised) {
    if (state == inactiveState) onFocusLost();
    windowActive = state == activeState || state == clickActiveState;
    windowMinimised = minimised;
    if (mainWindow == nullptr) return false;
    applyCursorClip();
    return windowActive && !minimised;
}

void noteMinimised(bool minimised) { windowMinimised = minimised; }

bool onGetMinMaxInfo(Point& minTrackSize) {
    if (mainWindow == nullptr || fullscreen) return false;
    minTrackSize = windowedSize();
    return true;
}

// A button released outside the window reaches it only while the window
// holds the capture. In fullscreen the clip keeps the cursor on the picture.
void onMouseButton(bool left, bool down) {
    (left ? leftButton : rightButton) = down;
    if (leftButton || rightButton) {
        if (mouseCaptured || fullscreen) return;
        mouseCaptured = true;
        windowPlatform().captureMouse(mainWindow, true);
    } else {
        releaseMouseCapture();
    }
}

// The key-up and button-up messages of what is held now go to another
// window: release it all here, as the player will.
void onFocusLost() {
    std::vector<uint32_t> held = heldKeys;
    for (uint32_t vk : held) onKeyUp(vk);
    leftButton = false;
    rightButton = false;
    releaseMouseCapture();
}

void onCaptureChanged() {
    if (!mouseCaptured) return;  // our own release
    mouseCaptured = false;
    leftButton = false;
    rightButton = false;
    updateCursorVisibility();
}

// The keyboard menu's modal loop would swallow the next key and hold the
// game inside the dispatch; the window has no menu to offer anyway.
bool onSystemCommand(uint64_t command) { return (command & 0xFFF0) == scKeyMenu; }

const Rect& cursorClipRectForTests() { return cursorClipRect; }
bool cursorClipSetForTests() { return cursorClipSet; }
bool messageBoxOpenForTests() { return messageBoxOpen; }

void resetWindowForTests() {
    platform = nullptr;
    mainWindow = nullptr;
    fullscreen = true;
    cursorClipSet = false;
    cursorClipRect = Rect{};
    windowActive = false;
    windowMinimised = false;
    cursorClipped = false;
    cursorVisible = true;
    leftButton = false;
    rightButton = false;
    keyState.fill(0);
    pressedKeys.clear();
    releasedKeys.clear();
    seenReleasedKeys.clear();
    heldKeys.clear();
    mouseCaptured = false;
    messageBoxOpen = false;
}

}  // namespace engine
