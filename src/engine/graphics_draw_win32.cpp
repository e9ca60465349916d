// Drawing with OpenGL: the viewport, the two primitives, textures, the buffer
// swap and screenshots to the clipboard.
#include <windows.h>

#include <glad/gl.h>

#include <cstring>
#include <vector>

#include "engine/graphics.h"
#include "engine/window.h"

namespace engine {

namespace {

uint32_t liveTextures = 0;

}  // namespace

void setViewport(int32_t width, int32_t height) {
    const ViewportLayout layout = computeViewport(width, height);
    rememberViewport(layout);
    glViewport(layout.glX, layout.glY, layout.glWidth, layout.glHeight);
    // The same rectangle in top-down client coordinates.
    setCursorClipRect(layout.offsetX, layout.offsetY, layout.glWidth, layout.glHeight);
    glClear(GL_COLOR_BUFFER_BIT);
}

void initViewport() {
    int32_t width, height;
    getClientSize(width, height);
    setViewport(width, height);
    setVSync(isFullscreen());
}

void clearScreen() { glClear(GL_COLOR_BUFFER_BIT); }

void swapBuffers() { SwapBuffers(static_cast<HDC>(graphicsDeviceContext())); }

uint32_t createTexture() {
    GLuint texture = 0;
    glGenTextures(1, &texture);
    // Left bound: the caller uploads the pixels next.
    glBindTexture(GL_TEXTURE_RECTANGLE, texture);
    glTexParameteri(GL_TEXTURE_RECTANGLE, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_RECTANGLE, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    ++liveTextures;
    return texture;
}

void deleteTexture(uint32_t texture) {
    if (texture == 0) return;
    const GLuint name = texture;
    glDeleteTextures(1, &name);
    --liveTextures;
}

uint32_t liveTextureCount() { return liveTextures; }

uint32_t maxTextureSize() {
    GLint size = 0;
    glGetIntegerv(GL_MAX_RECTANGLE_TEXTURE_SIZE, &size);
    return static_cast<uint32_t>(size);
}

void drawSprite(int32_t x, int32_t y, int32_t width, int32_t height, uint32_t texture,
                int32_t srcX, int32_t srcY) {
    const DrawingObjects& gl = drawingObjects();
    const std::array<float, 16> vertices = spriteVertices(x, y, width, height, srcX, srcY);
    glBindBuffer(GL_ARRAY_BUFFER, gl.spriteBuffer);
    glBufferData(GL_ARRAY_BUFFER, sizeof vertices, vertices.data(), GL_DYNAMIC_DRAW);
    glUseProgram(gl.spriteProgram);
    glUniform1i(glGetUniformLocation(gl.spriteProgram, "spriteTexture"), 0);
    glBindTexture(GL_TEXTURE_RECTANGLE, texture);
    glBindVertexArray(gl.spriteVertexArray);
    glDrawArrays(GL_TRIANGLE_FAN, 0, 4);
}

void drawRectangle(int32_t x, int32_t y, int32_t width, int32_t height, uint32_t colour) {
    const DrawingObjects& gl = drawingObjects();
    const std::array<float, 20> vertices = rectangleVertices(x, y, width, height, colour);
    glBindBuffer(GL_ARRAY_BUFFER, gl.rectangleBuffer);
    glBufferData(GL_ARRAY_BUFFER, sizeof vertices, vertices.data(), GL_DYNAMIC_DRAW);
    glUseProgram(gl.rectangleProgram);
    glBindVertexArray(gl.rectangleVertexArray);
    glDrawArrays(GL_TRIANGLE_FAN, 0, 4);
}

void copyScreenshotToClipboard(void* window) {
    glReadBuffer(GL_FRONT);
    int32_t width, height;
    getClientSize(width, height);
    // With the default pack alignment of 4, GL writes the rows at the DIB's
    // padded stride, bottom row first, as the DIB stores them.
    std::vector<uint8_t> pixels(screenshotBlockSize(width, height) - screenshotHeaderSize);
    glReadPixels(0, 0, width, height, GL_BGR, GL_UNSIGNED_BYTE, pixels.data());

    // The block is ours until the clipboard takes it: every other way out
    // frees it.
    if (!OpenClipboard(static_cast<HWND>(window))) return;
    EmptyClipboard();
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, screenshotHeaderSize + pixels.size());
    if (block != nullptr) {
        auto* out = static_cast<uint8_t*>(GlobalLock(block));
        if (out != nullptr) {
            const auto header = screenshotHeader(width, height);
            std::memcpy(out, header.data(), header.size());
            std::memcpy(out + header.size(), pixels.data(), pixels.size());
            GlobalUnlock(block);
            if (SetClipboardData(CF_DIB, block) != nullptr) block = nullptr;
        }
        if (block != nullptr) GlobalFree(block);
    }
    CloseClipboard();
}

}  // namespace engine
