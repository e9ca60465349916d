#include <windows.h>

#include <psapi.h>

#include <glad/gl.h>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "engine/graphics.h"
#include "engine/image.h"
#include "engine/text.h"
#include "engine/window.h"
#include "errors.h"
#include "expectAbort.h"
#include "files.h"
#include "log.h"
#include "windowsTestSupport.h"
#include "scene.h"
#include "types.h"

using namespace drawtest;

namespace {

void expectSamePixels(const std::vector<uint32_t>& got, const std::vector<uint32_t>& expected,
                      int32_t width) {
    ASSERT_EQ(got.size(), expected.size());
    size_t wrong = 0;
    for (size_t i = 0; i < got.size(); ++i) {
        if (got[i] == expected[i]) continue;
        if (++wrong <= 5)
            ADD_FAILURE() << "client (" << i % width << ", " << i / width << " from the bottom): got "
                          << std::hex << got[i] << ", expected " << expected[i];
    }
    EXPECT_EQ(wrong, 0u) << "pixels differ";
}

// The log lines of a call that must end the program with fileSystem.
std::string abortLog(const std::function<void()>& call) {
    app::resetLogForTests();
    std::string logPath = app::joinPath(logFolder(), "log.txt");
    DeleteFileW(wintest::wide(logPath).c_str());
    app::initLog(logFolder());
    expectAbort(app::ErrorType::fileSystem, call);
    app::resetLogForTests();
    app::resetErrorsForTests();
    std::string text = wintest::readFile(logPath);
    app::initLog(logFolder());
    return text;
}

}  // namespace

class Draw : public testing::Test {
protected:
    void SetUp() override { startEngine(); }
};

TEST_F(Draw, KnownFrameFullScreenAtScale2) {
    setFullscreen(true);
    int32_t width, height;
    engine::getClientSize(width, height);
    ASSERT_EQ(width, 1920);
    ASSERT_EQ(height, 1080);
    GameModel model = drawScene();
    expectSamePixels(readClient(GL_BACK), expectedClient(model, 1920, 1080, 2, 320, 60), 1920);
}

TEST_F(Draw, KnownFrameWindowedAtScale1) {
    setWindowedClient(640, 480);
    GameModel model = drawScene();
    expectSamePixels(readClient(GL_BACK), expectedClient(model, 640, 480, 1, 0, 0), 640);
}

TEST_F(Draw, OddClientLeavesTheExtraRowAtTheBottom) {
    setWindowedClient(641, 481);
    GameModel model = drawScene();
    expectSamePixels(readClient(GL_BACK), expectedClient(model, 641, 481, 1, 0, 1), 641);
}

TEST_F(Draw, WindowToGameFollowsTheViewport) {
    setFullscreen(true);
    int32_t x = 1599, y = 1019;
    engine::windowToGame(x, y);
    EXPECT_EQ(x, 639);
    EXPECT_EQ(y, 479);
    setWindowedClient(640, 480);
    x = 100, y = 479;
    engine::windowToGame(x, y);
    EXPECT_EQ(x, 100);
    EXPECT_EQ(y, 479);
}

