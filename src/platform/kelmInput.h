// The game's input library, answered natively.
//
// The library keeps the player's input in one 560-byte DXInput object in
// guest memory, which the game's own code reads directly:
//
//   +28  buttons word: left + 256 * right
//   +32  mouse x, +36 mouse y (top-down game pixels, signed 32-bit)
//   +44  the buttons' two bytes as they were before the current mouse poll
//   +46  256 key bytes by scan code (1 = down)
//   +302 the key bytes of the previous keyboard poll
//   +558 1 once the keyboard has been polled
//
// The hooks fill it from the engine's input state. One rule of our own sits
// in the mouse poll: a left press is tracked against two watched dwords of a
// game object, and once either changes while the button is held, the button
// reads as released until the player lets go and presses again (a press that
// started an action does not run on into the next screen).
#pragma once

#include <cstdint>

#include "platform/handle.h"

namespace platform {

// Guest globals of the game: the object's address (0 when none), and the
// address of the game object that holds the watched dwords at +0xA0, +0xA4.
constexpr Addr dxInputObjectGlobal{0x41314c};
constexpr Addr watchedObjectGlobal{0x413150};
constexpr uint32_t dxInputObjectSize = 560;

// Binds the five hooks. Called once by the start-up, after the graphics
// library hooks and before the game patches.
void registerKelmInputHooks();

// Test hook: forgets the object and the left-press tracking.
void resetKelmInputForTests();

}  // namespace platform
