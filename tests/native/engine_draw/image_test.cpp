#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>

#include "engine/image.h"

using namespace engine;

namespace {

// A bottom-up 24-bit bitmap in memory: row 0 is the bottom row. Every pixel
// has its own colour, and the row padding is 0xEE so a shear or a padding
// byte taken for colour shows.
struct Bitmap {
    int32_t width, height, stride;
    std::vector<uint8_t> bits;
};

uint32_t colourAt(int32_t x, int32_t row) {
    return 0x00102030u + static_cast<uint32_t>(x) * 0x00010203u + static_cast<uint32_t>(row) * 0x00400000u;
}

Bitmap makeBitmap(int32_t width, int32_t height) {
    Bitmap b{width, height, (width * 3 + 3) & ~3, {}};
    b.bits.assign(static_cast<size_t>(b.stride) * height, 0xEE);
    for (int32_t row = 0; row < height; ++row)
        for (int32_t x = 0; x < width; ++x) {
            uint32_t c = colourAt(x, row);
            uint8_t* p = &b.bits[static_cast<size_t>(row) * b.stride + x * 3];
            p[0] = c & 0xFF;
            p[1] = (c >> 8) & 0xFF;
            p[2] = (c >> 16) & 0xFF;
        }
    return b;
}

BitmapInfo validInfo() {
    return BitmapInfo{0, 5, 3, 16, 1, 24, 5, 3, 1, 24, 0, 0, 0};
}

}  // namespace

TEST(BitmapAcceptance, OnlyBottomUp24BitWithoutColourTable) {
    EXPECT_TRUE(isSupportedBitmap(validInfo()));
    BitmapInfo exactStride = validInfo();
    exactStride.bmWidthBytes = 15;
    EXPECT_TRUE(isSupportedBitmap(exactStride));

    struct Case { const char* what; void (*change)(BitmapInfo&); } cases[] = {
        {"bmType", [](BitmapInfo& i) { i.bmType = 1; }},
        {"bmWidth 0", [](BitmapInfo& i) { i.bmWidth = 0; }},
        {"bmHeight 0", [](BitmapInfo& i) { i.bmHeight = 0; }},
        {"stride below 3 x width", [](BitmapInfo& i) { i.bmWidthBytes = 14; }},
        {"negative stride", [](BitmapInfo& i) { i.bmWidthBytes = -16; }},
        {"bmPlanes", [](BitmapInfo& i) { i.bmPlanes = 2; }},
        {"8-bit", [](BitmapInfo& i) { i.bmBitsPixel = 8; i.biBitCount = 8; }},
        {"16-bit", [](BitmapInfo& i) { i.bmBitsPixel = 16; i.biBitCount = 16; }},
        {"32-bit", [](BitmapInfo& i) { i.bmBitsPixel = 32; i.biBitCount = 32; }},
        {"biBitCount alone", [](BitmapInfo& i) { i.biBitCount = 32; }},
        {"biWidth", [](BitmapInfo& i) { i.biWidth = -5; }},
        {"top-down", [](BitmapInfo& i) { i.biHeight = -3; }},
        {"biPlanes", [](BitmapInfo& i) { i.biPlanes = 0; }},
        {"compressed", [](BitmapInfo& i) { i.biCompression = 3; }},
        {"palette", [](BitmapInfo& i) { i.biClrUsed = 256; }},
        {"biClrImportant", [](BitmapInfo& i) { i.biClrImportant = 1; }},
    };
    for (const Case& c : cases) {
        BitmapInfo info = validInfo();
        c.change(info);
        EXPECT_FALSE(isSupportedBitmap(info)) << c.what;
    }
}

// The first bytes of a BMP file: the file header, then an info header of
// headerSize bytes with the picture's size.
std::vector<uint8_t> bitmapHeader(uint32_t headerSize, int32_t width, int32_t height) {
    std::vector<uint8_t> bytes(14 + headerSize, 0);
    bytes[0] = 'B';
    bytes[1] = 'M';
    std::memcpy(&bytes[14], &headerSize, 4);
    if (headerSize == 12) {
        const uint16_t sides[2] = {static_cast<uint16_t>(width), static_cast<uint16_t>(height)};
        std::memcpy(&bytes[18], sides, 4);
    } else {
        std::memcpy(&bytes[18], &width, 4);
        std::memcpy(&bytes[22], &height, 4);
    }
    return bytes;
}