TEST_F(Draw, BmpWidthsAreDrawnExactly) {
    setWindowedClient(640, 480);
    for (int32_t width : {1, 4, 5, 6, 7}) {
        SCOPED_TRACE(testing::Message() << "width " << width);
        const Picture plain = patternPicture(width, 3, 0);
        const Picture keyed = patternPicture(width, 3, magenta);
        const engine::Image plainImage = engine::loadImage(writePicture("plain.bmp", plain));
        const engine::Image keyedImage = engine::loadImage(writePicture("key.bmp", keyed), magenta);
        EXPECT_EQ(plainImage.width, static_cast<uint32_t>(width));
        EXPECT_EQ(plainImage.height, 3u);
        GameModel model;
        engine::clearScreen();
        engine::drawRectangle(0, 0, 640, 480, 0x404040);
        model.fill(0, 0, 640, 480, 0x404040);
        engine::drawSprite(5, 5, width, 3, plainImage.texture, 0, 0);
        model.sprite(5, 5, width, 3, plain, 0, 0, false, 0);
        engine::drawSprite(5, 15, width, 3, keyedImage.texture, 0, 0);
        model.sprite(5, 15, width, 3, keyed, 0, 0, true, magenta);
        expectSamePixels(readClient(GL_BACK), expectedClient(model, 640, 480, 1, 0, 0), 640);

        // The guest's copy: rows top-down, bytes blue, green, red, 255.
        auto inMemory = engine::loadImageInMemory(writePicture("memory.bmp", keyed));
        ASSERT_EQ(inMemory->pixels().size(), static_cast<size_t>(width) * 3 * 4);
        for (int32_t y = 0; y < 3; ++y)
            for (int32_t x = 0; x < width; ++x) {
                uint32_t value;
                std::memcpy(&value, &inMemory->pixels()[(y * width + x) * 4], 4);
                EXPECT_EQ(value, 0xFF000000 | keyed.at(x, y)) << x << "," << y;
            }
    }
}

TEST_F(Draw, PictureNamesAreCodePage1252) {
    const Picture picture = patternPicture(3, 2, 0);
    // "caf\xE9" in code page 1252 is "café".
    writeFile(app::joinPath(logFolder(), "caf\xC3\xA9.bmp"), bmpFile(picture));
    auto loaded = engine::loadImageInMemory(app::joinPath(logFolder(), "caf\xE9.bmp"));
    EXPECT_EQ(loaded->width, 3u);
    EXPECT_EQ(loaded->height, 2u);
}

TEST_F(Draw, UnloadablePicturesEndTheProgram) {
    const std::string missing = app::joinPath(logFolder(), "missing.bmp");
    EXPECT_EQ(abortLog([&] { engine::loadImage(missing); }),
              "Unable to load image file '" + missing + "'.\r\n");
    EXPECT_EQ(abortLog([&] { engine::loadImageInMemory(missing); }),
              "Unable to load image file '" + missing + "'.\r\n");
    const std::string notBitmap = app::joinPath(logFolder(), "text.bmp");
    writeFile(notBitmap, {'h', 'e', 'l', 'l', 'o'});
    EXPECT_EQ(abortLog([&] { engine::loadImage(notBitmap, magenta); }),
              "Unable to load image file '" + notBitmap + "'.\r\n");

    // The platform keeps these as they are (a top-down file it turns
    // bottom-up, so that one is left to the native tests).
    const Picture picture = patternPicture(5, 3, 0);
    for (uint16_t bits : {8, 32}) {
        const std::string path = app::joinPath(logFolder(), app::format("bits%u.bmp", bits));
        writeFile(path, bmpFileWith(picture, bits, false));
        EXPECT_EQ(abortLog([&] { engine::loadImageInMemory(path); }),
                  "Unsupported image format for '" + path + "'.\r\n");
        EXPECT_EQ(abortLog([&] { engine::loadImage(path, magenta); }),
                  "Unsupported image format for '" + path + "'.\r\n");
    }
}

TEST_F(Draw, PicturesLargerThanATextureEndTheProgram) {
    const int32_t limit = static_cast<int32_t>(engine::maxTextureSize());
    ASSERT_GE(limit, 1024);
    const std::string atLimit = writePicture("limit.bmp", patternPicture(limit, 1, 0));
    EXPECT_EQ(engine::loadImage(atLimit).width, static_cast<uint32_t>(limit));
    EXPECT_EQ(engine::loadImageInMemory(atLimit)->width, static_cast<uint32_t>(limit));
    const std::string wider = writePicture("wider.bmp", patternPicture(limit + 1, 1, 0));
    const std::string higher = writePicture("higher.bmp", patternPicture(1, limit + 1, 0));
    // Decoded, these would be refused as 32-bit pictures: their message shows
    // that the header refused them before the platform decoded any pixel.
    const std::string wider32 = app::joinPath(logFolder(), "wider32.bmp");
    writeFile(wider32, bmpFileWith(patternPicture(limit + 1, 1, 0), 32, false));
    const std::string higher32 = app::joinPath(logFolder(), "higher32.bmp");
    writeFile(higher32, bmpFileWith(patternPicture(1, limit + 1, 0), 32, false));
    for (const std::string& path : {wider, higher, wider32, higher32}) {
        EXPECT_EQ(abortLog([&] { engine::loadImage(path); }), "Unable to load image file '" + path + "'.\r\n");
        EXPECT_EQ(abortLog([&] { engine::loadImageInMemory(path); }),
                  "Unable to load image file '" + path + "'.\r\n");
    }
}

