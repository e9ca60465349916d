// Presents the known frame and holds it on screen, so that a screenshot of
// the X display can be compared with it pixel by pixel (present_test.sh).
//
//   draw_present.exe fullscreen|windowed
//
// In the current folder it writes "expected.rgb" (the client area as it must
// look: rows top-down, bytes red, green, blue), "frame.txt" (the client
// area's screen x, y, width, height) and then "ready"; it ends when "done"
// appears, or after a minute.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "engine/graphics.h"
#include "engine/window.h"
#include "scene.h"

using namespace drawtest;

namespace {

bool exists(const char* name) { return GetFileAttributesA(name) != INVALID_FILE_ATTRIBUTES; }

void writeExpected(const std::vector<uint32_t>& bottomUp, int32_t width, int32_t height) {
    std::vector<uint8_t> rgb;
    rgb.reserve(static_cast<size_t>(width) * height * 3);
    for (int32_t row = height - 1; row >= 0; --row)
        for (int32_t col = 0; col < width; ++col) {
            const uint32_t c = bottomUp[static_cast<size_t>(row) * width + col];
            rgb.push_back(static_cast<uint8_t>(c >> 16));
            rgb.push_back(static_cast<uint8_t>(c >> 8));
            rgb.push_back(static_cast<uint8_t>(c));
        }
    std::FILE* f = std::fopen("expected.rgb", "wb");
    std::fwrite(rgb.data(), 1, rgb.size(), f);
    std::fclose(f);
}

}  // namespace

int main(int argc, char** argv) {
    const bool fullscreen = argc > 1 && std::strcmp(argv[1], "fullscreen") == 0;
    startEngine();
    if (fullscreen)
        setFullscreen(true);
    else
        setWindowedClient(640, 480);
    int32_t width, height;
    engine::getClientSize(width, height);
    // The picture's place, known beforehand: scale 2 on the 1920x1080 screen,
    // scale 1 in the 640x480 window.
    const int32_t scale = fullscreen ? 2 : 1, left = fullscreen ? 320 : 0, bottom = fullscreen ? 60 : 0;
    if (width != (fullscreen ? 1920 : 640) || height != (fullscreen ? 1080 : 480)) {
        std::fprintf(stderr, "unexpected client area %dx%d\n", width, height);
        return 1;
    }

    GameModel model;
    for (int i = 0; i < 3; ++i) {
        model = drawScene();
        engine::swapBuffers();
        pumpFor(20);
    }
    writeExpected(expectedClient(model, width, height, scale, left, bottom), width,
                  height);
    POINT origin{0, 0};
    ClientToScreen(static_cast<HWND>(engine::getMainWindow()), &origin);
    std::FILE* frame = std::fopen("frame.txt", "w");
    std::fprintf(frame, "%ld %ld %d %d\n", origin.x, origin.y, width, height);
    std::fclose(frame);
    std::fclose(std::fopen("ready", "w"));

    // Keep presenting the same frame while the screenshot is taken.
    for (int i = 0; i < 3000 && !exists("done"); ++i) {
        drawScene();
        engine::swapBuffers();
        pumpFor(20);
    }
    return 0;
}
