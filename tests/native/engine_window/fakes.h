// A scripted display source and a recording window platform.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "engine/display.h"
#include "engine/window.h"
#include "errors.h"
#include "log.h"

namespace fakes {

struct FakeDevice {
    engine::DisplayDevice device;
    engine::DisplayMode mode;
    engine::Rect workArea;
};

// The devices the source enumerates, in order.
extern std::vector<FakeDevice> devices;
// What MonitorFromWindow finds for the main window.
extern engine::Rect windowMonitor;
extern const engine::DisplaySource displaySource;

FakeDevice device(const char* name, uint32_t flags, int32_t x, int32_t y, uint32_t width,
                  uint32_t height, uint32_t refreshRate);
constexpr uint32_t attached = engine::displayDeviceAttachedToDesktop;
constexpr uint32_t primary = engine::displayDevicePrimary | engine::displayDeviceAttachedToDesktop;

// Every platform call, one line each ("move 0 0 1920 1080 repaint").
extern std::vector<std::string> calls;
extern int32_t clientWidth;
extern int32_t clientHeight;
extern bool clientSizeFails;
extern engine::Point clientOrigin;  // screen position of the client's (0, 0)
extern engine::Point cursor;        // screen position
extern engine::Rect virtualScreen;  // the primary display's rectangle unless set
extern uint32_t dpi;                // the window's DPI; 0: the system cannot tell
extern const engine::WindowPlatform windowPlatform;
// The frame AdjustWindowRect adds in windowed style at 96 DPI.
constexpr int32_t frameLeft = 8, frameTop = 31, frameRight = 8, frameBottom = 8;

// Fresh engine state with these devices enumerated and a window created and
// activated.
void startEngine(std::vector<FakeDevice> list, bool vsync = false);

// Runs a step that must end the program with this kind, with the log in a
// fresh folder; returns what it logged.
template <class Step>
std::string logOfAbort(const char* folderName, app::ErrorType kind, Step step) {
    std::filesystem::path dir = std::filesystem::temp_directory_path() / folderName;
    std::filesystem::create_directories(dir);
    std::filesystem::remove(dir / "log.txt");
    app::initLog(dir.string());
    try {
        step();
        ADD_FAILURE() << "no exception";
    } catch (const app::AbortProgramException& e) {
        EXPECT_EQ(e.type, kind);
    }
    app::resetLogForTests();
    std::ifstream file(dir / "log.txt");
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

// The same for a start-up step that finds the graphics hardware unsupported.
template <class Step>
std::string logOfGraphicsAbort(const char* folderName, Step step) {
    return logOfAbort(folderName, app::ErrorType::graphicsHardwareUnsupported, step);
}

}  // namespace fakes
