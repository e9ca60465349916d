// Drawing into the 640x480 game picture, and the OpenGL context behind it.
//
// Game space: (0, 0) is the bottom-left corner and y points up. No Windows
// header here: the platform layer reaches the engine only through headers
// like this one.
#pragma once

#include <cstdint>

namespace engine {

// ---- Drawing (used by the platform layer while the guest runs) ------------
void clearScreen();
void swapBuffers();
// Copies the width x height texels whose lower-left texel is (srcX, srcY) of a
// rectangle texture to the game-space rectangle with lower-left corner (x, y).
void drawSprite(int32_t x, int32_t y, int32_t width, int32_t height, uint32_t texture,
                int32_t srcX, int32_t srcY);
// Fills a game-space rectangle opaquely with 0x00RRGGBB.
void drawRectangle(int32_t x, int32_t y, int32_t width, int32_t height, uint32_t colour);
// Client coordinates to top-down game pixel coordinates, in place.
void windowToGame(int32_t& x, int32_t& y);

uint32_t createTexture();
void splitColour(uint32_t colour, float& red, float& green, float& blue);

}  // namespace engine
