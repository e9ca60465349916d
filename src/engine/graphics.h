// Drawing into the 640x480 game picture, and the OpenGL context behind it.
//
// Game space: (0, 0) is the bottom-left corner and y points up. The drawing
// calls of the platform layer are in engine/engine.h; no Windows header here.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/engine.h"

namespace engine {

// ---- Textures ---------------------------------------------------------------
uint32_t createTexture();
// Textures made and not yet deleted, the font's among them.
uint32_t liveTextureCount();
// The largest width and height of a rectangle texture the context takes.
uint32_t maxTextureSize();
// Whether a picture of this size fits one texture of that limit; checked
// before a picture's pixels are allocated.
bool fitsTexture(int64_t width, int64_t height, uint32_t maxSize);
void splitColour(uint32_t colour, float& red, float& green, float& blue);

// ---- Picture scaling, vertex lists, screenshots ----------------------------
// Fits the picture into a client area of this size (also on every WM_SIZE).
void setViewport(int32_t width, int32_t height);
// The first viewport and swap interval, just before the guest runs.
void initViewport();
// Copies the client area as last presented to the clipboard (CF_DIB).
// window is the main window's HWND.
void copyScreenshotToClipboard(void* window);

// The whole-number scale and placement of the picture in a client area.
struct ViewportLayout {
    int32_t scale;
    int32_t offsetX;  // left border, client pixels
    int32_t offsetY;  // top border, client pixels
    int32_t glX;      // the GL viewport, y counted from the client's bottom
    int32_t glY;
    int32_t glWidth;
    int32_t glHeight;
};
ViewportLayout computeViewport(int32_t width, int32_t height);
// Makes the layout the one windowToGame converts with.
void rememberViewport(const ViewportLayout& layout);

// Four vertices, bottom-left, bottom-right, top-right, top-left.
// Sprite: x, y, texel x, texel y each (64 bytes).
std::array<float, 16> spriteVertices(int32_t x, int32_t y, int32_t width, int32_t height,
                                     int32_t srcX, int32_t srcY);
// Rectangle: x, y, red, green, blue each (80 bytes).
std::array<float, 20> rectangleVertices(int32_t x, int32_t y, int32_t width, int32_t height,
                                        uint32_t colour);

// A CF_DIB screenshot: a 40-byte BITMAPINFOHEADER, then bottom-up BGR rows
// padded to a multiple of 4 bytes.
constexpr uint32_t screenshotHeaderSize = 40;
uint32_t screenshotStride(int32_t width);
// The whole clipboard block: header and pixel rows.
size_t screenshotBlockSize(int32_t width, int32_t height);
std::array<uint8_t, screenshotHeaderSize> screenshotHeader(int32_t width, int32_t height);

}  // namespace engine

// ---- Context, shader programs and swap interval (set-up half) -------------
namespace engine {

// 0: pace frames with the 50 Hz clock in every mode; 1 ("-vsync"): in
// fullscreen, pace by the swap interval alone.
using SwapMode = int32_t;

// Makes the 3.3 context on the window DC, the fixed drawing state and both
// shader programs (Windows build).
void initGraphics(SwapMode mode);
bool isGraphicsInitialised();
// swapMode while fullscreen, 0 while windowed: frames are paced by the clock
// only while it is 0.
int32_t activeSwapMode();
void setVSync(bool on);
void applySwapInterval(bool on);
int32_t swapIntervalDefault();
int32_t swapIntervalVsync();
// The interval asked of the driver: 0 when off, else by the active mode. The
// negative (adaptive) intervals need the tear extension; without it their
// absolute value is used.
int32_t chooseSwapInterval(bool on, int32_t activeMode, int32_t refreshRate, bool tearAvailable);

// The driver's swap control; absent (null function) without the extension.
struct SwapControl {
    bool (*swapInterval)(int32_t interval);  // false when refused
    uint32_t (*lastError)();
    bool tearAvailable;
};
// Records the mode and the swap control at set-up, before anything is drawn.
void initSwapControl(SwapMode mode, const SwapControl& control);
void setGraphicsInitialised();
void resetSwapControlForTests();

// The shader source of a resource named like the shader, of type
// "<NAME>SHADER" (names are looked up without regard to case).
std::string loadShaderSource(const std::string& name);
// A compiled shader of the GL type; a failure is fatal ("Failed to compile
// shader: <name>", the compiler's log in the log).
uint32_t compileShader(const std::string& name, uint32_t type);
// Links; a failure logs the linker's log and raises "Failed to link shader
// program".
void linkProgram(uint32_t program);
void createSpriteProgram();
void createRectangleProgram();

// The GL names built by initGraphics, for the drawing calls.
struct DrawingObjects {
    uint32_t spriteProgram = 0;
    uint32_t spriteVertexArray = 0;
    uint32_t spriteBuffer = 0;
    uint32_t rectangleProgram = 0;
    uint32_t rectangleVertexArray = 0;
    uint32_t rectangleBuffer = 0;
};
const DrawingObjects& drawingObjects();
// The window DC (an HDC) the context was made on, for the buffer swap.
void* graphicsDeviceContext();

}  // namespace engine
