// Test pictures and fonts written to files, and a plain model of the game
// picture that the frames read back from OpenGL are compared with.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace drawtest {

// Pixels 0x00RRGGBB (BMP) or 0xAABBGGRR little-endian RGBA (PNG), rows top-down.
struct Picture {
    int32_t width;
    int32_t height;
    std::vector<uint32_t> pixels;
    uint32_t at(int32_t x, int32_t topDownY) const { return pixels[topDownY * width + x]; }
};

// Every pixel its own colour; `key` at a few places when nonzero.
Picture patternPicture(int32_t width, int32_t height, uint32_t key);
// A bottom-up 24-bit BMP file of the picture.
std::vector<uint8_t> bmpFile(const Picture& picture);
// The same with another bit depth or row order (for refusals).
std::vector<uint8_t> bmpFileWith(const Picture& picture, uint16_t bitCount, bool topDown);

// A font of 128 glyphs (or `glyphCount`), glyph i being 1 + i % 4 wide and
// `height` high, ink opaque white or clear; RGBA words.
struct Font {
    Picture image;
    std::vector<int32_t> glyphX;
    std::vector<int32_t> glyphWidth;
};
Font makeFont(int32_t height, int32_t glyphCount = 128);
std::vector<uint8_t> pngFile(const Picture& rgba);

// Writes bytes to a file by its UTF-8 path (UTF-16 underneath).
void writeFile(const std::string& utf8Path, const std::vector<uint8_t>& bytes);
// A fresh empty folder under the temporary folder.
std::string freshFolder(const std::string& utf8Name);

// The 640x480 game picture, y up as the drawing calls see it.
class GameModel {
public:
    GameModel() : pixels_(640 * 480, 0) {}
    void fill(int32_t x, int32_t y, int32_t width, int32_t height, uint32_t colour);
    // A sprite from a picture whose bottom row is texel row 0; texels equal
    // to a present key are transparent.
    void sprite(int32_t x, int32_t y, int32_t width, int32_t height, const Picture& picture,
                int32_t srcX, int32_t srcY, bool keyed, uint32_t key);
    // drawText with the font (top-down y).
    void text(int32_t x, int32_t y, const std::string& text, const Font& font);
    uint32_t at(int32_t x, int32_t y) const { return pixels_[y * 640 + x]; }

private:
    void put(int32_t x, int32_t y, uint32_t colour);
    std::vector<uint32_t> pixels_;
};

// What the client area must show: black borders, the picture scaled by
// `scale` with its lower-left corner at client (offsetX, offsetYFromBottom).
// Rows bottom-up, 0x00RRGGBB.
std::vector<uint32_t> expectedClient(const GameModel& model, int32_t clientWidth,
                                     int32_t clientHeight, int32_t scale, int32_t offsetX,
                                     int32_t offsetYFromBottom);

}  // namespace drawtest

namespace drawtest {

constexpr uint32_t magenta = 0xFF00FF;  // the colour key of the test pictures

// Starts the engine once as the program does (displays, window, context, the
// test font, the clock, the first viewport); the log goes to logFolder().
void startEngine();
const std::string& logFolder();
const Font& testFont();
// Pumps the window's messages for about this long.
void pumpFor(int milliseconds);
void setFullscreen(bool on);
// Windowed with a client area of exactly this size.
void setWindowedClient(int32_t width, int32_t height);
// The client area as GL holds it in the buffer (a GLenum): rows bottom-up,
// 0x00RRGGBB.
std::vector<uint32_t> readClient(uint32_t buffer);
// Writes the picture as a BMP file into logFolder().
std::string writePicture(const std::string& name, const Picture& picture);
// The known frame: rectangles (one cut at the picture's edge, one at a
// negative position), a colour-keyed sprite over a rectangle, a sprite from a
// sub-rectangle of a texture, one cut at the edge, and text; drawn by the
// engine and into the returned model.
GameModel drawScene();

}  // namespace drawtest
