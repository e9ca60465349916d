#include "platform/kelmInput.h"

#include <array>
#include <cstring>
#include <optional>

#include "engine/engine.h"
#include "machine/machineState.h"

namespace platform {

using app::ProgramException;
using machine::state;

namespace {

Addr dxInputObject;
// Where the two watched dwords lie: found at the first left press of the
// run and kept from then on, also across a new object.
std::optional<std::array<Addr, 2>> watchedDwords;
bool leftPressTracked = false;
std::array<uint32_t, 2> watchedAtPress{};

// Byte offsets inside the DXInput object.
constexpr uint32_t buttonsOffset = 28;
constexpr uint32_t mouseXOffset = 32;
constexpr uint32_t mouseYOffset = 36;
constexpr uint32_t previousButtonsOffset = 44;
constexpr uint32_t keysOffset = 46;
constexpr uint32_t previousKeysOffset = 302;
constexpr uint32_t polledOffset = 558;
constexpr uint32_t keyCount = 256;
constexpr uint32_t mouseViewSize = 48;
constexpr uint32_t keyboardViewSize = 559;
// The watched game object: 42 dwords, the last two watched.
constexpr uint32_t watchedObjectDwords = 42;
constexpr uint32_t firstWatchedOffset = 0xA0;
constexpr uint32_t secondWatchedOffset = 0xA4;

constexpr Addr refreshContinuation{0x40449e};

// The object named by the poll's one argument, which must be ours.
Addr polledObject() {
    Addr object = hookArguments().argAddr(1);
    if (object.isNull() || object != dxInputObject) throw ProgramException("Unsupported argument");
    return object;
}

bool watchedDwordChanged() {
    return readDword((*watchedDwords)[0]) != watchedAtPress[0] ||
           readDword((*watchedDwords)[1]) != watchedAtPress[1];
}

// The left button as the game sees it; see the header.
void filterLeftButton(bool& left) {
    if (!left) {
        leftPressTracked = false;
        return;
    }
    if (!watchedDwords) {
        Addr object{readDword(watchedObjectGlobal)};
        machine::hostSliceUint(object, watchedObjectDwords);  // must lie in guest memory
        watchedDwords = {app::addrAdd(object, firstWatchedOffset),
                         app::addrAdd(object, secondWatchedOffset)};
    }
    if (!leftPressTracked) {
        leftPressTracked = true;
        watchedAtPress = {readDword((*watchedDwords)[0]), readDword((*watchedDwords)[1])};
        return;
    }
    if (watchedDwordChanged()) left = false;
}

// ---- Hooks ---------------------------------------------------------------------

void createDXInput() {
    createLibraryObject(dxInputObject, dxInputObjectGlobal, dxInputObjectSize,
                        "DXInput object already created");
    continueAfter(142);
}

// Continues into the draw object's release hook at 0x4012eb.
void releaseDXInput() {
    releaseLibraryObject(dxInputObject, dxInputObjectGlobal, "DXInput object not created");
    continueAfter(33);  // to 0x4012eb
}

// The engine is asked and the left press filtered before the object is
// written, so a watched object outside guest memory leaves it as it was.
void pollMouse() {
    Addr object = polledObject();
    uint8_t* bytes = machine::hostSlice(object, mouseViewSize).data();
    int32_t x = 0;
    int32_t y = 0;
    bool onPicture = engine::getCursorPosition(x, y);
    if (onPicture) engine::windowToGame(x, y);
    bool left = false;
    bool right = false;
    engine::getMouseButtons(left, right);
    filterLeftButton(left);
    if (onPicture) {
        machine::storeLe32(bytes + mouseXOffset, static_cast<uint32_t>(x));
        machine::storeLe32(bytes + mouseYOffset, static_cast<uint32_t>(y));
    }
    machine::storeLe16(bytes + previousButtonsOffset, machine::loadLe16(bytes + buttonsOffset));
    machine::storeLe32(bytes + buttonsOffset, (left ? 1u : 0u) + (right ? 256u : 0u));
    returnFromHook();
}

void pollKeyboard() {
    Addr object = polledObject();
    uint8_t* bytes = machine::hostSlice(object, keyboardViewSize).data();
    if (bytes[polledOffset] != 0)
        std::memcpy(bytes + previousKeysOffset, bytes + keysOffset, keyCount);
    else
        bytes[polledOffset] = 1;
    std::span<uint8_t, 256> keys = engine::keyStates();
    std::memcpy(bytes + keysOffset, keys.data(), keyCount);
    returnFromHook();
}

// Five bytes of a game routine that load the object's address into eax; the
// left button is refreshed on the way, by the same rule as the mouse poll.
void refreshLeftButton() {
    state.eax = app::Val32{dxInputObject.v};
    jumpTo(refreshContinuation);
    if (!watchedDwords || !leftPressTracked) return;
    bool left = false;
    bool right = false;
    engine::getMouseButtons(left, right);
    if (watchedDwordChanged()) left = false;
    Addr buttons = app::addrAdd(dxInputObject, buttonsOffset);
    uint32_t word = readDword(buttons);
    machine::writeMemory32(false, buttons, app::Val32{(word & 0xFF00u) | (left ? 1u : 0u)});
}

constexpr HookRow inputHooks[] = {
    {"createDXInput", 0x401e4d, 0, createDXInput},
    {"releaseDXInput", 0x4012ca, 0, releaseDXInput},
    {"pollMouse", 0x406d64, 2, pollMouse},
    {"pollKeyboard", 0x406f18, 2, pollKeyboard},
    {"refreshLeftButton", 0x404499, 0, refreshLeftButton},
};

}  // namespace

void registerKelmInputHooks() { registerHooks(inputHooks); }

void resetKelmInputForTests() {
    dxInputObject = Addr{0};
    watchedDwords.reset();
    leftPressTracked = false;
    watchedAtPress = {};
}

}  // namespace platform
