#include <gtest/gtest.h>

#include "engine/text.h"
#include "errors.h"
#include "fontFile.h"
#include "log.h"
#include "types.h"

using namespace engine;
using namespace fonttest;

TEST(Glyphs, RunsBetweenSeparators) {
    struct Case {
        const char* what;
        uint32_t width;
        std::vector<uint32_t> separators;
        std::vector<std::pair<uint32_t, uint32_t>> glyphs;  // x, width
    } cases[] = {
        {"inside", 10, {3, 7}, {{0, 3}, {4, 3}, {8, 2}}},
        {"at both edges", 10, {0, 9}, {{0, 0}, {1, 8}, {10, 0}}},
        {"adjacent", 6, {2, 3}, {{0, 2}, {3, 0}, {4, 2}}},
        {"none", 4, {}, {{0, 4}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint32_t> row(c.width, ink);
        for (uint32_t x : c.separators) row[x] = separator;
        std::vector<GlyphInfo> glyphs = splitGlyphs(row.data(), c.width, 12);
        ASSERT_EQ(glyphs.size(), c.glyphs.size());
        for (size_t i = 0; i < glyphs.size(); ++i) {
            EXPECT_EQ(glyphs[i].x, c.glyphs[i].first) << i;
            EXPECT_EQ(glyphs[i].width, c.glyphs[i].second) << i;
            EXPECT_EQ(glyphs[i].y, 0u);
            EXPECT_EQ(glyphs[i].height, 12u);
        }
    }
}

TEST(Glyphs, OnlyOpaquePureGreenSeparates) {
    // Bytes 0,255,0,254 (alpha 254), 0,254,0,255 (green 254), 1,255,0,255.
    std::vector<uint32_t> row = {ink, 0xFE00FF00, 0xFF00FE00, 0xFF00FF01, ink};
    EXPECT_EQ(splitGlyphs(row.data(), 5, 1).size(), 1u);
}

TEST(Glyphs, FlipReversesTheRows) {
    std::vector<uint32_t> pixels = {1, 2, 3, 4, 5, 6};  // 2 wide, 3 high
    EXPECT_EQ(flipVertically(pixels, 2, 3), (std::vector<uint32_t>{5, 6, 3, 4, 1, 2}));
    EXPECT_EQ(flipVertically(pixels, 6, 1), pixels);
}

TEST_F(FontFile, A128GlyphFontIsSplitAndFlipped) {
    const uint32_t width = 127 * 4 + 3, height = 5;  // 127 separators
    std::vector<uint32_t> pixels = fontPixels(width, height, separatorsEvery(127, 4));
    DecodedFont font = decodeFont(write(encodePng(width, height, pixels)), textureLimit);
    EXPECT_EQ(font.width, width);
    EXPECT_EQ(font.height, height);
    ASSERT_EQ(font.glyphs.size(), 128u);
    EXPECT_EQ(font.glyphs[0].x, 0u);
    EXPECT_EQ(font.glyphs[0].width, 3u);
    EXPECT_EQ(font.glyphs[127].x, 127u * 4);
    EXPECT_EQ(font.glyphs[127].width, 3u);
    EXPECT_EQ(font.glyphs[127].height, height);
    EXPECT_EQ(font.flippedPixels, flipVertically(pixels, width, height));
}

TEST_F(FontFile, TooFewGlyphsAreRefused) {
    const uint32_t width = 126 * 4 + 3, height = 2;
    std::string path = write(encodePng(width, height, fontPixels(width, height, separatorsEvery(126, 4))));
    EXPECT_EQ(failedLoadLog(path), "Font.png is not a valid font image\n");
}

TEST_F(FontFile, UnreadableFilesAreRefused) {
    const uint32_t width = 127 * 2 + 1, height = 3;
    const std::vector<uint8_t> good = encodePng(width, height, fontPixels(width, height, separatorsEvery(127, 2)));

    std::vector<uint8_t> badHeaderCrc = good;
    badHeaderCrc[29] ^= 0xFF;  // the IHDR chunk's CRC

    // An ancillary chunk with a wrong CRC before the image data: a warning
    // while the header is read.
    std::vector<uint8_t> badAncillaryCrc(good.begin(), good.begin() + 33);
    const uint8_t text[] = {0, 0, 0, 4, 't', 'E', 'X', 't', 'a', 0, 'b', 'c', 0xDE, 0xAD, 0xBE, 0xEF};
    badAncillaryCrc.insert(badAncillaryCrc.end(), std::begin(text), std::end(text));
    badAncillaryCrc.insert(badAncillaryCrc.end(), good.begin() + 33, good.end());

    // Cut inside the image data: the header reads fine, the pixels do not.
    std::vector<uint8_t> truncated(good.begin(), good.begin() + (good.size() - 20));

    struct Case { const char* what; std::vector<uint8_t> bytes; } cases[] = {
        {"not a PNG", {'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0}},
        {"empty", {}},
        {"bad IHDR CRC", badHeaderCrc},
        {"bad ancillary CRC", badAncillaryCrc},
        {"truncated", truncated},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string path = write(c.bytes);
        app::initLog(dir.string());
        EXPECT_EQ(failedLoadLog(path), "Unable to load Font.png\n");
        app::resetErrorsForTests();
    }
    app::initLog(dir.string());
    EXPECT_EQ(failedLoadLog((dir / "missing.png").string()), "Unable to load Font.png\n");
}

// The header is checked before anything is allocated for the pixels.
TEST_F(FontFile, AFontLargerThanATextureIsRefused) {
    const uint32_t width = 127 * 2 + 1;  // 128 glyphs
    auto font = [&](uint32_t height) {
        return encodePng(width, height, fontPixels(width, height, separatorsEvery(127, 2)));
    };
    const std::vector<uint8_t> tall = font(300), wide = font(3);
    struct Case { const std::vector<uint8_t>& png; uint32_t maxSize; bool accepted; } cases[] = {
        {tall, 300, true}, {tall, 299, false}, {wide, width, true}, {wide, width - 1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.maxSize);
        std::string path = write(c.png);
        app::initLog(dir.string());
        if (c.accepted)
            EXPECT_EQ(decodeFont(path, c.maxSize).width, width);
        else
            EXPECT_EQ(failedLoadLog(path, c.maxSize), "Unable to load Font.png\n");
        app::resetLogForTests();
        app::resetErrorsForTests();
    }

    // A header that claims 1,000,000 x 1,000,000 pixels (4 TB of them) in a
    // small file: refused from the header alone.
    std::string path = write(claimingSize(tall, 1000000, 1000000));
    app::initLog(dir.string());
    EXPECT_EQ(failedLoadLog(path), "Unable to load Font.png\n");
}

TEST(TextLayout, PenMovesByGlyphWidthPlusOne) {
    std::vector<GlyphInfo> glyphs(128, GlyphInfo{0, 0, 4, 12});
    glyphs['A'] = GlyphInfo{20, 0, 6, 12};
    glyphs['B'] = GlyphInfo{27, 0, 7, 12};
    std::vector<GlyphSprite> sprites = layOutText(100, 10, "ABA", glyphs, 12);
    ASSERT_EQ(sprites.size(), 3u);
    struct Expected { int32_t x, srcX, width; } expected[] = {{100, 20, 6}, {107, 27, 7}, {115, 20, 6}};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(sprites[i].x, expected[i].x) << i;
        EXPECT_EQ(sprites[i].y, 453) << i;  // 480 - (10 + 12 + 5)
        EXPECT_EQ(sprites[i].width, expected[i].width) << i;
        EXPECT_EQ(sprites[i].height, 12) << i;
        EXPECT_EQ(sprites[i].srcX, expected[i].srcX) << i;
        EXPECT_EQ(sprites[i].srcY, 0) << i;
    }
    EXPECT_TRUE(layOutText(100, 10, "", glyphs, 12).empty());
    // Zero-width glyphs still take the one-pixel gap.
    glyphs[' '] = GlyphInfo{5, 0, 0, 12};
    EXPECT_EQ(layOutText(-3, 500, "  A", glyphs, 12)[2].x, -1);
    EXPECT_EQ(layOutText(-3, 500, "  A", glyphs, 12)[2].y, -37);
}

TEST(TextLayout, AByteWithoutAGlyphIsARangeError) {
    std::vector<GlyphInfo> glyphs(128, GlyphInfo{0, 0, 4, 12});
    EXPECT_THROW(layOutText(0, 0, "\x80", glyphs, 12), app::RangeError);
    EXPECT_THROW(layOutText(0, 0, "a", {}, 12), app::RangeError);
}
