#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "engine/graphics.h"

using namespace engine;

TEST(Viewport, WholeNumberScaleCentredWithTheOddRowAtTheBottom) {
    struct Case {
        int32_t width, height;
        ViewportLayout expected;  // scale, offsets, GL viewport
    } cases[] = {
        {640, 480, {1, 0, 0, 0, 0, 640, 480}},
        {1920, 1080, {2, 320, 60, 320, 60, 1280, 960}},
        {1366, 768, {1, 363, 144, 363, 144, 640, 480}},
        {1281, 963, {2, 0, 1, 0, 2, 1280, 960}},  // 1 border row at the top, 2 at the bottom
        {600, 400, {1, -20, -40, -20, -40, 640, 480}},
        {0, 0, {1, -320, -240, -320, -240, 640, 480}},
    };
    for (const Case& c : cases) {
        ViewportLayout got = computeViewport(c.width, c.height);
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height);
        EXPECT_EQ(got.scale, c.expected.scale);
        EXPECT_EQ(got.offsetX, c.expected.offsetX);
        EXPECT_EQ(got.offsetY, c.expected.offsetY);
        EXPECT_EQ(got.glX, c.expected.glX);
        EXPECT_EQ(got.glY, c.expected.glY);
        EXPECT_EQ(got.glWidth, c.expected.glWidth);
        EXPECT_EQ(got.glHeight, c.expected.glHeight);
    }
}

TEST(Viewport, WindowToGameAtScale2Clamps) {
    rememberViewport(computeViewport(1920, 1080));
    struct Case { int32_t x, y, gameX, gameY; } cases[] = {
        {320, 60, 0, 0},
        {1599, 1019, 639, 479},
        {319, 59, 0, 0},  // -0.5 truncates to 0
        {1700, 1100, 639, 479},
        {0, 0, 0, 0},
        {321, 61, 0, 0},
        {322, 62, 1, 1},
        {-5000, 5000, 0, 479},
    };
    for (const Case& c : cases) {
        int32_t x = c.x, y = c.y;
        windowToGame(x, y);
        EXPECT_EQ(x, c.gameX) << c.x << "," << c.y;
        EXPECT_EQ(y, c.gameY) << c.x << "," << c.y;
    }
}

TEST(Colour, SplitIgnoresTheHighByte) {
    struct Case { uint32_t colour; float red, green, blue; } cases[] = {
        {0x00FF8000, 1.0f, 128.0f / 255.0f, 0.0f},
        {0xFF000000, 0.0f, 0.0f, 0.0f},
        {0x12345678, 0x34 / 255.0f, 0x56 / 255.0f, 0x78 / 255.0f},
        {0xFFFFFFFF, 1.0f, 1.0f, 1.0f},
    };
    for (const Case& c : cases) {
        float r, g, b;
        splitColour(c.colour, r, g, b);
        EXPECT_EQ(r, c.red) << std::hex << c.colour;
        EXPECT_EQ(g, c.green) << std::hex << c.colour;
        EXPECT_EQ(b, c.blue) << std::hex << c.colour;
    }
}

TEST(Vertices, SpriteTexelsFollowThePosition) {
    std::array<float, 16> expected = {10, 20, 5, 6, 40, 20, 35, 6, 40, 60, 35, 46, 10, 60, 5, 46};
    EXPECT_EQ(spriteVertices(10, 20, 30, 40, 5, 6), expected);
    EXPECT_EQ(sizeof(expected), 64u);
    // Negative positions (a picture partly off the left or bottom edge).
    std::array<float, 16> offEdge = {-3, -4, 0, 0, 7, -4, 10, 0, 7, 1, 10, 5, -3, 1, 0, 5};
    EXPECT_EQ(spriteVertices(-3, -4, 10, 5, 0, 0), offEdge);
}

TEST(Vertices, RectangleCarriesOneColour) {
    const float g = 128.0f / 255.0f;
    std::array<float, 20> expected = {1, 2, 1, g, 0,  4, 2, 1, g, 0,
                                      4, 7, 1, g, 0,  1, 7, 1, g, 0};
    EXPECT_EQ(rectangleVertices(1, 2, 3, 5, 0xAAFF8000), expected);
    EXPECT_EQ(sizeof(expected), 80u);
}

TEST(Screenshot, HeaderAndStride) {
    struct Case { int32_t width, height; uint32_t stride, imageSize; } cases[] = {
        {1920, 1080, 5760, 6220800},  // no padding
        {641, 480, 1924, 1924 * 480},  // 1923 rounded up
        {1, 1, 4, 4},
        {640, 480, 1920, 921600},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height);
        EXPECT_EQ(screenshotStride(c.width), c.stride);
        EXPECT_EQ(screenshotBlockSize(c.width, c.height), 40u + c.imageSize);
        auto header = screenshotHeader(c.width, c.height);
        uint32_t fields[10];
        std::memcpy(fields, header.data(), 4);
        std::memcpy(&fields[1], header.data() + 4, 4);
        std::memcpy(&fields[2], header.data() + 8, 4);
        uint16_t planes, bits;
        std::memcpy(&planes, header.data() + 12, 2);
        std::memcpy(&bits, header.data() + 14, 2);
        std::memcpy(&fields[3], header.data() + 16, 24);
        EXPECT_EQ(fields[0], 40u);
        EXPECT_EQ(fields[1], static_cast<uint32_t>(c.width));
        EXPECT_EQ(fields[2], static_cast<uint32_t>(c.height));
        EXPECT_EQ(planes, 1);
        EXPECT_EQ(bits, 24);
        EXPECT_EQ(fields[3], 0u);            // BI_RGB
        EXPECT_EQ(fields[4], c.imageSize);   // biSizeImage
        for (int i = 5; i < 9; ++i) EXPECT_EQ(fields[i], 0u) << i;
    }
}
