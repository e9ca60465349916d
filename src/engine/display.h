// The desktop's displays that can show the 640x480 picture.
//
// The selection rules run over a DisplaySource: the Windows one in the
// product, a scripted one in tests.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace engine {

// A rectangle of desktop or client coordinates, right and bottom exclusive.
struct Rect {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;
};

// One accepted display: its current mode and its monitor's work area.
class Display {
public:
    Display(int32_t x, int32_t y, int32_t width, int32_t height, int32_t workX, int32_t workY,
            int32_t workWidth, int32_t workHeight, int32_t refreshRate)
        : x(x), y(y), width(width), height(height), workX(workX), workY(workY),
          workWidth(workWidth), workHeight(workHeight), refreshRate(refreshRate) {}

    const int32_t x;
    const int32_t y;
    const int32_t width;
    const int32_t height;
    const int32_t workX;
    const int32_t workY;
    const int32_t workWidth;
    const int32_t workHeight;
    const int32_t refreshRate;
};

// Displays are shared with whoever holds them; a re-enumeration makes new ones.
using DisplayRef = std::shared_ptr<const Display>;

constexpr uint32_t displayDeviceAttachedToDesktop = 0x1;
constexpr uint32_t displayDevicePrimary = 0x4;

struct DisplayDevice {
    std::u16string name;
    uint32_t stateFlags = 0;
};

// A device's current mode; all zero when it cannot be read.
struct DisplayMode {
    int32_t x = 0;
    int32_t y = 0;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t refreshRate = 0;
};

// What the platform reports about displays and monitors.
struct DisplaySource {
    // The device at index; false once the index is past the last device.
    bool (*device)(uint32_t index, DisplayDevice& device);
    DisplayMode (*currentMode)(const DisplayDevice& device);
    // Work area of the monitor at a desktop point; all zero without one.
    Rect (*workAreaAt)(int32_t x, int32_t y);
    // Rectangle of the monitor nearest to the window.
    Rect (*monitorOfWindow)(void* window);
};

// Stores the option and enumerates through the Windows source.
void initDisplays(bool vsync);
// Stores the option and the source, then enumerates.
void initDisplays(bool vsync, const DisplaySource& source);
// Rebuilds the list; "No capable displays found" is fatal.
void enumerateDisplays();

// The start display (the primary device when it qualified).
DisplayRef primaryDisplay();
// The listed display the window lies on, or null.
DisplayRef displayForWindow(void* window);
bool hasMultipleDisplays();
bool displayMatchesMonitor(const Display& display, const Rect& monitor);

// Whether a device's mode can show the picture (refresh 20 Hz with "-vsync",
// else 10 Hz; 0 and 1 stand for the hardware default and never qualify).
bool isModeAccepted(const DisplayMode& mode, bool vsync);

// The current list, for tests.
const std::vector<DisplayRef>& displayList();

}  // namespace engine
