// A recording stand-in for the engine in native tests.
//
// Link fakeEngine.cpp instead of the real engine. It defines every function
// of engine/engine.h, the engine as the platform layer reaches it, and the one
// engine call the start-up makes before the guest runs (initViewport). Every
// call is recorded, in order, as one line "name(arguments)" (numbers in
// decimal, text in double quotes), and the values the engine would report are
// scripted here. reset() before each test forgets both.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <vector>

namespace fakeEngine {

// Forgets the recorded calls and every script; the clock goes back to 0.
void reset();

const std::vector<std::string>& calls();
// The recorded calls whose name is name, e.g. callsOf("drawText").
std::vector<std::string> callsOf(const std::string& name);
void clearCalls();

// Results of the next processMessages / waitForNextFrame calls, in order;
// once a script runs out, the call reports no quit.
void scriptProcessMessages(std::initializer_list<bool> quits);
void scriptWaitForNextFrame(std::initializer_list<bool> quits);

// currentTime's value in 100-ns ticks.
void setCurrentTime(int64_t ticks);

// Input state: the key array itself (as engine::keyStates), the buttons, the
// cursor in client coordinates and whether it lies on the picture.
std::span<uint8_t, 256> keys();
void setMouseButtons(bool left, bool right);
void setCursorPosition(int32_t x, int32_t y, bool onPicture);
// windowToGame maps (x, y) to ((x - offsetX) / divisor, (y - offsetY) /
// divisor), truncating; the identity by default.
void setWindowToGame(int32_t offsetX, int32_t offsetY, int32_t divisor);

// Pictures that loadImage and loadImageInMemory find by exact name. Without
// pixels, an in-memory picture is all 0xFF000000. A name not added ends the
// program like the real engine (AbortProgramException, fileSystem).
void addImage(const std::string& path, uint32_t width, uint32_t height);
void addImage(const std::string& path, uint32_t width, uint32_t height,
              std::vector<uint8_t> pixels);
// loadImage numbers its textures 1, 2, ... in the order it makes them.
uint32_t lastTexture();
// The textures loadImage made and deleteTexture has not deleted. Deleting a
// texture that is not live, or drawing with one, is a fault of the caller:
// std::logic_error.
std::vector<uint32_t> liveTextures();

}  // namespace fakeEngine
