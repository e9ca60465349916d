#include "fakes.h"

#include "engine/graphics.h"
#include "engine/timer.h"
#include "errors.h"
#include "types.h"

namespace fakes {

std::vector<FakeDevice> devices;
engine::Rect windowMonitor;
std::vector<std::string> calls;
int32_t clientWidth = 0;
int32_t clientHeight = 0;
bool clientSizeFails = false;
engine::Point clientOrigin;
engine::Point cursor;
engine::Rect virtualScreen;
uint32_t dpi = 0;

namespace {

bool device(uint32_t index, engine::DisplayDevice& out) {
    if (index >= devices.size()) return false;
    out = devices[index].device;
    return true;
}

engine::DisplayMode currentMode(const engine::DisplayDevice& wanted) {
    for (const FakeDevice& d : devices) {
        if (d.device.name == wanted.name) return d.mode;
    }
    return engine::DisplayMode{};
}

engine::Rect workAreaAt(int32_t x, int32_t y) {
    for (const FakeDevice& d : devices) {
        // The monitor whose top-left corner is the point.
        if (d.workArea.left == x && d.workArea.top == y) return d.workArea;
    }
    return engine::Rect{};
}

engine::Rect monitorOfWindow(void*) { return windowMonitor; }

std::string rectText(const engine::Rect& r) {
    return app::format("%d %d %d %d", r.left, r.top, r.right, r.bottom);
}

// The frame grows with the DPI; 0 stands for the system's 96.
engine::Rect adjustWindowRect(engine::Rect r, uint32_t style, uint32_t dpi) {
    if (style != engine::styleWindowed) return r;
    int32_t scale = dpi == 0 ? 96 : static_cast<int32_t>(dpi);
    return engine::Rect{r.left - frameLeft * scale / 96, r.top - frameTop * scale / 96,
                        r.right + frameRight * scale / 96, r.bottom + frameBottom * scale / 96};
}

uint32_t windowDpi(void*) { return dpi; }

bool clientSize(void*, int32_t& width, int32_t& height) {
    if (clientSizeFails) return false;
    width = clientWidth;
    height = clientHeight;
    return true;
}

void setStyle(void*, uint32_t style) { calls.push_back(app::format("style 0x%x", style)); }

void moveWindow(void*, int32_t x, int32_t y, int32_t width, int32_t height, bool repaint) {
    calls.push_back(app::format("move %d %d %d %d%s", x, y, width, height, repaint ? " repaint" : ""));
}

void invalidate(void*) { calls.push_back("invalidate"); }
void notice(void*, const std::string& message) { calls.push_back("notice " + message); }

engine::Point clientToScreen(void*, engine::Point p) {
    return engine::Point{p.x + clientOrigin.x, p.y + clientOrigin.y};
}

engine::Point screenToClient(void*, engine::Point p) {
    return engine::Point{p.x - clientOrigin.x, p.y - clientOrigin.y};
}

engine::Point cursorPosition() { return cursor; }

void clipCursor(const engine::Rect* r) {
    calls.push_back(r == nullptr ? std::string("clip none") : "clip " + rectText(*r));
}

void showCursor(bool show) { calls.push_back(show ? "show cursor" : "hide cursor"); }
void copyScreenshot(void*) { calls.push_back("screenshot"); }
void captureMouse(void*, bool capture) { calls.push_back(capture ? "capture" : "release capture"); }
engine::Rect desktop() { return virtualScreen; }

}  // namespace

const engine::DisplaySource displaySource{device, currentMode, workAreaAt, monitorOfWindow};
const engine::WindowPlatform windowPlatform{
    adjustWindowRect, windowDpi,      clientSize,     setStyle,     moveWindow,
    invalidate,       notice,         clientToScreen, screenToClient, cursorPosition,
    clipCursor,       showCursor,     copyScreenshot, captureMouse, desktop};

FakeDevice device(const char* name, uint32_t flags, int32_t x, int32_t y, uint32_t width,
                  uint32_t height, uint32_t refreshRate) {
    std::u16string wide;
    for (const char* c = name; *c; ++c) wide.push_back(static_cast<char16_t>(*c));
    // The taskbar takes 40 pixels at the bottom of every work area.
    engine::Rect work{x, y, x + static_cast<int32_t>(width), y + static_cast<int32_t>(height) - 40};
    return FakeDevice{{wide, flags}, {x, y, width, height, refreshRate}, work};
}

void startEngine(std::vector<FakeDevice> list, bool vsync) {
    app::resetErrorsForTests();
    engine::resetWindowForTests();
    engine::resetSwapControlForTests();
    engine::resetTimerForTests();
    devices = std::move(list);
    calls.clear();
    clientSizeFails = false;
    dpi = 0;
    clientOrigin = engine::Point{};
    cursor = engine::Point{};
    engine::initDisplays(vsync, displaySource);
    engine::initWindowState(windowPlatform);
    engine::DisplayRef primary = engine::primaryDisplay();
    windowMonitor = engine::Rect{primary->x, primary->y, primary->x + primary->width,
                                 primary->y + primary->height};
    virtualScreen = windowMonitor;
    clientWidth = primary->width;
    clientHeight = primary->height;
    static int windowHandle;
    engine::setMainWindow(&windowHandle);
    engine::onActivate(1, false);
}

}  // namespace fakes
