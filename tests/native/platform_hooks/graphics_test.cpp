// The graphics library hooks: objects, layers, presenting and drawing.
#include <gtest/gtest.h>

#include "hooksTest.h"

using namespace hooksTest;
using fakeEngine::calls;
using fakeEngine::callsOf;
using guestLayout::mappedMemory;

namespace {

// Layer objects in the data block (96 bytes each).
constexpr uint32_t shipLayer = dataStart + 0x1000;     // 100 x 50, texture 1
constexpr uint32_t screenLayer = dataStart + 0x1080;   // 640 x 480, texture 2
constexpr uint32_t memoryLayer = dataStart + 0x1100;   // 64 x 32, in memory
constexpr uint32_t emptyLayer = dataStart + 0x1180;    // never loaded
constexpr uint32_t unknownLayer = dataStart + 0x1200;  // never created
constexpr uint32_t otherMemoryLayer = dataStart + 0x1280;
constexpr const char* memoryPicture = "C:\\data\\CD07.bmp";

// Four-byte pixels, value i at pixel i.
std::vector<uint8_t> countingPixels(uint32_t count) {
    std::vector<uint8_t> bytes(count * 4);
    for (uint32_t i = 0; i < count; ++i) machine::storeLe32(bytes.data() + 4 * i, 0xFF000000u | i);
    return bytes;
}

// Placeholders in argument tables for the objects made at run time.
constexpr uint32_t displayToken = 0xD15D15D1;
constexpr uint32_t drawToken = 0xD4A3D4A3;
constexpr uint32_t D = displayToken;

class GraphicsTest : public HooksTest {
protected:
    void SetUp() override {
        HooksTest::SetUp();
        fakeEngine::addImage("pics\\ship.bmp", 100, 50);
        fakeEngine::addImage("pics\\screen.bmp", 640, 480);
        fakeEngine::addImage(memoryPicture, 64, 32, countingPixels(64 * 32));
        fakeEngine::addImage("C:\\data\\CD08.bmp", 8, 8);
    }

    // The draw object, the display and the layers above, engine calls forgotten.
    void makeScene() {
        drawObject = makeDrawObject();
        display = makeDisplay();
        makeLayer(shipLayer, "pics\\ship.bmp", drawObject);
        makeLayer(screenLayer, "pics\\screen.bmp", drawObject);
        makeLayer(memoryLayer, memoryPicture, drawObject);
        makeLayer(emptyLayer, nullptr, drawObject);
        fakeEngine::clearCalls();
    }

    uint32_t resolve(uint32_t value) const {
        if (value == displayToken) return display;
        if (value == drawToken) return drawObject;
        return value;
    }

