// The graphics library's layer hooks on the real engine: what a layer draws
// and how many textures it keeps alive while the game reloads it.
#include <windows.h>

#include <glad/gl.h>
#include <gtest/gtest.h>

#include "engine/graphics.h"
#include "guestCall.h"
#include "platform/kelmGraphics.h"
#include "scene.h"

using namespace drawtest;
using namespace guestCall;

namespace {

constexpr uint32_t createDXDraw = 0x401d85;
constexpr uint32_t setDisplayMode = 0x40714c;
constexpr uint32_t createLayer = 0x407404;
constexpr uint32_t destroyLayer = 0x4074ac;
constexpr uint32_t loadLayerImage = 0x4075fc;
constexpr uint32_t clearDisplay = 0x407868;
constexpr uint32_t blitLayer = 0x407978;

constexpr uint32_t layerObject = dataStart + 0x1000;
constexpr uint32_t displayAt = dataStart + 0x100;
constexpr uint32_t firstName = dataStart + 0x200;
constexpr uint32_t secondName = dataStart + 0x300;

// A function hook called as the game calls it, its arguments removed after.
void hook(uint32_t address, std::initializer_list<uint32_t> args) {
    call(address, args);
    machine::state.esp.v += 4u * static_cast<uint32_t>(args.size());
}

Picture plainPicture(int32_t width, int32_t height, uint32_t colour) {
    return Picture{width, height, std::vector<uint32_t>(static_cast<size_t>(width) * height, colour)};
}

class LayerOnTheEngine : public testing::Test {
protected:
    void SetUp() override {
        startEngine();
        setWindowedClient(640, 480);
        layOutGuest();
        platform::resetKelmGraphicsForTests();
        platform::registerKelmGraphicsHooks();
    }
    void TearDown() override {
        platform::resetKelmGraphicsForTests();
        machine::resetMachineForTests();
    }
};

}  // namespace

TEST_F(LayerOnTheEngine, AThousandReloadsKeepOneTextureAlive) {
    writeString(firstName, writePicture("first.bmp", plainPicture(64, 48, 0x112233)));
    writeString(secondName, writePicture("second.bmp", plainPicture(64, 48, 0x445566)));
    runHandlerAt(createDXDraw);
    const uint32_t drawObject = readDword(platform::dxDrawObjectGlobal.v);
    hook(setDisplayMode, {0, 0, 0, 0, displayAt});
    const uint32_t display = readDword(displayAt);

    const uint32_t before = engine::liveTextureCount();
    hook(createLayer, {layerObject, 0});
    for (int i = 0; i < 1000; ++i)
        hook(loadLayerImage, {layerObject, i % 2 == 0 ? firstName : secondName, drawObject, 0, 0});
    EXPECT_EQ(engine::liveTextureCount(), before + 1);

    // The texture left is the last picture's: the layer draws it.
    hook(clearDisplay, {display});
    hook(blitLayer, {layerObject, display, 0, 0});
    const std::vector<uint32_t> client = readClient(GL_BACK);
    EXPECT_EQ(client[479 * 640 + 0], 0x445566u);     // the picture's top-left pixel
    EXPECT_EQ(client[432 * 640 + 63], 0x445566u);    // its bottom-right pixel
    EXPECT_EQ(client[431 * 640 + 0], 0u);            // below it, the cleared screen

    hook(createLayer, {layerObject, 0});
    EXPECT_EQ(engine::liveTextureCount(), before);
    hook(loadLayerImage, {layerObject, firstName, drawObject, 0, 0});
    hook(destroyLayer, {layerObject, 0});
    EXPECT_EQ(engine::liveTextureCount(), before);
}
