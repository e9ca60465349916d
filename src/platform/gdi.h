// The game's gdi32 functions: text on the back surface.
//
// There is one device context (a handle with nothing behind it), which the
// graphics library's get-DC and release-DC hooks hand out, and one stock
// object, the black brush. TextOutA draws with the engine's font.
#pragma once

#include "platform/handle.h"

namespace platform {

// Binds GetStockObject, SetBkMode, SetTextColor and TextOutA (0xF00030NN).
// Called after registerPlatformFunctions.
void registerGdiFunctions();
// Makes the DC and stock object handles (4 and 5 in the start-up order).
// Called after platformInit.
void initGdi();
// The graphics library's get-DC and release-DC; each refuses a second call
// without the other between.
Handle acquireBackSurfaceDC();
void releaseBackSurfaceDC();

// Test hook: forgets the handles and the acquired flag.
void resetGdiForTests();

}  // namespace platform