    uint32_t drawObject = 0;
    uint32_t display = 0;
};

// ---- Drawing coordinates -------------------------------------------------------------

struct DrawCase {
    const char* name;
    uint32_t hook;
    std::vector<uint32_t> args;  // D stands for the display object
    const char* engineCall;      // the one call expected, or "" for a refusal
    const char* refusal;
};

const DrawCase drawCases[] = {
    {"blit 100x50 at (10,20)", blitLayer, {shipLayer, D, 10, 20}, "drawSprite(10, 410, 100, 50, 1, 0, 0)", ""},
    {"blit 640x480 at (0,0)", blitLayer, {screenLayer, D, 0, 0}, "drawSprite(0, 0, 640, 480, 2, 0, 0)", ""},
    {"blit at (-20,-10)", blitLayer, {shipLayer, D, 0xFFFFFFEC, 0xFFFFFFF6}, "drawSprite(-20, 440, 100, 50, 1, 0, 0)", ""},
    {"blit y wraps", blitLayer, {shipLayer, D, 0, 0x7FFFFFFF}, "drawSprite(0, -2147483217, 100, 50, 1, 0, 0)", ""},
    {"blit from the display", blitLayer, {D, D, 0, 0}, "", "Unsupported argument"},
    {"blit from null", blitLayer, {0, D, 0, 0}, "", "Unsupported argument"},
    {"blit onto a layer", blitLayer, {shipLayer, screenLayer, 0, 0}, "", "Unsupported argument"},
    {"blit onto null", blitLayer, {shipLayer, 0, 0, 0}, "", "Unsupported argument"},
    {"blit unknown layer", blitLayer, {unknownLayer, D, 0, 0}, "", "Unknown layer"},
    {"blit in-memory layer", blitLayer, {memoryLayer, D, 0, 0}, "", "Invalid layer"},
    {"blit layer never loaded", blitLayer, {emptyLayer, D, 0, 0}, "", "Invalid layer"},
    {"region 640x480", blitLayerRegion, {screenLayer, D, 0, 0, 0, 0, 640, 480}, "drawSprite(0, 0, 640, 480, 2, 0, 0)", ""},
    {"region height 100", blitLayerRegion, {screenLayer, D, 0, 0, 0, 0, 640, 100}, "drawSprite(0, 380, 640, 100, 2, 0, 0)", ""},
    {"region larger than the layer", blitLayerRegion, {shipLayer, D, 0, 0, 0, 0, 200, 80}, "drawSprite(0, 400, 200, 80, 1, 0, 0)", ""},
    {"region a3 = 1", blitLayerRegion, {screenLayer, D, 1, 0, 0, 0, 640, 480}, "", "Unsupported argument"},
    {"region a6 = 1", blitLayerRegion, {screenLayer, D, 0, 0, 0, 1, 640, 480}, "", "Unsupported argument"},
    {"region onto a layer", blitLayerRegion, {screenLayer, shipLayer, 0, 0, 0, 0, 640, 480}, "", "Unsupported argument"},
    {"region unknown layer", blitLayerRegion, {unknownLayer, D, 0, 0, 0, 0, 640, 480}, "", "Unknown layer"},
    {"region in-memory layer", blitLayerRegion, {memoryLayer, D, 0, 0, 0, 0, 64, 32}, "", "Invalid layer"},
    {"fill the screen", fillRect, {D, 0, 0, 639, 479, 0x123456}, "drawRectangle(0, 0, 640, 480, 0x123456)", ""},
    {"fill one pixel", fillRect, {D, 10, 20, 10, 20, 0xFF}, "drawRectangle(10, 459, 1, 1, 0xff)", ""},
    {"fill from negative", fillRect, {D, 0xFFFFFFFB, 0xFFFFFFFB, 5, 5, 0}, "drawRectangle(-5, 474, 11, 11, 0x0)", ""},
    {"fill width wraps", fillRect, {D, 0x80000000, 0, 0x7FFFFFFF, 0, 0}, "drawRectangle(-2147483648, 479, 0, 1, 0x0)", ""},
    {"fill right < left", fillRect, {D, 10, 20, 9, 20, 0}, "", "Unsupported argument"},
    {"fill bottom < top", fillRect, {D, 10, 20, 10, 19, 0}, "", "Unsupported argument"},
    {"fill right < left, signed", fillRect, {D, 0, 0, 0xFFFFFFFF, 0, 0}, "", "Unsupported argument"},
    {"fill a layer", fillRect, {shipLayer, 0, 0, 1, 1, 0}, "", "Unsupported argument"},
    {"fill null", fillRect, {0, 0, 0, 1, 1, 0}, "", "Unsupported argument"},
};

TEST_F(GraphicsTest, DrawingTurnsTopDownCoordinatesIntoGameSpace) {
    makeScene();
    for (const DrawCase& c : drawCases) {
        fakeEngine::clearCalls();
        std::vector<uint32_t> args;
        for (uint32_t a : c.args) args.push_back(resolve(a));
        // The argument lists have 4, 6 or 8 entries; call() wants a braced list.
        auto run = [&](auto&& f) {
            switch (args.size()) {
                case 4: return f({args[0], args[1], args[2], args[3]});
                case 6: return f({args[0], args[1], args[2], args[3], args[4], args[5]});
                default: return f({args[0], args[1], args[2], args[3], args[4], args[5], args[6], args[7]});
            }
        };
        if (*c.refusal == '\0') {
            Result r = run([&](std::initializer_list<uint32_t> a) { return hook(c.hook, a); });
            EXPECT_EQ(calls(), std::vector<std::string>{c.engineCall}) << c.name;
            EXPECT_EQ(r.espChange, 4u) << c.name;
            EXPECT_EQ(r.eip, returnAddress) << c.name;
            EXPECT_EQ(r.eax, eaxBefore) << c.name;
        } else {
            Refusal r = run([&](std::initializer_list<uint32_t> a) { return refused(c.hook, a); });
            EXPECT_EQ(r.message, c.refusal) << c.name;
            EXPECT_TRUE(r.registersUnchanged && r.memoryUnchanged) << c.name;
            EXPECT_TRUE(calls().empty()) << c.name;
        }
    }
}

TEST_F(GraphicsTest, ClearAndTheCallsThatDrawNothing) {
    makeScene();
    hook(clearDisplay, {display});
    hook(ignoreDisplayCall, {display, 7});
    hook(checkFullScreenRect, {display, 0, 0, 640, 480});
    EXPECT_EQ(calls(), std::vector<std::string>{"clearScreen()"});

    EXPECT_EQ(refused(clearDisplay, {shipLayer}).message, "Unsupported argument");
    EXPECT_EQ(refused(ignoreDisplayCall, {0, 0}).message, "Unsupported argument");
    EXPECT_EQ(refused(checkFullScreenRect, {display, 0, 0, 639, 479}).message, "Unsupported argument");
    EXPECT_EQ(refused(checkFullScreenRect, {display, 1, 0, 640, 480}).message, "Unsupported argument");

    // ignoreCall reads nothing, not even a stack that holds no arguments.
    uint32_t esp = machine::state.esp.v;
    Result r = hook(ignoreCall, {});
    EXPECT_EQ(r.espChange, 4u);
    EXPECT_EQ(machine::state.esp.v, esp);
    EXPECT_EQ(r.eax, eaxBefore);
}

TEST_F(GraphicsTest, ClearRefusesANullDisplayBeforeTheModeIsSet) {
    EXPECT_EQ(refused(clearDisplay, {0}).message, "Unsupported argument");
}

// ---- Objects ---------------------------------------------------------------------------

TEST_F(GraphicsTest, DrawObjectCreatedReleasedAndCreatedAgain) {
    EXPECT_EQ(runInline(createDXDraw), createDXDraw + 50);
    uint32_t first = readDword(dxDrawGlobal);
    EXPECT_NE(first, 0u);
    machine::state.eip = app::Addr{createDXDraw};
    EXPECT_EQ(guest::errorOf([] { runHandlerAt(createDXDraw); }), "DXDraw object already created");

    EXPECT_EQ(runInline(releaseDXDraw), releaseDXDraw + 34);
    EXPECT_EQ(readDword(dxDrawGlobal), 0u);
    EXPECT_EQ(guest::errorOf([] { runHandlerAt(releaseDXDraw); }), "DXDraw object not created");

    EXPECT_EQ(runInline(createDXDraw), createDXDraw + 50);
    EXPECT_NE(readDword(dxDrawGlobal), 0u);
    EXPECT_EQ(machine::state.eax.v, eaxBefore);
}

TEST_F(GraphicsTest, DisplayModeIsSetOnce) {
    Result r = hook(setDisplayMode, {0, 0, 0, 0, scratch});
    EXPECT_EQ(r.espChange, 4u);
    EXPECT_NE(readDword(scratch), 0u);
    EXPECT_EQ(refused(setDisplayMode, {0, 0, 0, 0, scratch + 4}).message, "Display mode already set");
    EXPECT_EQ(readDword(scratch + 4), 0u);
}

// ---- Layers ----------------------------------------------------------------------------

TEST_F(GraphicsTest, PictureNameChoosesTheLoadingRoad) {
    struct NameCase {
        const char* name;
        bool inMemory;
    };
    const NameCase names[] = {
        {"C:\\data\\CD07.bmp", true}, {"\\CD00.bmp", true},       {"a\\b\\CD99.bmp", true},
        {"\\\\CD12.bmp", true},       {"x\\CD01.bmp\\CD02.bmp", true},
        {"C:\\data\\cd07.bmp", false}, {"C:\\data\\CD07.BMP", false}, {"C:\\data\\CD7.bmp", false},
        {"C:\\data\\CD07.bmp.old", false}, {"CD07.bmp", false},    {"C:\\data\\CD007.bmp", false},
        {"C:\\data\\CDx7.bmp", false}, {"C:/data/CD07.bmp", false}, {"\\CD07xbmp", false},
        {"", false},
    };
    makeScene();
    for (const NameCase& c : names) {
        EXPECT_EQ(platform::isInMemoryPictureName(c.name), c.inMemory) << c.name;
        if (*c.name == '\0') continue;
        fakeEngine::addImage(c.name, 4, 2);
        fakeEngine::clearCalls();
        makeLayer(emptyLayer, c.name, drawObject);
        std::string expected = std::string(c.inMemory ? "loadImageInMemory(\"" : "loadImage(\"") + c.name + "\")";
        EXPECT_EQ(calls().back(), expected);
    }
}

TEST_F(GraphicsTest, LoadChecksItsArgumentsAfterReadingTheName) {
    makeScene();
    writeString(nameAt, "pics\\ship.bmp");
    EXPECT_EQ(refused(loadLayerImage, {display, nameAt, drawObject, 0, 0}).message, "Unsupported argument");
    EXPECT_EQ(refused(loadLayerImage, {shipLayer, nameAt, drawObject + 1, 0, 0}).message, "Unsupported argument");
    EXPECT_EQ(refused(loadLayerImage, {shipLayer, nameAt, drawObject, 1, 0}).message, "Unsupported argument");
    EXPECT_EQ(refused(loadLayerImage, {shipLayer, nameAt, drawObject, 0, 1}).message, "Unsupported argument");
    EXPECT_EQ(refused(loadLayerImage, {unknownLayer, nameAt, drawObject, 0, 0}).message, "Unknown layer");
    writeBytes(nameAt, {'p', 0x80, 0});
    EXPECT_EQ(refused(loadLayerImage, {display, nameAt, drawObject, 0, 0}).message,
              "Unsupported character in string");
    EXPECT_TRUE(calls().empty());
}

TEST_F(GraphicsTest, ColourKeyOnlyBeforeATexture) {
    makeScene();
    hook(setTransparentColour, {emptyLayer, 0xFF00FF});
    hook(setTransparentColour, {emptyLayer, 0x00FF00});  // may change while there is no texture
    writeString(nameAt, "pics\\ship.bmp");
    hook(loadLayerImage, {emptyLayer, nameAt, drawObject, 0, 0});
    EXPECT_EQ(calls(), std::vector<std::string>{"loadImage(\"pics\\ship.bmp\", 0xff00)"});

    Refusal r = refused(setTransparentColour, {emptyLayer, 0});
    EXPECT_EQ(r.message, "Can't set transparent colour after layer data has been set.");
    EXPECT_TRUE(r.registersUnchanged && r.memoryUnchanged);
    EXPECT_EQ(refused(setTransparentColour, {unknownLayer, 0}).message, "Unknown layer");

    // An in-memory layer has no texture: a key is accepted, and not used.
    hook(setTransparentColour, {memoryLayer, 0x123456});
    fakeEngine::clearCalls();
    makeLayer(otherMemoryLayer, nullptr, drawObject);
    hook(setTransparentColour, {otherMemoryLayer, 0x123456});
    writeString(nameAt, memoryPicture);
    hook(loadLayerImage, {otherMemoryLayer, nameAt, drawObject, 0, 0});
    EXPECT_EQ(callsOf("loadImageInMemory"), std::vector<std::string>{"loadImageInMemory(\"C:\\data\\CD07.bmp\")"});
}

TEST_F(GraphicsTest, LockMapsThePixelsAndWritesTheLayerObject) {
    makeScene();
    Result r = hook(lockLayer, {memoryLayer});
    EXPECT_EQ(r.espChange, 4u);
    EXPECT_EQ(r.eax, eaxBefore);
    EXPECT_EQ(readDword(memoryLayer + 56), mappedMemory);
    EXPECT_EQ(readDword(memoryLayer + 60), 64u);
    // Pixel (x, y) at 0xE0000000 + 4 (y * width + x).
    EXPECT_EQ(readDword(mappedMemory + 4 * (3 * 64 + 5)), 0xFF000000u | (3 * 64 + 5));
    writeDword(mappedMemory + 4 * 7, 0xFF112233);

    Refusal second = refused(lockLayer, {memoryLayer});
    EXPECT_EQ(second.message, "Multiple mapped-memory blocks not supported");
    EXPECT_TRUE(second.registersUnchanged && second.memoryUnchanged);

    hook(unlockLayer, {memoryLayer});
    EXPECT_EQ(readDword(memoryLayer + 56), mappedMemory);  // left as they were
    EXPECT_EQ(guest::errorOf([] { readDword(mappedMemory); }).rfind("Attempted to lookup invalid memory address", 0), 0u);
    EXPECT_EQ(refused(unlockLayer, {memoryLayer}).message, "Surface is not already locked");

    // What the guest wrote stays in the layer's pixels.
    hook(lockLayer, {memoryLayer});
    EXPECT_EQ(readDword(mappedMemory + 4 * 7), 0xFF112233u);
    hook(unlockLayer, {memoryLayer});
}

TEST_F(GraphicsTest, LockAndUnlockRefusals) {
    makeScene();
    struct Case {
        uint32_t hook;
        uint32_t object;
        const char* message;
    };
    const Case cases[] = {
        {lockLayer, 0, "Unsupported argument"},
        {lockLayer, D, "Unsupported argument"},
        {lockLayer, unknownLayer, "Unknown layer"},
        {lockLayer, shipLayer, "Layer can't be locked"},
        {lockLayer, emptyLayer, "Layer can't be locked"},
        {unlockLayer, 0, "Unsupported argument"},
        {unlockLayer, D, "Unsupported argument"},
        {unlockLayer, unknownLayer, "Unknown layer"},
        {unlockLayer, memoryLayer, "Surface is not already locked"},
    };
    for (const Case& c : cases) {
        Refusal r = refused(c.hook, {resolve(c.object)});
        EXPECT_EQ(r.message, c.message) << std::hex << c.hook << " " << c.object;
        EXPECT_TRUE(r.registersUnchanged && r.memoryUnchanged);
    }
}

TEST_F(GraphicsTest, CreateLayerResetsTheRecordAndZeroesTheObject) {
    makeScene();
    writeBytes(shipLayer, std::vector<uint8_t>(96, 0xAB));
    hook(createLayer, {shipLayer, 0});
    EXPECT_EQ(readBytes(shipLayer, 96), std::vector<uint8_t>(96, 0));
    EXPECT_EQ(refused(blitLayer, {shipLayer, display, 0, 0}).message, "Invalid layer");
    hook(setTransparentColour, {shipLayer, 1});  // no texture any more
    EXPECT_EQ(calls(), std::vector<std::string>{"deleteTexture(1)"});

    fakeEngine::clearCalls();
    EXPECT_EQ(refused(createLayer, {display, 0}).message, "Unsupported argument");
    EXPECT_EQ(refused(createLayer, {screenLayer, 1}).message, "Unsupported argument");
    EXPECT_TRUE(calls().empty());
}

// ---- Textures: deleted once no layer can draw with them ------------------------

TEST_F(GraphicsTest, AReloadDeletesTheTextureItReplaces) {
    makeScene();  // ship texture 1, screen texture 2
    writeString(nameAt, "pics\\ship.bmp");
    hook(loadLayerImage, {shipLayer, nameAt, drawObject, 0, 0});
    EXPECT_EQ(calls(), (std::vector<std::string>{"loadImage(\"pics\\ship.bmp\")", "deleteTexture(1)"}));
    for (int i = 0; i < 999; ++i) hook(loadLayerImage, {shipLayer, nameAt, drawObject, 0, 0});
    EXPECT_EQ(callsOf("deleteTexture").size(), 1000u);
    EXPECT_EQ(fakeEngine::liveTextures(), (std::vector<uint32_t>{2, 1002}));
    fakeEngine::clearCalls();
    hook(blitLayer, {shipLayer, display, 0, 0});
    EXPECT_EQ(calls(), std::vector<std::string>{"drawSprite(0, 430, 100, 50, 1002, 0, 0)"});
}

TEST_F(GraphicsTest, TheLayerTakesItsTextureAlongWhenItGoes) {
    struct Case {
        const char* what;
        void (*act)(uint32_t drawObject);
        bool deletesTheShipTexture;
    };
    const Case cases[] = {
        {"createLayer over a loaded layer", [](uint32_t) { hook(createLayer, {shipLayer, 0}); }, true},
        {"destroyLayer of a loaded layer", [](uint32_t) { hook(destroyLayer, {shipLayer, 0}); }, true},
        {"createLayer over an in-memory layer", [](uint32_t) { hook(createLayer, {memoryLayer, 0}); }, false},
        {"destroyLayer of a layer never loaded", [](uint32_t) { hook(destroyLayer, {emptyLayer, 0}); }, false},
        // The in-memory road leaves the texture to the layer, still drawn.
        {"in-memory load into a loaded layer",
         [](uint32_t drawObject) {
             writeString(nameAt, memoryPicture);
             hook(loadLayerImage, {shipLayer, nameAt, drawObject, 0, 0});
         },
         false},
        // Layers outlive the draw object: the game draws them again once it
        // has made a new one.
        {"the draw object released", [](uint32_t) { runInline(releaseDXDraw); }, false},
    };
    makeScene();
    for (const Case& c : cases) {
        makeLayer(shipLayer, "pics\\ship.bmp", drawObject);
        makeLayer(memoryLayer, memoryPicture, drawObject);
        makeLayer(emptyLayer, nullptr, drawObject);
        const uint32_t ship = fakeEngine::lastTexture();
        fakeEngine::clearCalls();
        c.act(drawObject);
        if (c.deletesTheShipTexture) {
            EXPECT_EQ(callsOf("deleteTexture"), std::vector<std::string>{app::format("deleteTexture(%u)", ship)}) << c.what;
            continue;
        }
        EXPECT_EQ(callsOf("deleteTexture"), std::vector<std::string>{}) << c.what;
        if (readDword(dxDrawGlobal) == 0) drawObject = makeDrawObject();
        fakeEngine::clearCalls();
        hook(blitLayer, {shipLayer, display, 0, 0});
        ASSERT_EQ(calls().size(), 1u) << c.what;
        EXPECT_TRUE(calls()[0].ends_with(app::format(", %u, 0, 0)", ship))) << c.what << ": " << calls()[0];
    }
    EXPECT_EQ(fakeEngine::liveTextures(), (std::vector<uint32_t>{2, fakeEngine::lastTexture()}));
}

// ---- Destroying a layer: the game's own clean-up routines run first ----------------

// A routine that appends (tag, its argument) to a log whose end pointer is
// the dword at logEnd.
constexpr uint32_t logEnd = dataStart + 0x2000;
constexpr uint32_t logStart = dataStart + 0x2010;

void writeLoggingRoutine(uint32_t at, uint32_t tag) {
    std::vector<uint8_t> code = guest::hexBytes(
        "A1 00 20 41 00"  // mov eax, [logEnd]
        "C7 00 00 00 00 00"  // mov dword [eax], tag
        "8B 4C 24 04"     // mov ecx, [esp + 4]
        "89 48 04"        // mov [eax + 4], ecx
        "83 C0 08"        // add eax, 8
        "A3 00 20 41 00"  // mov [logEnd], eax
        "C3");            // ret
    machine::storeLe32(code.data() + 7, tag);
    writeBytes(at, code);
}

std::vector<uint32_t> routineLog() {
    std::vector<uint32_t> entries;
    for (uint32_t p = logStart; p < readDword(logEnd); p += 4) entries.push_back(readDword(p));
    return entries;
}

class DestroyTest : public GraphicsTest {
protected:
    void SetUp() override {
        GraphicsTest::SetUp();
        static_assert(logEnd == 0x412000);
        writeLoggingRoutine(0x4074d8, 1);
        writeLoggingRoutine(0x407e94, 2);
        writeDword(logEnd, logStart);
        makeScene();
    }
};

TEST_F(DestroyTest, RunsTheRoutinesTheObjectAsksForInOrder) {
    struct Case {
        uint8_t byte4;
        uint32_t flags;
        std::vector<uint32_t> log;
    };
    const uint32_t o = shipLayer;
    const Case cases[] = {
        {0, 0, {}},
        {1, 0, {1, o}},
        {0, 1, {2, o}},
        {0x80, 3, {1, o, 2, o}},
        {0, 2, {}},
    };
    for (const Case& c : cases) {
        makeLayer(shipLayer, "pics\\ship.bmp", drawObject);
        writeBytes(shipLayer + 4, {c.byte4});
        writeDword(logEnd, logStart);
        Result r = hook(destroyLayer, {shipLayer, c.flags});
        EXPECT_EQ(routineLog(), c.log) << int{c.byte4} << " " << c.flags;
        EXPECT_EQ(r.espChange, 4u);
        EXPECT_EQ(r.eip, returnAddress);
        EXPECT_EQ(refused(blitLayer, {shipLayer, display, 0, 0}).message, "Unknown layer");
    }
}

TEST_F(DestroyTest, NullObjectDoesNothing) {
    writeBytes(0x4074d8, {0xCC});  // would stop the run if it were called
    Result r = hook(destroyLayer, {0, 1});
    EXPECT_EQ(r.espChange, 4u);
    EXPECT_EQ(r.eip, returnAddress);
    EXPECT_EQ(routineLog(), std::vector<uint32_t>{});
}

TEST_F(DestroyTest, UnknownObjectIsRefusedAfterItsRoutines) {
    writeBytes(unknownLayer + 4, {1});
    EXPECT_EQ(guest::errorOf([] { call(destroyLayer, {unknownLayer, 1}); }), "Unknown layer");
    EXPECT_EQ(routineLog(), (std::vector<uint32_t>{1, unknownLayer, 2, unknownLayer}));
}

TEST_F(DestroyTest, LockedPixelsStayReadableAfterTheLayerGoes) {
    hook(lockLayer, {memoryLayer});
    hook(destroyLayer, {memoryLayer, 0});
    EXPECT_EQ(readDword(mappedMemory + 4 * 9), 0xFF000009u);
    writeDword(mappedMemory, 0xFF0000FF);
    EXPECT_EQ(readDword(mappedMemory), 0xFF0000FFu);
    // The block stays: no other layer can be locked, and the old one is gone.
    makeLayer(otherMemoryLayer, memoryPicture, drawObject);
    EXPECT_EQ(refused(lockLayer, {otherMemoryLayer}).message, "Multiple mapped-memory blocks not supported");
    EXPECT_EQ(refused(unlockLayer, {memoryLayer}).message, "Unknown layer");
}

TEST_F(DestroyTest, LockedPixelsStayReadableAfterTheLayerIsRecreatedOrReloaded) {
    hook(lockLayer, {memoryLayer});
    writeString(nameAt, "C:\\data\\CD08.bmp");
    hook(loadLayerImage, {memoryLayer, nameAt, drawObject, 0, 0});  // new pixels for the layer
    EXPECT_EQ(readDword(mappedMemory + 4 * 100), 0xFF000064u);      // the mapped ones are the old
    hook(createLayer, {memoryLayer, 0});
    EXPECT_EQ(readDword(mappedMemory + 4 * 101), 0xFF000065u);
    EXPECT_EQ(refused(unlockLayer, {memoryLayer}).message, "Surface is not already locked");
}

// ---- Presenting ------------------------------------------------------------------------

TEST_F(GraphicsTest, FlipWaitsThenSwapsOrStopsOnAQuit) {
    makeScene();
    Result r = hook(flip, {drawObject});
    EXPECT_EQ(calls(), (std::vector<std::string>{"waitForNextFrame()", "swapBuffers()"}));
    EXPECT_FALSE(machine::state.exitRequested);
    EXPECT_EQ(r.espChange, 4u);
    EXPECT_EQ(r.eax, eaxBefore);

    fakeEngine::clearCalls();
    fakeEngine::scriptWaitForNextFrame({true});
    r = hook(flip, {drawObject});
    EXPECT_EQ(calls(), std::vector<std::string>{"waitForNextFrame()"});
    EXPECT_TRUE(machine::state.exitRequested);
    EXPECT_EQ(r.eip, returnAddress);

    fakeEngine::clearCalls();
    machine::state.exitRequested = false;
    EXPECT_EQ(refused(flip, {drawObject + 1}).message, "Unsupported argument");
    EXPECT_EQ(refused(flip, {0}).message, "Unsupported argument");
    EXPECT_TRUE(calls().empty());
}

TEST_F(GraphicsTest, FlipWithoutADrawObjectAcceptsNull) {
    hook(flip, {0});
    EXPECT_EQ(calls(), (std::vector<std::string>{"waitForNextFrame()", "swapBuffers()"}));
}

TEST_F(GraphicsTest, QuitDuringFlipEndsTheRunBeforeTheNextInstruction) {
    makeScene();
    fakeEngine::scriptWaitForNextFrame({true});
    // push drawObject; call flip; then a byte no instruction decodes.
    std::vector<uint8_t> code = guest::hexBytes("68 00 00 00 00 E8 00 00 00 00 CC");
    machine::storeLe32(code.data() + 1, drawObject);
    const uint32_t at = 0x402000;
    machine::storeLe32(code.data() + 6, flip - (at + 10));
    writeBytes(at, code);
    EXPECT_EQ(guest::errorOf([&] { machine::callGuest(app::Addr{at}); }), "");
    EXPECT_TRUE(machine::state.exitRequested);
    EXPECT_EQ(machine::state.eip.v, at + 10);
    EXPECT_EQ(callsOf("swapBuffers"), std::vector<std::string>{});
}

// ---- The back surface's DC -------------------------------------------------------------

TEST_F(GraphicsTest, TextGoesBetweenGetDCAndReleaseDC) {
    makeScene();
    Result r = hook(getDC, {display, scratch + 8});
    EXPECT_EQ(readDword(scratch + 8), 4u);
    EXPECT_EQ(r.espChange, 4u);
    writeString(nameAt, "Score: 10");
    EXPECT_EQ(call(0xF0003003, {4, 0xFFFFFFFB, 470, nameAt, 9}).eax, 1u);  // TextOutA, stdcall
    hook(releaseDC, {display});
    EXPECT_EQ(calls(), std::vector<std::string>{"drawText(-5, 470, \"Score: 10\")"});

    EXPECT_EQ(refused(releaseDC, {display}).message, "Back surface DC not acquired");
    hook(getDC, {display, scratch + 8});
    EXPECT_EQ(refused(getDC, {display, scratch + 12}).message, "Back surface DC already acquired");
    EXPECT_EQ(readDword(scratch + 12), 0u);
    hook(releaseDC, {display});

    EXPECT_EQ(refused(getDC, {shipLayer, scratch + 8}).message, "Unsupported argument");
    EXPECT_EQ(refused(releaseDC, {0}).message, "Unsupported argument");
    // A result pointer outside guest memory leaves the DC free.
    EXPECT_NE(refused(getDC, {display, 0x10}).message, "");
    hook(getDC, {display, scratch + 8});
}

TEST_F(HooksTest, RegistrarsBindTwentyEightHooks) {
    // The four gdi32 functions and 19 + 5 + 4 hooks, at distinct addresses.
    EXPECT_EQ(machine::getHandlers().size(), 4u + 28u);
}

TEST_F(HooksTest, FunctionHooksViewExactlyTheirSlotsAtEsp) {
    // Slots = the return address and the arguments. With exactly that many
    // dwords left before the stack's end the view fits (whatever the hook then
    // makes of the zero arguments); one dword fewer and the view fails.
    struct Case {
        uint32_t hook;
        uint32_t slots;
    };
    const Case cases[] = {
        {setDisplayMode, 6}, {flip, 2}, {createLayer, 3}, {destroyLayer, 3},
        {loadLayerImage, 6}, {clearDisplay, 2}, {blitLayerRegion, 9}, {blitLayer, 5},
        {fillRect, 7}, {lockLayer, 2}, {unlockLayer, 2}, {getDC, 3}, {releaseDC, 2},
        {setTransparentColour, 3}, {ignoreDisplayCall, 3}, {checkFullScreenRect, 6},
        {pollMouse, 2}, {pollKeyboard, 2},
    };
    for (const Case& c : cases) {
        for (uint32_t fitting : {c.slots, c.slots - 1}) {
            uint32_t esp = stackTop - 4 * fitting;
            writeBytes(stackTop - 64, std::vector<uint8_t>(64, 0));
            machine::state.esp = app::Val32{esp};
            std::string viewFailed = app::format(
                "Attempted to lookup invalid memory address: 0x%x  size: %u", esp, 4 * c.slots);
            std::string message = guest::errorOf([&] { runHandlerAt(c.hook); });
            if (fitting == c.slots)
                EXPECT_NE(message, viewFailed) << std::hex << c.hook;
            else
                EXPECT_EQ(message, viewFailed) << std::hex << c.hook;
        }
    }
}

}  // namespace
