#include "fakeEngine.h"

#include <deque>
#include <map>
#include <set>
#include <stdexcept>

#include "engine/engine.h"
#include "engine/graphics.h"  // initViewport, which the start-up calls
#include "errors.h"
#include "types.h"

namespace fakeEngine {

namespace {

struct Picture {
    uint32_t width;
    uint32_t height;
    std::vector<uint8_t> pixels;  // empty: opaque black
};

std::vector<std::string> recorded;
std::deque<bool> processMessagesScript;
std::deque<bool> waitForNextFrameScript;
int64_t clock = 0;
uint8_t keyBytes[256] = {};
bool leftButton = false;
bool rightButton = false;
int32_t cursorX = 0;
int32_t cursorY = 0;
bool cursorOnPicture = true;
int32_t gameOffsetX = 0;
int32_t gameOffsetY = 0;
int32_t gameDivisor = 1;
std::map<std::string, Picture> pictures;
uint32_t textureCount = 0;
std::set<uint32_t> live;

void record(const std::string& line) { recorded.push_back(line); }

bool nextQuit(std::deque<bool>& script) {
    if (script.empty()) return false;
    bool quit = script.front();
    script.pop_front();
    return quit;
}

const Picture& findPicture(const std::string& path) {
    auto found = pictures.find(path);
    if (found == pictures.end())
        app::abortProgram(app::ErrorType::fileSystem, "Unable to load image file '" + path + "'.");
    return found->second;
}

}  // namespace

void reset() {
    recorded.clear();
    processMessagesScript.clear();
    waitForNextFrameScript.clear();
    clock = 0;
    std::fill(std::begin(keyBytes), std::end(keyBytes), 0);
    leftButton = rightButton = false;
    cursorX = cursorY = 0;
    cursorOnPicture = true;
    gameOffsetX = gameOffsetY = 0;
    gameDivisor = 1;
    pictures.clear();
    textureCount = 0;
    live.clear();
}

const std::vector<std::string>& calls() { return recorded; }

std::vector<std::string> callsOf(const std::string& name) {
    std::vector<std::string> matching;
    for (const std::string& call : recorded)
        if (call.compare(0, name.size() + 1, name + "(") == 0) matching.push_back(call);
    return matching;
}

void clearCalls() { recorded.clear(); }

void scriptProcessMessages(std::initializer_list<bool> quits) {
    processMessagesScript.insert(processMessagesScript.end(), quits);
}
void scriptWaitForNextFrame(std::initializer_list<bool> quits) {
    waitForNextFrameScript.insert(waitForNextFrameScript.end(), quits);
}

void setCurrentTime(int64_t ticks) { clock = ticks; }

std::span<uint8_t, 256> keys() { return std::span<uint8_t, 256>(keyBytes); }

void setMouseButtons(bool left, bool right) {
    leftButton = left;
    rightButton = right;
}

void setCursorPosition(int32_t x, int32_t y, bool onPicture) {
    cursorX = x;
    cursorY = y;
    cursorOnPicture = onPicture;
}

void setWindowToGame(int32_t offsetX, int32_t offsetY, int32_t divisor) {
    gameOffsetX = offsetX;
    gameOffsetY = offsetY;
    gameDivisor = divisor;
}

void addImage(const std::string& path, uint32_t width, uint32_t height) {
    pictures[path] = Picture{width, height, {}};
}

void addImage(const std::string& path, uint32_t width, uint32_t height,
              std::vector<uint8_t> pixels) {
    pictures[path] = Picture{width, height, std::move(pixels)};
}

uint32_t lastTexture() { return textureCount; }

std::vector<uint32_t> liveTextures() { return {live.begin(), live.end()}; }

namespace {

void requireLive(uint32_t texture, const char* call) {
    if (live.count(texture) == 0)
        throw std::logic_error(app::format("%s of texture %u, which is not live", call, texture));
}

}  // namespace

}  // namespace fakeEngine

