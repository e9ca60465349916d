// engine.display on Windows: devices, modes and monitors from USER32.
#include <windows.h>

#include "engine/display.h"

namespace engine {

namespace {

bool windowsDevice(uint32_t index, DisplayDevice& device) {
    DISPLAY_DEVICEW info{};
    info.cb = sizeof(info);  // 840
    SetLastError(0);
    if (!EnumDisplayDevicesW(nullptr, index, &info, 0)) return false;
    device.name.assign(reinterpret_cast<const char16_t*>(info.DeviceName));
    device.stateFlags = info.StateFlags;
    return true;
}

DisplayMode windowsCurrentMode(const DisplayDevice& device) {
    DEVMODEW mode{};
    mode.dmSize = sizeof(mode);  // 220
    mode.dmDriverExtra = 0;
    // A failed call leaves the mode zero, which no threshold accepts.
    EnumDisplaySettingsW(reinterpret_cast<const wchar_t*>(device.name.c_str()),
                         ENUM_CURRENT_SETTINGS, &mode);
    return DisplayMode{mode.dmPosition.x, mode.dmPosition.y, mode.dmPelsWidth, mode.dmPelsHeight,
                       mode.dmDisplayFrequency};
}

Rect fromRECT(const RECT& r) { return Rect{r.left, r.top, r.right, r.bottom}; }

Rect windowsWorkAreaAt(int32_t x, int32_t y) {
    HMONITOR monitor = MonitorFromPoint(POINT{x, y}, MONITOR_DEFAULTTONULL);
    MONITORINFO info{};
    info.cbSize = sizeof(info);  // 40
    GetMonitorInfoW(monitor, &info);
    return fromRECT(info.rcWork);
}

Rect windowsMonitorOfWindow(void* window) {
    HMONITOR monitor = MonitorFromWindow(static_cast<HWND>(window), MONITOR_DEFAULTTONEAREST);
    MONITORINFO info{};
    info.cbSize = sizeof(info);
    GetMonitorInfoW(monitor, &info);
    return fromRECT(info.rcMonitor);
}

const DisplaySource windowsDisplaySource{windowsDevice, windowsCurrentMode, windowsWorkAreaAt,
                                         windowsMonitorOfWindow};

static_assert(sizeof(DISPLAY_DEVICEW) == 840);
static_assert(sizeof(DEVMODEW) == 220);
static_assert(sizeof(MONITORINFO) == 40);

}  // namespace

void initDisplays(bool vsync) { initDisplays(vsync, windowsDisplaySource); }

}  // namespace engine