TEST(BitmapHeader, APictureLargerThanATextureIsToldFromTheHeader) {
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        bool oversized;
    } cases[] = {
        {"at the limit", bitmapHeader(40, 16384, 16384), false},
        {"one wider", bitmapHeader(40, 16385, 1), true},
        {"one higher", bitmapHeader(40, 1, 16385), true},
        {"one higher, top-down", bitmapHeader(40, 1, -16385), true},
        {"top-down at the limit", bitmapHeader(40, 16384, -16384), false},
        {"the smallest height", bitmapHeader(124, 1, INT32_MIN), true},
        {"a million wide", bitmapHeader(124, 1000000, 1000000), true},
        {"core header at the limit", bitmapHeader(12, 16384, 16384), false},
        {"core header, wider", bitmapHeader(12, 40000, 1), true},
        {"not BM", [] { auto b = bitmapHeader(40, 20000, 1); b[0] = 'X'; return b; }(), false},
        {"cut before the height", [] { auto b = bitmapHeader(40, 1, 20000); b.resize(25); return b; }(), false},
        {"empty", {}, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(isOversizedBitmapHeader(c.bytes.data(), std::min(c.bytes.size(), bitmapHeaderPeekSize), 16384),
                  c.oversized)
            << c.what;
}

TEST(BitmapRows, EveryWidthModulo4KeepsItsColours) {
    for (int32_t width : {1, 2, 3, 4, 5, 6, 7, 8, 13}) {
        Bitmap b = makeBitmap(width, 3);
        SCOPED_TRACE(testing::Message() << "width " << width);
        std::vector<uint32_t> row(width);
        for (int32_t r = 0; r < b.height; ++r) {
            unpackRow(b.bits.data() + r * b.stride, width, row.data());
            for (int32_t x = 0; x < width; ++x) EXPECT_EQ(row[x], colourAt(x, r)) << x << "," << r;
        }
    }
}

TEST(BitmapRows, ColourKeyMakesOnlyTheExactColourTransparent) {
    for (int32_t width : {1, 4, 5, 6, 7}) {
        Bitmap b = makeBitmap(width, 2);
        SCOPED_TRACE(testing::Message() << "width " << width);
        const int32_t keyX = width - 1, keyRow = 1;
        const uint32_t key = colourAt(keyX, keyRow);
        std::vector<uint32_t> pixels = convertWithColourKey(key, b.bits.data(), b.stride, 2, width);
        ASSERT_EQ(pixels.size(), static_cast<size_t>(width) * 2);
        for (int32_t r = 0; r < 2; ++r)  // bottom-up, as stored
            for (int32_t x = 0; x < width; ++x) {
                uint32_t expected = (x == keyX && r == keyRow) ? 0 : 0xFF000000 | colourAt(x, r);
                EXPECT_EQ(pixels[r * width + x], expected) << x << "," << r;
            }
        // One bit off the key, or the key with a high byte, matches nothing.
        for (uint32_t other : {key ^ 1u, key | 0xFF000000u}) {
            pixels = convertWithColourKey(other, b.bits.data(), b.stride, 2, width);
            EXPECT_EQ(pixels[keyRow * width + keyX], 0xFF000000 | key);
        }
    }
}

TEST(BitmapRows, InMemoryPicturePutsTheTopRowFirst) {
    for (int32_t width : {1, 5, 6, 7}) {
        Bitmap b = makeBitmap(width, 2);
        SCOPED_TRACE(testing::Message() << "width " << width);
        std::vector<uint8_t> pixels = convertToTopDownArgb(b.bits.data(), b.stride, 2, width);
        ASSERT_EQ(pixels.size(), static_cast<size_t>(width) * 2 * 4);
        for (int32_t outRow = 0; outRow < 2; ++outRow)
            for (int32_t x = 0; x < width; ++x) {
                const uint32_t c = colourAt(x, 1 - outRow);  // the second stored row is the top
                const uint8_t* p = &pixels[(outRow * width + x) * 4];
                EXPECT_EQ(p[0], c & 0xFF);
                EXPECT_EQ(p[1], (c >> 8) & 0xFF);
                EXPECT_EQ(p[2], (c >> 16) & 0xFF);
                EXPECT_EQ(p[3], 0xFF);
            }
    }
}

TEST(PictureNames, AreCodePage1252) {
    EXPECT_EQ(cp1252ToUtf16("Data/Bg.bmp"), u"Data/Bg.bmp");
    EXPECT_EQ(cp1252ToUtf16("caf\xE9\xFF"), u"caf\u00E9\u00FF");
    EXPECT_EQ(cp1252ToUtf16("\x80\x8A\x9F"), u"\u20AC\u0160\u0178");
    EXPECT_EQ(cp1252ToUtf16("\x81\x9D"), u"\u0081\u009D");  // unassigned: same value
}
