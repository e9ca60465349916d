// The engine started once per test program, as the program starts it, and
// the known frame drawn both by the engine and into the model.
#include <windows.h>

#include <glad/gl.h>

#include <cstdio>
#include <cstdlib>

#include "engine/display.h"
#include "engine/graphics.h"
#include "engine/image.h"
#include "engine/text.h"
#include "engine/timer.h"
#include "engine/window.h"
#include "errors.h"
#include "files.h"
#include "log.h"
#include "scene.h"
#include "windowsTestSupport.h"

namespace drawtest {

namespace {

std::string folder;
Font font;

}  // namespace

void pumpFor(int milliseconds) {
    for (int i = 0; i < milliseconds / 10; ++i) {
        engine::processMessages();
        Sleep(10);
    }
}

void setFullscreen(bool on) {
    if (engine::isFullscreen() != on) engine::toggleFullscreen();
    pumpFor(200);
}

void setWindowedClient(int32_t width, int32_t height) {
    setFullscreen(false);
    RECT rect{0, 0, width, height};
    AdjustWindowRect(&rect, engine::styleWindowed, FALSE);
    SetWindowPos(static_cast<HWND>(engine::getMainWindow()), nullptr, 0, 0, rect.right - rect.left,
                 rect.bottom - rect.top, SWP_NOMOVE | SWP_NOZORDER);
    pumpFor(200);
}

std::vector<uint32_t> readClient(uint32_t buffer) {
    int32_t width, height;
    engine::getClientSize(width, height);
    std::vector<uint32_t> pixels(static_cast<size_t>(width) * height);
    glReadBuffer(buffer);
    glReadPixels(0, 0, width, height, GL_BGRA, GL_UNSIGNED_BYTE, pixels.data());
    for (uint32_t& p : pixels) p &= 0xFFFFFF;
    return pixels;
}

std::string writePicture(const std::string& name, const Picture& picture) {
    std::string path = app::joinPath(folder, name);
    writeFile(path, bmpFile(picture));
    return path;
}

GameModel drawScene() {
    static const Picture keyed = patternPicture(7, 5, magenta);
    static const Picture big = patternPicture(16, 12, 0);
    static const engine::Image keyedImage = engine::loadImage(writePicture("keyed.bmp", keyed), magenta);
    static const engine::Image bigImage = engine::loadImage(writePicture("big.bmp", big));
    GameModel model;
    engine::clearScreen();
    engine::drawRectangle(0, 0, 640, 480, 0x203040);
    model.fill(0, 0, 640, 480, 0x203040);
    engine::drawRectangle(10, 20, 100, 50, 0xFFFF8000);  // the high byte is ignored
    model.fill(10, 20, 100, 50, 0xFF8000);
    engine::drawRectangle(600, 440, 100, 100, 0x00FF00);
    model.fill(600, 440, 100, 100, 0x00FF00);
    engine::drawRectangle(-20, -10, 40, 30, 0x0000FF);
    model.fill(-20, -10, 40, 30, 0x0000FF);
    engine::drawSprite(12, 22, 7, 5, keyedImage.texture, 0, 0);
    model.sprite(12, 22, 7, 5, keyed, 0, 0, true, magenta);
    engine::drawSprite(300, 200, 5, 4, bigImage.texture, 3, 2);
    model.sprite(300, 200, 5, 4, big, 3, 2, false, 0);
    engine::drawSprite(635, 300, 16, 12, bigImage.texture, 0, 0);  // cut at the right edge
    model.sprite(635, 300, 16, 12, big, 0, 0, false, 0);
    engine::drawText(50, 100, "Hi! 0~");
    model.text(50, 100, "Hi! 0~", font);
    engine::drawText(400, 0, "top");
    model.text(400, 0, "top", font);
    return model;
}

void startEngine() {
    static bool started = false;
    if (started) return;
    started = true;
    folder = freshFolder("qz-engine-draw");
    app::initLog(folder);
    font = makeFont(7);
    const std::string fontFolder = freshFolder("qz-engine-font");
    writeFile(app::joinPath(fontFolder, "font.png"), pngFile(font.image));
    try {
        // The engine steps of the program's start-up, in its order.
        engine::initDisplays(false);
        engine::createWindow(GetModuleHandleW(nullptr));
        engine::initGraphics(0);
        engine::loadFont(fontFolder);
        engine::initTimer();
        engine::initViewport();
    } catch (const app::Exception& e) {
        app::resetLogForTests();
        std::fprintf(stderr, "engine start-up failed: %s\nlog: %s\n", e.describe().c_str(),
                     wintest::readFile(app::joinPath(folder, "log.txt")).c_str());
        std::exit(1);
    }
    pumpFor(100);
}

const std::string& logFolder() { return folder; }
const Font& testFont() { return font; }

}  // namespace drawtest

