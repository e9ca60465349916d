// The game's graphics library, answered natively.
//
// The library's code never runs: each of its routines is a hook at its fixed
// guest address. Its draw object and display object are empty guest heap
// blocks, identities only; each of the game's 96-byte layer objects is
// mirrored by a Layer record keyed by the object's guest address. Drawing
// turns the game's top-down 640x480 coordinates into the engine's y-up game
// space and goes straight to the engine's back buffer.
#pragma once

#include <cstdint>
#include <string>

#include "platform/handle.h"

namespace platform {

// The game's global that holds the draw object's address, 0 when none.
constexpr Addr dxDrawObjectGlobal{0x413148};

// The game's layer object, 96 bytes. A lock writes two of its dwords, which
// the game's own picture copy then reads.
constexpr uint32_t layerObjectSize = 96;
constexpr uint32_t layerPixelsDword = 14;  // guest address of the locked pixels
constexpr uint32_t layerPitchDword = 15;   // pixels per row: the layer's width

// Binds the library's 19 routines. Called once by the start-up, after the
// window functions and before the input library hooks.
void registerKelmGraphicsHooks();

// Whether a picture name goes the in-memory road: it ends with a backslash,
// "CD", two decimal digits and ".bmp", letter case exact.
bool isInMemoryPictureName(const std::string& name);

// Test hook: forgets the objects, the layers and any lock.
void resetKelmGraphicsForTests();

}  // namespace platform
