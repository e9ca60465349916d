// The bitmap font ("font.png" in the data folder) and text drawing; drawText
// is declared in engine/engine.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/engine.h"

namespace engine {

void loadFont(const std::string& dataDir);
// Reads, splits and uploads the font image at path.
void loadFontImage(const std::string& path);

// ---- Building blocks of the font and of drawText ---------------------------
// A glyph's rectangle in the font texture, in texels.
struct GlyphInfo {
    uint32_t x;
    uint32_t y;
    uint32_t width;
    uint32_t height;
};

// Pixels as little-endian 32-bit values of the bytes red, green, blue, alpha.
constexpr uint32_t fontSeparatorPixel = 0xFF00FF00;  // opaque pure green
constexpr size_t fontMinimumGlyphs = 128;

// A font image decoded to 8-bit RGBA, rows top-down.
struct FontImage {
    uint32_t width;
    uint32_t height;
    std::vector<uint32_t> pixels;
};
// False when the file cannot be opened or decoded, a warning is reported
// while its header is read, the header names a picture wider or higher than
// maxSize (checked before the pixels are allocated), or the host cannot hold
// the pixels.
bool readFontImage(const std::string& path, FontImage& image, uint32_t maxSize);

// The runs of columns between the separators of the first row (and after the
// last one), each spanning the whole height.
std::vector<GlyphInfo> splitGlyphs(const uint32_t* firstRow, uint32_t width, uint32_t height);
// Row r of the result is row height - 1 - r of the input; a moved-in array
// is flipped where it is, without a second copy.
std::vector<uint32_t> flipVertically(std::vector<uint32_t> pixels, int32_t width, int32_t height);

// A font ready for upload: its glyphs and its pixels with the bottom row first.
struct DecodedFont {
    uint32_t width;
    uint32_t height;
    std::vector<GlyphInfo> glyphs;
    std::vector<uint32_t> flippedPixels;
};
// Reads, splits and flips the font, holding its pixels once; ends the program
// (fileSystem) when the file is unreadable, larger than one texture of
// maxSize or than the host can hold, or has fewer than 128 glyphs.
DecodedFont decodeFont(const std::string& path, uint32_t maxSize);

// One glyph as drawText draws it: drawSprite's arguments but the texture.
struct GlyphSprite {
    int32_t x;
    int32_t y;
    int32_t width;
    int32_t height;
    int32_t srcX;
    int32_t srcY;
};
// The pen walk of drawText: a pixel between glyphs, the top edge 5 pixels
// below the top-down y. A byte without a glyph is a range error.
std::vector<GlyphSprite> layOutText(int32_t x, int32_t y, const std::string& text,
                                    const std::vector<GlyphInfo>& glyphs, uint32_t fontHeight);

}  // namespace engine
