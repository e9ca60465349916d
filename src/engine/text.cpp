// Reading and splitting the bitmap font, and the pen walk of text drawing.
#include "engine/text.h"

#include <png.h>

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>
#include <new>

#include "engine/graphics.h"
#include "errors.h"
#include "files.h"
#include "types.h"

namespace engine {

static_assert(std::endian::native == std::endian::little,
              "font pixels are compared as little-endian RGBA words");

namespace {

struct FileCloser {
    std::FILE* file;
    ~FileCloser() {
        if (file) std::fclose(file);
    }
};

// Frees the reader's state on every way out (also after a finished read).
struct PngReader {
    png_image image;
    PngReader() {
        std::memset(&image, 0, sizeof image);
        image.version = PNG_IMAGE_VERSION;
    }
    ~PngReader() { png_image_free(&image); }
};

}  // namespace

bool readFontImage(const std::string& path, FontImage& font, uint32_t maxSize) {
    // By UTF-16 path on Windows, so a non-ASCII installation folder works.
    FileCloser closer{app::openFile(path, "rb")};
    if (!closer.file) return false;

    PngReader reader;
    png_image& image = reader.image;
    if (!png_image_begin_read_from_stdio(&image, closer.file) || image.warning_or_error != 0 ||
        !fitsTexture(image.width, image.height, maxSize))
        return false;
    image.format = PNG_FORMAT_RGBA;
    // Zeroed, and sized in size_t: nothing undecoded is ever split. A picture
    // within the texture bound may still be more than the host can hold.
    std::vector<uint32_t> pixels;
    try {
        pixels.resize(static_cast<size_t>(image.width) * image.height);
    } catch (const std::bad_alloc&) {
        return false;
    }
    if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr)) return false;
    font.width = image.width;
    font.height = image.height;
    font.pixels = std::move(pixels);
    return true;
}

std::vector<GlyphInfo> splitGlyphs(const uint32_t* firstRow, uint32_t width, uint32_t height) {
    std::vector<GlyphInfo> glyphs;
    glyphs.reserve(fontMinimumGlyphs);
    uint32_t start = 0;
    // The run after the last separator counts too, even when it is empty.
    for (uint32_t x = 0; x <= width; ++x) {
        if (x == width || firstRow[x] == fontSeparatorPixel) {
            glyphs.push_back(GlyphInfo{start, 0, x - start, height});
            start = x + 1;
        }
    }
    return glyphs;
}

std::vector<uint32_t> flipVertically(std::vector<uint32_t> pixels, int32_t width, int32_t height) {
    // In place, row pairs swapped: a font's pixels are never held twice.
    const size_t rowLength = static_cast<size_t>(width);
    for (int32_t top = 0, bottom = height - 1; top < bottom; ++top, --bottom) {
        uint32_t* upper = pixels.data() + static_cast<size_t>(top) * rowLength;
        std::swap_ranges(upper, upper + rowLength, pixels.data() + static_cast<size_t>(bottom) * rowLength);
    }
    return pixels;
}

DecodedFont decodeFont(const std::string& path, uint32_t maxSize) {
    FontImage image{};
    if (!readFontImage(path, image, maxSize)) app::abortProgram(app::ErrorType::fileSystem, "Unable to load Font.png");
    DecodedFont font{image.width, image.height, {}, {}};
    if (image.width > 0 && image.height > 0)
        font.glyphs = splitGlyphs(image.pixels.data(), image.width, image.height);
    if (font.glyphs.size() < fontMinimumGlyphs)
        app::abortProgram(app::ErrorType::fileSystem, "Font.png is not a valid font image");
    font.flippedPixels = flipVertically(std::move(image.pixels), static_cast<int32_t>(image.width),
                                        static_cast<int32_t>(image.height));
    return font;
}

std::vector<GlyphSprite> layOutText(int32_t x, int32_t y, const std::string& text,
                                    const std::vector<GlyphInfo>& glyphs, uint32_t fontHeight) {
    std::vector<GlyphSprite> sprites;
    sprites.reserve(text.size());
    // Unsigned arithmetic: wraps like the 32-bit values it stands for.
    uint32_t pen = static_cast<uint32_t>(x);
    const int32_t bottom =
        static_cast<int32_t>(uint32_t{gameHeight} - (static_cast<uint32_t>(y) + fontHeight + 5u));
    for (size_t i = 0; i < text.size(); ++i) {
        const uint8_t c = static_cast<uint8_t>(text[i]);
        if (c >= glyphs.size()) throw app::RangeError(app::format("No glyph for byte %u", c));
        const GlyphInfo& g = glyphs[c];
        if (i > 0) pen += 1;
        sprites.push_back(GlyphSprite{static_cast<int32_t>(pen), bottom,
                                      static_cast<int32_t>(g.width), static_cast<int32_t>(g.height),
                                      static_cast<int32_t>(g.x), static_cast<int32_t>(g.y)});
        pen += g.width;
    }
    return sprites;
}

}  // namespace engine