TEST_F(Draw, FontVariants) {
    const std::string fontFolder = freshFolder("qz-engine-font-variants");
    const std::string path = app::joinPath(fontFolder, "font.png");
    EXPECT_EQ(abortLog([&] { engine::loadFont(fontFolder); }), "Unable to load Font.png\r\n");

    std::vector<uint8_t> badCrc = pngFile(makeFont(5).image);
    badCrc[29] ^= 0x55;  // the header chunk's CRC
    writeFile(path, badCrc);
    EXPECT_EQ(abortLog([&] { engine::loadFont(fontFolder); }), "Unable to load Font.png\r\n");

    writeFile(path, pngFile(makeFont(5, 127).image));
    EXPECT_EQ(abortLog([&] { engine::loadFont(fontFolder); }),
              "Font.png is not a valid font image\r\n");

    // 128 glyphs, one column wider than the largest texture.
    const int32_t width = static_cast<int32_t>(engine::maxTextureSize()) + 1;
    Picture wide{width, 2, std::vector<uint32_t>(static_cast<size_t>(width) * 2, 0xFFFFFFFF)};
    for (int32_t x = 1; x <= 127; ++x) wide.pixels[x * 2] = 0xFF00FF00;  // separators
    writeFile(path, pngFile(wide));
    EXPECT_EQ(abortLog([&] { engine::loadFont(fontFolder); }), "Unable to load Font.png\r\n");
}

TEST_F(Draw, FontInANonAsciiFolder) {
    const std::string fontFolder = freshFolder("qz-Schrift-\xC3\xA9\xE2\x82\xAC");
    writeFile(app::joinPath(fontFolder, "font.png"), pngFile(testFont().image));
    engine::loadFont(fontFolder);  // the same font again: text still draws alike
    setWindowedClient(640, 480);
    GameModel model = drawScene();
    expectSamePixels(readClient(GL_BACK), expectedClient(model, 640, 480, 1, 0, 0), 640);
}

// F12 and 4: the front buffer as a CF_DIB, header and rows as the frame.
void expectScreenshotOfFrame(int32_t width, int32_t height, int32_t scale, int32_t offsetX,
                             int32_t offsetYFromBottom) {
    // The first frame presented after a resize may not reach the front
    // buffer yet under Wine; a running game has presented many.
    GameModel model = drawScene();
    engine::swapBuffers();
    drawScene();
    engine::swapBuffers();
    engine::copyScreenshotToClipboard(engine::getMainWindow());
    const std::vector<uint32_t> expected =
        expectedClient(model, width, height, scale, offsetX, offsetYFromBottom);

    ASSERT_TRUE(OpenClipboard(static_cast<HWND>(engine::getMainWindow())));
    HANDLE block = GetClipboardData(CF_DIB);
    ASSERT_NE(block, nullptr);
    const uint32_t stride = (static_cast<uint32_t>(width) * 3 + 3) & ~3u;
    EXPECT_EQ(GlobalSize(block), 40u + static_cast<size_t>(stride) * height);
    const auto* bytes = static_cast<const uint8_t*>(GlobalLock(block));
    ASSERT_NE(bytes, nullptr);
    BITMAPINFOHEADER header;
    std::memcpy(&header, bytes, sizeof header);
    EXPECT_EQ(header.biSize, 40u);
    EXPECT_EQ(header.biWidth, width);
    EXPECT_EQ(header.biHeight, height);
    EXPECT_EQ(header.biPlanes, 1);
    EXPECT_EQ(header.biBitCount, 24);
    EXPECT_EQ(header.biCompression, 0u);
    EXPECT_EQ(header.biSizeImage, stride * height);
    EXPECT_EQ(header.biXPelsPerMeter, 0);
    EXPECT_EQ(header.biClrUsed, 0u);
    std::vector<uint32_t> got(static_cast<size_t>(width) * height);
    for (int32_t row = 0; row < height; ++row)
        for (int32_t col = 0; col < width; ++col) {
            const uint8_t* p = bytes + 40 + static_cast<size_t>(row) * stride + col * 3;
            got[static_cast<size_t>(row) * width + col] = p[0] | (p[1] << 8) | (p[2] << 16);
        }
    GlobalUnlock(block);
    CloseClipboard();
    expectSamePixels(got, expected, width);
}