// ---- engine/engine.h, and initViewport for the start-up ------------------------------
// Defined by qualified name, so a function that engine/engine.h does not
// declare, or whose signature drifts from it, fails to compile here; one that
// it declares and this file lacks fails to link with the platform layer.

using app::format;
using fakeEngine::record;

void engine::initViewport() { record("initViewport()"); }
void engine::clearScreen() { record("clearScreen()"); }
void engine::swapBuffers() { record("swapBuffers()"); }

void engine::drawSprite(int32_t x, int32_t y, int32_t width, int32_t height, uint32_t texture,
                        int32_t srcX, int32_t srcY) {
    record(format("drawSprite(%d, %d, %d, %d, %u, %d, %d)", x, y, width, height, texture, srcX,
                  srcY));
    fakeEngine::requireLive(texture, "drawSprite");
}

void engine::drawRectangle(int32_t x, int32_t y, int32_t width, int32_t height, uint32_t colour) {
    record(format("drawRectangle(%d, %d, %d, %d, 0x%x)", x, y, width, height, colour));
}

void engine::windowToGame(int32_t& x, int32_t& y) {
    record(format("windowToGame(%d, %d)", x, y));
    x = (x - fakeEngine::gameOffsetX) / fakeEngine::gameDivisor;
    y = (y - fakeEngine::gameOffsetY) / fakeEngine::gameDivisor;
}

engine::Image engine::loadImage(const std::string& path, std::optional<uint32_t> colourKey) {
    if (colourKey) record(format("loadImage(\"%s\", 0x%x)", path.c_str(), *colourKey));
    else record(format("loadImage(\"%s\")", path.c_str()));
    const fakeEngine::Picture& picture = fakeEngine::findPicture(path);
    fakeEngine::live.insert(++fakeEngine::textureCount);
    return engine::Image(picture.width, picture.height, fakeEngine::textureCount);
}

void engine::deleteTexture(uint32_t texture) {
    record(format("deleteTexture(%u)", texture));
    fakeEngine::requireLive(texture, "deleteTexture");
    fakeEngine::live.erase(texture);
}

std::shared_ptr<engine::ImageInMemory> engine::loadImageInMemory(const std::string& path) {
    record(format("loadImageInMemory(\"%s\")", path.c_str()));
    const fakeEngine::Picture& picture = fakeEngine::findPicture(path);
    std::vector<uint8_t> pixels = picture.pixels;
    if (pixels.empty()) {
        pixels.assign(size_t{picture.width} * picture.height * 4, 0);
        for (size_t i = 3; i < pixels.size(); i += 4) pixels[i] = 0xFF;
    }
    return std::make_shared<engine::ImageInMemory>(picture.width, picture.height, std::move(pixels));
}

void engine::drawText(int32_t x, int32_t y, const std::string& text) {
    record(format("drawText(%d, %d, \"", x, y) + text + "\")");  // text may hold zero bytes
}

int64_t engine::currentTime() {
    record("currentTime()");
    return fakeEngine::clock;
}

bool engine::processMessages() {
    record("processMessages()");
    return fakeEngine::nextQuit(fakeEngine::processMessagesScript);
}

bool engine::waitForNextFrame() {
    record("waitForNextFrame()");
    return fakeEngine::nextQuit(fakeEngine::waitForNextFrameScript);
}

void engine::quitWindow() { record("quitWindow()"); }

std::span<uint8_t, 256> engine::keyStates() {
    record("keyStates()");
    return fakeEngine::keys();
}

void engine::getMouseButtons(bool& left, bool& right) {
    record("getMouseButtons()");
    left = fakeEngine::leftButton;
    right = fakeEngine::rightButton;
}

bool engine::getCursorPosition(int32_t& x, int32_t& y) {
    record("getCursorPosition()");
    x = fakeEngine::cursorX;
    y = fakeEngine::cursorY;
    return fakeEngine::cursorOnPicture;
}

