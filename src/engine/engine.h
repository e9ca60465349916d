// The engine as the platform layer reaches it: exactly the calls that the
// emulated functions and the hooks make while the guest runs, with the two
// picture types they hand over. No Windows header here. The engine's own
// headers include this one; native platform tests link a recording fake of
// these functions in place of the engine (tests/native/support/fakeEngine).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace engine {

// A rectangle texture holding the picture with its bottom row as texel row 0.
class Image {
public:
    Image(uint32_t width, uint32_t height, uint32_t texture)
        : width(width), height(height), texture(texture) {}
    uint32_t width;
    uint32_t height;
    uint32_t texture;
};

// Top-down 32-bit pixels 0xFFRRGGBB (bytes blue, green, red, 255) that the
// guest may lock and read.
class ImageInMemory {
public:
    ImageInMemory(uint32_t width, uint32_t height, std::vector<uint8_t> pixels)
        : width(width), height(height), pixels_(std::move(pixels)) {}
    virtual ~ImageInMemory() = default;
    virtual std::vector<uint8_t>& pixels() { return pixels_; }
    uint32_t width;
    uint32_t height;

private:
    std::vector<uint8_t> pixels_;
};

// ---- Drawing into the 640x480 picture (engine.graphics) -------------------
// The game's picture in pixels. The guest's screen is this size too: its
// screen metrics and the full-screen rectangle it draws to.
constexpr int32_t gameWidth = 640;
constexpr int32_t gameHeight = 480;
// Game space: (0, 0) is the bottom-left corner and y points up.
void clearScreen();
void swapBuffers();
// Copies the width x height texels whose lower-left texel is (srcX, srcY) of a
// rectangle texture to the game-space rectangle with lower-left corner (x, y).
void drawSprite(int32_t x, int32_t y, int32_t width, int32_t height, uint32_t texture,
                int32_t srcX, int32_t srcY);
// Fills a game-space rectangle opaquely with 0x00RRGGBB.
void drawRectangle(int32_t x, int32_t y, int32_t width, int32_t height, uint32_t colour);
// Deletes a texture made by createTexture; nothing may draw with it after.
void deleteTexture(uint32_t texture);
// Client coordinates to top-down game pixel coordinates, in place.
void windowToGame(int32_t& x, int32_t& y);

// ---- Pictures from BMP files (engine.image) --------------------------------
// The name is used as given (code page 1252 bytes from the guest). A missing
// or unsupported file ends the program (fileSystem).
Image loadImage(const std::string& path, std::optional<uint32_t> colourKey = std::nullopt);
// Shared: a locked layer's pixels stay mapped into the guest while the layer
// itself may go away.
std::shared_ptr<ImageInMemory> loadImageInMemory(const std::string& path);

// ---- Text (engine.text) -----------------------------------------------------
// x, y: game coordinates with y = 0 at the top. Every byte is at most 126.
void drawText(int32_t x, int32_t y, const std::string& text);

// ---- Clock, message pump and frame pacing (engine.timer) --------------------
// 100-ns ticks since an arbitrary origin.
int64_t currentTime();
// Pumps the host queue; true when a quit message was taken.
bool processMessages();
// Waits for the next frame slot while pumping; true when a quit was taken.
bool waitForNextFrame();
// Posts a quit message on the host queue.
void quitWindow();

// ---- Keyboard and mouse (engine.window) -------------------------------------
// The 256 key bytes by scan code, 1 = down (the array itself, not a copy).
std::span<uint8_t, 256> keyStates();
void getMouseButtons(bool& left, bool& right);
// Client coordinates; true when the cursor lies on the picture.
bool getCursorPosition(int32_t& x, int32_t& y);

}  // namespace engine