TEST_F(Draw, ScreenshotFullScreen) {
    setFullscreen(true);
    expectScreenshotOfFrame(1920, 1080, 2, 320, 60);
}

TEST_F(Draw, ScreenshotWithPaddedRows) {
    setWindowedClient(641, 481);
    expectScreenshotOfFrame(641, 481, 1, 0, 1);
}

TEST_F(Draw, ScreenshotKeyReachesTheClipboard) {
    setWindowedClient(640, 480);
    drawScene();
    engine::swapBuffers();
    OpenClipboard(nullptr);
    EmptyClipboard();
    CloseClipboard();
    SendMessageW(static_cast<HWND>(engine::getMainWindow()), WM_KEYDOWN, 0x34, 0);  // the 4 key
    ASSERT_TRUE(OpenClipboard(nullptr));
    EXPECT_TRUE(IsClipboardFormatAvailable(CF_DIB));
    CloseClipboard();
}

// While another program holds the clipboard open, the screenshot places
// nothing and keeps no memory: the block is freed, not leaked per key press.
TEST_F(Draw, ScreenshotWhileTheClipboardIsBusy) {
    setFullscreen(true);
    drawScene();
    engine::swapBuffers();
    HANDLE opened = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    struct Holder { HANDLE opened, release; bool holding; } holder{opened, release, false};
    HANDLE thread = CreateThread(
        nullptr, 0,
        [](void* p) -> DWORD {
            auto* h = static_cast<Holder*>(p);
            // Wine's own clipboard watcher may have it open for a moment.
            for (int i = 0; i < 500 && !h->holding; ++i) {
                h->holding = OpenClipboard(nullptr) != FALSE;
                if (!h->holding) Sleep(10);
            }
            if (h->holding) EmptyClipboard();
            SetEvent(h->opened);
            WaitForSingleObject(h->release, INFINITE);
            if (h->holding) CloseClipboard();
            return 0;
        },
        &holder, 0, nullptr);
    WaitForSingleObject(opened, INFINITE);

    // Anonymous memory in use (under Wine: the resident private pages), which
    // leaked blocks would hold as they are written. One call first, so what
    // the first read-back sets up once stays out of the measure.
    PROCESS_MEMORY_COUNTERS before{}, after{};
    if (holder.holding) {
        engine::copyScreenshotToClipboard(engine::getMainWindow());
        K32GetProcessMemoryInfo(GetCurrentProcess(), &before, sizeof before);
        for (int i = 0; i < 20; ++i) engine::copyScreenshotToClipboard(engine::getMainWindow());
        K32GetProcessMemoryInfo(GetCurrentProcess(), &after, sizeof after);
        EXPECT_FALSE(IsClipboardFormatAvailable(CF_DIB));
    }
    SetEvent(release);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    CloseHandle(opened);
    CloseHandle(release);
    ASSERT_TRUE(holder.holding) << "the clipboard could not be held";
    // 20 leaked blocks of 6 MB would be 120 MB.
    EXPECT_LT(after.PagefileUsage, before.PagefileUsage + 40 * 1024 * 1024)
        << before.PagefileUsage << " -> " << after.PagefileUsage;
}
