#include "platform/kelmGraphics.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <unordered_map>

#include "engine/engine.h"
#include "machine/executer.h"
#include "machine/machineState.h"
#include "platform/gdi.h"
#include "platform/string.h"

namespace platform {

using app::ProgramException;
using machine::state;
using machine::WordView;

namespace {

// One live layer object of the game.
struct Layer {
    int32_t width = 0;   // of the loaded picture; 0 before a load
    int32_t height = 0;
    uint32_t texture = 0;  // of a picture loaded for drawing; 0 = none
    std::optional<uint32_t> transparentColour;
    // Pixels of a picture loaded in memory (null when none). Shared: while
    // the layer is locked the guest reads and writes these very bytes, and
    // the lock keeps them alive even if the layer goes away.
    std::shared_ptr<engine::ImageInMemory> data;
    Addr lockedAddress;  // 0xE0000000 while locked, null otherwise
};

Addr dxDrawObject;
Addr displayObject;
std::unordered_map<uint32_t, Layer> layers;  // by the layer object's guest address
// The pixels behind the mapped block while a layer is locked. Held apart from
// the layer, so a layer destroyed or re-created while locked cannot leave
// guest memory mapped onto freed host memory.
std::shared_ptr<engine::ImageInMemory> lockedPixels;

constexpr uint32_t firstCleanUpFlagOffset = 4;
// The game's own clean-up routines that destroyLayer still runs: the first
// when the object's byte 4 is set, the second for bit 0 of the flags.
constexpr Addr firstCleanUpRoutine{0x4074d8};
constexpr Addr secondCleanUpRoutine{0x407e94};

[[noreturn]] void unsupported() { throw ProgramException("Unsupported argument"); }

// The layer recorded for an object, or "Unknown layer".
Layer& knownLayer(Addr object) {
    auto found = layers.find(object.v);
    if (found == layers.end()) throw ProgramException("Unknown layer");
    return found->second;
}

bool isDisplay(Addr object) { return !object.isNull() && object == displayObject; }
bool isLayerObject(Addr object) { return !object.isNull() && object != displayObject; }

// Top-down y of a rectangle's top row to the engine's y-up bottom row,
// wrapping like the game's 32-bit arithmetic.
int32_t flipY(uint32_t top, uint32_t height) {
    return static_cast<int32_t>(uint32_t{engine::gameHeight} - (height + top));
}

// The layer's texture is deleted: no layer shares it, and nothing draws
// with it any more.
void dropTexture(Layer& layer) {
    if (layer.texture == 0) return;
    engine::deleteTexture(layer.texture);
    layer.texture = 0;
}

// ---- Objects ---------------------------------------------------------------------

void createDXDraw() {
    createLibraryObject(dxDrawObject, dxDrawObjectGlobal, 0, "DXDraw object already created");
    continueAfter(50);
}

void releaseDXDraw() {
    releaseLibraryObject(dxDrawObject, dxDrawObjectGlobal, "DXDraw object not created");
    continueAfter(34);
}

void setDisplayMode() {
    ArgumentView args = hookArguments();
    Addr result = args.argAddr(5);
    if (!displayObject.isNull()) throw ProgramException("Display mode already set");
    uint8_t* out = machine::hostPointer4(result);
    displayObject = machine::allocate(0);
    machine::storeLe32(out, displayObject.v);
    returnFromHook();
}

// ---- Layers ------------------------------------------------------------------------

void createLayer() {
    ArgumentView args = hookArguments();
    Addr object = args.argAddr(1);
    uint32_t flags = args.arg32(2).v;
    if (object == displayObject || flags != 0) unsupported();
    std::span<uint8_t> bytes = machine::hostSlice(object, layerObjectSize);
    std::fill(bytes.begin(), bytes.end(), uint8_t{0});
    Layer& layer = layers[object.v];
    dropTexture(layer);
    layer = Layer{};
    returnFromHook();
}

// Runs one of the game's routines for the object, as the library did.
void callLayerRoutine(Addr routine, Addr object) {
    machine::push32(app::Val32{object.v});
    machine::callGuest(routine);
    state.esp.v += 4;
}

void destroyLayer() {
    ArgumentView args = hookArguments();
    Addr object = args.argAddr(1);
    uint32_t flags = args.arg32(2).v;
    if (object.isNull()) {
        returnFromHook();
        return;
    }
    // Both routines are the game's own and run before the record is looked
    // up, so an unknown object is refused only after them.
    if (machine::readMemory8(false, app::addrAdd(object, firstCleanUpFlagOffset)).v != 0)
        callLayerRoutine(firstCleanUpRoutine, object);
    if ((flags & 1u) != 0) callLayerRoutine(secondCleanUpRoutine, object);
    auto found = layers.find(object.v);
    if (found == layers.end()) throw ProgramException("Unknown layer");
    // A lock is not undone: the mapped block keeps its pixels through
    // lockedPixels.
    dropTexture(found->second);
    layers.erase(found);
    returnFromHook();
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

void loadLayerImage() {
    ArgumentView args = hookArguments();
    Addr object = args.argAddr(1);
    std::string name = getString(args.argAddr(2));
    Addr drawObject = args.argAddr(3);
    uint32_t a4 = args.arg32(4).v;
    uint32_t a5 = args.arg32(5).v;
    if (object == displayObject || drawObject != dxDrawObject || a4 != 0 || a5 != 0)
        unsupported();
    Layer& layer = knownLayer(object);
    if (isInMemoryPictureName(name)) {
        std::shared_ptr<engine::ImageInMemory> image = engine::loadImageInMemory(name);
        layer.width = static_cast<int32_t>(image->width);
        layer.height = static_cast<int32_t>(image->height);
        layer.data = std::move(image);
    } else {
        engine::Image image = engine::loadImage(name, layer.transparentColour);
        dropTexture(layer);
        layer.width = static_cast<int32_t>(image.width);
        layer.height = static_cast<int32_t>(image.height);
        layer.texture = image.texture;
    }
    returnFromHook();
}

void setTransparentColour() {
    ArgumentView args = hookArguments();
    Addr object = args.argAddr(1);
    uint32_t colour = args.arg32(2).v;
    Layer& layer = knownLayer(object);
    if (layer.texture != 0)
        throw ProgramException("Can't set transparent colour after layer data has been set.");
    layer.transparentColour = colour;
    returnFromHook();
}

// The layer that a lock or an unlock names: a layer object we know.
Layer& layerToLock(Addr object) {
    if (!isLayerObject(object)) unsupported();
    return knownLayer(object);
}

void lockLayer() {
    Addr object = hookArguments().argAddr(1);
    Layer& layer = layerToLock(object);
    if (layer.data == nullptr || layer.data->pixels().empty())
        throw ProgramException("Layer can't be locked");
    WordView fields = machine::hostSliceUint(object, layerObjectSize / 4);
    layer.lockedAddress = machine::addMappedMemory(layer.data->pixels());
    lockedPixels = layer.data;
    fields.set(layerPixelsDword, layer.lockedAddress.v);
    fields.set(layerPitchDword, static_cast<uint32_t>(layer.width));
    returnFromHook();
}

// Nothing is copied back and no texture is made: the guest's writes while
// locked went to the layer's pixels themselves.
void unlockLayer() {
    Layer& layer = layerToLock(hookArguments().argAddr(1));
    if (layer.lockedAddress.isNull()) throw ProgramException("Surface is not already locked");
    machine::removeMappedMemory(layer.lockedAddress);
    layer.lockedAddress = Addr{0};
    lockedPixels.reset();
    returnFromHook();
}

// ---- Presenting and drawing ----------------------------------------------------

void ignoreCall() { returnFromHook(); }

// The frame wait is where host messages are pumped; a quit seen there ends
// the guest run after this hook, without showing the frame.
void flip() {
    ArgumentView args = hookArguments();
    if (args.argAddr(1) != dxDrawObject) unsupported();
    if (engine::waitForNextFrame())
        state.exitRequested = true;
    else
        engine::swapBuffers();
    returnFromHook();
}

void clearDisplay() {
    ArgumentView args = hookArguments();
    if (!isDisplay(args.argAddr(1))) unsupported();
    engine::clearScreen();
    returnFromHook();
}

// The source layer of a blit: a known layer with a texture.
const Layer& blitSource(Addr object) {
    const Layer& layer = knownLayer(object);
    if (layer.texture == 0) throw ProgramException("Invalid layer");
    return layer;
}

// A width x height block from texel (0, 0) to the screen's top-left corner.
void blitLayerRegion() {
    ArgumentView args = hookArguments();
    Addr source = args.argAddr(1);
    Addr destination = args.argAddr(2);
    uint32_t width = args.arg32(7).v;
    uint32_t height = args.arg32(8).v;
    if (!isLayerObject(source) || !isDisplay(destination) || args.arg32(3).v != 0 ||
        args.arg32(4).v != 0 || args.arg32(5).v != 0 || args.arg32(6).v != 0)
        unsupported();
    const Layer& layer = blitSource(source);
    engine::drawSprite(0, flipY(0, height), static_cast<int32_t>(width),
                       static_cast<int32_t>(height), layer.texture, 0, 0);
    returnFromHook();
}

// The whole layer with its top-left corner at the game's (x, y); no clipping.
void blitLayer() {
    ArgumentView args = hookArguments();
    Addr source = args.argAddr(1);
    Addr destination = args.argAddr(2);
    uint32_t x = args.arg32(3).v;
    uint32_t y = args.arg32(4).v;
    if (!isLayerObject(source) || !isDisplay(destination)) unsupported();
    const Layer& layer = blitSource(source);
    engine::drawSprite(static_cast<int32_t>(x), flipY(y, static_cast<uint32_t>(layer.height)),
                       layer.width, layer.height, layer.texture, 0, 0);
    returnFromHook();
}

// The rectangle includes its right column and its bottom row.
void fillRect() {
    ArgumentView args = hookArguments();
    Addr destination = args.argAddr(1);
    uint32_t left = args.arg32(2).v;
    uint32_t top = args.arg32(3).v;
    uint32_t right = args.arg32(4).v;
    uint32_t bottom = args.arg32(5).v;
    uint32_t colour = args.arg32(6).v;
    if (!isDisplay(destination) || static_cast<int32_t>(right) < static_cast<int32_t>(left) ||
        static_cast<int32_t>(bottom) < static_cast<int32_t>(top))
        unsupported();
    uint32_t height = bottom - top + 1u;
    engine::drawRectangle(static_cast<int32_t>(left), flipY(top, height),
                          static_cast<int32_t>(right - left + 1u), static_cast<int32_t>(height),
                          colour);
    returnFromHook();
}

// The back surface's DC for the game's text; the dword is checked before the
// DC is taken, so a bad pointer leaves the DC free.
void getDC() {
    ArgumentView args = hookArguments();
    Addr display = args.argAddr(1);
    Addr result = args.argAddr(2);
    if (display != displayObject) unsupported();
    uint8_t* out = machine::hostPointer4(result);
    Handle dc = acquireBackSurfaceDC();
    machine::storeLe32(out, dc.toValue().v);
    returnFromHook();
}

void releaseDC() {
    ArgumentView args = hookArguments();
    if (args.argAddr(1) != displayObject) unsupported();
    releaseBackSurfaceDC();
    returnFromHook();
}

void ignoreDisplayCall() {
    ArgumentView args = hookArguments();
    if (!isDisplay(args.argAddr(1))) unsupported();
    returnFromHook();
}

// Accepts only the whole screen.
void checkFullScreenRect() {
    ArgumentView args = hookArguments();
    if (!isDisplay(args.argAddr(1)) || args.arg32(2).v != 0 || args.arg32(3).v != 0 ||
        args.arg32(4).v != uint32_t{engine::gameWidth} ||
        args.arg32(5).v != uint32_t{engine::gameHeight})
        unsupported();
    returnFromHook();
}

constexpr HookRow graphicsHooks[] = {
    {"createDXDraw", 0x401d85, 0, createDXDraw},
    {"releaseDXDraw", 0x4012eb, 0, releaseDXDraw},
    {"ignoreCall", 0x407108, 0, ignoreCall},
    {"setDisplayMode", 0x40714c, 6, setDisplayMode},
    {"flip", 0x4073bc, 2, flip},
    {"createLayer", 0x407404, 3, createLayer},
    {"destroyLayer", 0x4074ac, 3, destroyLayer},
    {"loadLayerImage", 0x4075fc, 6, loadLayerImage},
    {"clearDisplay", 0x407868, 2, clearDisplay},
    {"blitLayerRegion", 0x4078d4, 9, blitLayerRegion},
    {"blitLayer", 0x407978, 5, blitLayer},
    {"fillRect", 0x4079f8, 7, fillRect},
    {"lockLayer", 0x407a80, 2, lockLayer},
    {"unlockLayer", 0x407af8, 2, unlockLayer},
    {"getDC", 0x407b40, 3, getDC},
    {"releaseDC", 0x407b8c, 2, releaseDC},
    {"setTransparentColour", 0x407c00, 3, setTransparentColour},
    {"ignoreDisplayCall", 0x407c60, 3, ignoreDisplayCall},
    {"checkFullScreenRect", 0x407d24, 6, checkFullScreenRect},
};

}  // namespace

void registerKelmGraphicsHooks() { registerHooks(graphicsHooks); }

bool isInMemoryPictureName(const std::string& name) {
    constexpr size_t suffixLength = 9;  // \CDnn.bmp
    if (name.size() < suffixLength) return false;
    std::string_view suffix = std::string_view(name).substr(name.size() - suffixLength);
    return suffix.substr(0, 3) == "\\CD" && isDigit(suffix[3]) && isDigit(suffix[4]) &&
           suffix.substr(5) == ".bmp";
}

void resetKelmGraphicsForTests() {
    dxDrawObject = displayObject = Addr{0};
    layers.clear();
    lockedPixels.reset();
}

}  // namespace platform
