// The font texture and text drawing with OpenGL.
#include <windows.h>

#include <glad/gl.h>

#include "engine/graphics.h"
#include "engine/text.h"
#include "files.h"

namespace engine {

namespace {

std::vector<GlyphInfo> glyphs;  // entry i is the glyph of byte value i
uint32_t fontTexture = 0;       // bottom row first
uint32_t fontHeight = 0;

}  // namespace

void loadFont(const std::string& dataDir) { loadFontImage(app::joinPath(dataDir, "font.png")); }

void loadFontImage(const std::string& path) {
    DecodedFont font = decodeFont(path, maxTextureSize());
    glyphs = std::move(font.glyphs);
    fontTexture = createTexture();
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glTexImage2D(GL_TEXTURE_RECTANGLE, 0, GL_RGBA, static_cast<GLsizei>(font.width),
                 static_cast<GLsizei>(font.height), 0, GL_RGBA, GL_UNSIGNED_BYTE,
                 font.flippedPixels.data());
    fontHeight = font.height;
}

void drawText(int32_t x, int32_t y, const std::string& text) {
    for (const GlyphSprite& s : layOutText(x, y, text, glyphs, fontHeight))
        drawSprite(s.x, s.y, s.width, s.height, fontTexture, s.srcX, s.srcY);
}

}  // namespace engine
