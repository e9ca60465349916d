// engine.display: the display list and its selection rules.
#include "engine/display.h"

#include "engine/engine.h"
#include "errors.h"
#include "types.h"

namespace engine {

namespace {

std::vector<DisplayRef> displays;
bool vsyncOption = false;
const DisplaySource* source = nullptr;

// A display must hold the whole picture at scale 1.
constexpr uint32_t minimumWidth = gameWidth;
constexpr uint32_t minimumHeight = gameHeight;
constexpr uint32_t minimumRefreshVsync = 20;
constexpr uint32_t minimumRefresh = 10;

const DisplaySource& displaySource() {
    if (source == nullptr) throw app::RangeError("No display source installed");
    return *source;
}

}  // namespace

bool isModeAccepted(const DisplayMode& mode, bool vsync) {
    uint32_t minimumRate = vsync ? minimumRefreshVsync : minimumRefresh;
    return mode.width >= minimumWidth && mode.height >= minimumHeight &&
           mode.refreshRate >= minimumRate;
}

void initDisplays(bool vsync, const DisplaySource& displaySource) {
    vsyncOption = vsync;
    source = &displaySource;
    enumerateDisplays();
}

void enumerateDisplays() {
    const DisplaySource& platform = displaySource();
    displays.clear();
    DisplayDevice device;
    for (uint32_t index = 0; platform.device(index, device); ++index) {
        if ((device.stateFlags & displayDeviceAttachedToDesktop) == 0) continue;
        DisplayMode mode = platform.currentMode(device);
        if (!isModeAccepted(mode, vsyncOption)) continue;
        Rect work = platform.workAreaAt(mode.x, mode.y);
        auto display = std::make_shared<const Display>(
            mode.x, mode.y, static_cast<int32_t>(mode.width), static_cast<int32_t>(mode.height),
            work.left, work.top, work.right - work.left, work.bottom - work.top,
            static_cast<int32_t>(mode.refreshRate));
        if ((device.stateFlags & displayDevicePrimary) != 0) {
            displays.insert(displays.begin(), display);
        } else {
            displays.push_back(display);
        }
    }
    if (displays.empty()) {
        app::abortProgram(app::ErrorType::graphicsHardwareUnsupported, "No capable displays found");
    }
}

DisplayRef primaryDisplay() {
    if (displays.empty()) throw app::RangeError("No display enumerated");
    return displays.front();
}

bool displayMatchesMonitor(const Display& display, const Rect& monitor) {
    return display.x == monitor.left && display.y == monitor.top;
}

DisplayRef displayForWindow(void* window) {
    Rect monitor = displaySource().monitorOfWindow(window);
    for (const DisplayRef& display : displays) {
        if (displayMatchesMonitor(*display, monitor)) return display;
    }
    return nullptr;
}

bool hasMultipleDisplays() { return displays.size() > 1; }

const std::vector<DisplayRef>& displayList() { return displays; }

}  // namespace engine
