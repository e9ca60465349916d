// The game's user32 window functions.
//
// The guest's window is bookkeeping only: one class, one window handle. The
// host window is the engine's; the one bridge is PeekMessageA, which pumps
// the host queue and hands a quit request to the game as WM_QUIT.
#pragma once

#include "platform/handle.h"

namespace platform {

// Binds RegisterClassExA, CreateWindowExA, MoveWindow, ShowWindow,
// PeekMessageA, DestroyWindow and UnregisterClassA (0xF00040NN). Called
// after registerGdiFunctions.
void registerWindowFunctions();

// Test hook: forgets the class and the window.
void resetWindowForTests();

}  // namespace platform
