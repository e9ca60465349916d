// Picture scaling, the vertex lists of the two primitives and the screenshot
// header: the arithmetic of drawing, without OpenGL.
#include <algorithm>

#include "engine/graphics.h"

namespace engine {

namespace {

// Written by setViewport; all zero until the first one.
int32_t viewportScale = 0;
int32_t viewportOffsetX = 0;
int32_t viewportOffsetY = 0;

// Sums of guest-given coordinates are formed in 64 bits: no signed overflow.
float sum(int32_t a, int32_t b) {
    return static_cast<float>(static_cast<int64_t>(a) + static_cast<int64_t>(b));
}

void putUint16(uint8_t* out, uint16_t value) {
    out[0] = static_cast<uint8_t>(value);
    out[1] = static_cast<uint8_t>(value >> 8);
}

void putUint32(uint8_t* out, uint32_t value) {
    for (int i = 0; i < 4; ++i) out[i] = static_cast<uint8_t>(value >> (8 * i));
}

}  // namespace

bool fitsTexture(int64_t width, int64_t height, uint32_t maxSize) {
    return width <= maxSize && height <= maxSize;
}

ViewportLayout computeViewport(int32_t width, int32_t height) {
    ViewportLayout layout{};
    layout.scale = std::max(1, std::min(height / gameHeight, width / gameWidth));
    layout.glWidth = gameWidth * layout.scale;
    layout.glHeight = gameHeight * layout.scale;
    layout.offsetX = (width - layout.glWidth) / 2;
    layout.offsetY = (height - layout.glHeight) / 2;
    layout.glX = layout.offsetX;
    // GL counts y from the bottom, so an odd remainder row goes to the bottom.
    layout.glY = (height - layout.glHeight) - layout.offsetY;
    return layout;
}

void rememberViewport(const ViewportLayout& layout) {
    viewportScale = layout.scale;
    viewportOffsetX = layout.offsetX;
    viewportOffsetY = layout.offsetY;
}

void windowToGame(int32_t& x, int32_t& y) {
    x = std::clamp((x - viewportOffsetX) / viewportScale, 0, gameWidth - 1);
    y = std::clamp((y - viewportOffsetY) / viewportScale, 0, gameHeight - 1);
}

void splitColour(uint32_t colour, float& red, float& green, float& blue) {
    red = static_cast<float>((colour >> 16) & 0xFF) / 255.0f;
    green = static_cast<float>((colour >> 8) & 0xFF) / 255.0f;
    blue = static_cast<float>(colour & 0xFF) / 255.0f;
}

std::array<float, 16> spriteVertices(int32_t x, int32_t y, int32_t width, int32_t height,
                                     int32_t srcX, int32_t srcY) {
    const float left = static_cast<float>(x), right = sum(x, width);
    const float bottom = static_cast<float>(y), top = sum(y, height);
    const float texLeft = static_cast<float>(srcX), texRight = sum(srcX, width);
    const float texBottom = static_cast<float>(srcY), texTop = sum(srcY, height);
    return {left,  bottom, texLeft,  texBottom,  //
            right, bottom, texRight, texBottom,  //
            right, top,    texRight, texTop,     //
            left,  top,    texLeft,  texTop};
}

std::array<float, 20> rectangleVertices(int32_t x, int32_t y, int32_t width, int32_t height,
                                        uint32_t colour) {
    float red, green, blue;
    splitColour(colour, red, green, blue);
    const float left = static_cast<float>(x), right = sum(x, width);
    const float bottom = static_cast<float>(y), top = sum(y, height);
    return {left,  bottom, red, green, blue,  //
            right, bottom, red, green, blue,  //
            right, top,    red, green, blue,  //
            left,  top,    red, green, blue};
}

uint32_t screenshotStride(int32_t width) {
    return (static_cast<uint32_t>(width) * 3 + 3) & ~3u;
}

size_t screenshotBlockSize(int32_t width, int32_t height) {
    return screenshotHeaderSize + static_cast<size_t>(screenshotStride(width)) * static_cast<uint32_t>(height);
}

std::array<uint8_t, screenshotHeaderSize> screenshotHeader(int32_t width, int32_t height) {
    std::array<uint8_t, screenshotHeaderSize> header{};
    uint8_t* out = header.data();
    putUint32(out + 0, screenshotHeaderSize);                 // biSize
    putUint32(out + 4, static_cast<uint32_t>(width));         // biWidth
    putUint32(out + 8, static_cast<uint32_t>(height));        // biHeight: bottom-up
    putUint16(out + 12, 1);                                   // biPlanes
    putUint16(out + 14, 24);                                  // biBitCount
    putUint32(out + 16, 0);                                   // biCompression: BI_RGB
    putUint32(out + 20, screenshotStride(width) * static_cast<uint32_t>(height));  // biSizeImage
    // biXPelsPerMeter, biYPelsPerMeter, biClrUsed, biClrImportant stay 0.
    return header;
}

}  // namespace engine
