// A font or picture within the texture bound whose pixels the host cannot
// hold, and how much memory a font takes while it is read. The program
// replaces the global allocation functions; it is kept apart from the other
// drawing tests for that.
#include <gtest/gtest.h>

#include "allocationLimit.h"
#include "engine/image.h"
#include "engine/text.h"
#include "fontFile.h"

using namespace engine;
using namespace fonttest;

namespace {

constexpr std::size_t hostLimit = 64u << 20;  // what the host can give here
constexpr uint32_t largeTextureLimit = 32768;
constexpr int32_t largeSide = 20000;          // within the bound; 1.6 GB of pixels

const std::vector<uint8_t>& smallFont() {
    static const std::vector<uint8_t> png = [] {
        const uint32_t width = 127 * 2 + 1, height = 3;  // 128 glyphs
        return encodePng(width, height, fontPixels(width, height, separatorsEvery(127, 2)));
    }();
    return png;
}

// The same fresh folder and log serve the picture loaders.
using PictureFile = FontFile;

}  // namespace

TEST_F(FontFile, AFontTheHostCannotHoldIsRefused) {
    const std::string path = write(claimingSize(smallFont(), largeSide, largeSide));
    testalloc::LimitAllocations limit(hostLimit);
    EXPECT_EQ(failedLoadLog(path, largeTextureLimit), "Unable to load Font.png\n");
}

TEST_F(FontFile, AFontIsHeldOnceWhileItIsRead) {
    const uint32_t width = 127 * 4 + 3, height = 1000;
    const std::string path = write(encodePng(width, height, fontPixels(width, height, separatorsEvery(127, 4))));
    const std::size_t pixelBytes = static_cast<std::size_t>(width) * height * 4;
    const std::size_t before = testalloc::liveBytes();
    testalloc::resetPeak();
    const DecodedFont font = decodeFont(path, textureLimit);
    ASSERT_EQ(font.flippedPixels.size() * 4, pixelBytes);
    // The glyph list and the reader's small blocks come on top of one copy.
    EXPECT_LT(testalloc::peakBytes() - before, pixelBytes + pixelBytes / 8);
}

TEST_F(PictureFile, APictureTheHostCannotHoldIsRefused) {
    const std::vector<uint8_t> bits(16, 0);  // never read: the output is allocated first
    const std::string path = "Data/Big.bmp";
    const std::string expected = "Unable to load image file 'Data/Big.bmp'.\n";
    testalloc::LimitAllocations limit(hostLimit);
    EXPECT_EQ(abortLog([&] {
                  convertPicture(path, [&] {
                      return convertWithColourKey(0, bits.data(), largeSide * 3, largeSide, largeSide);
                  });
              }),
              expected);
    app::resetErrorsForTests();
    app::initLog(dir.string());
    EXPECT_EQ(abortLog([&] {
                  convertPicture(path, [&] {
                      return convertToTopDownArgb(bits.data(), largeSide * 3, largeSide, largeSide);
                  });
              }),
              expected);
}
