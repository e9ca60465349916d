// The guest's process, and the game's kernel32, user32 and winmm functions.
//
// The guest sees one program module "C:\Quorlen\Quorlen.exe" (also its whole
// command line), an empty environment, a module handle for each DLL whose
// functions are emulated, and the answers of Windows 98 SE on a 640x480
// screen. Handlers bear the names of the functions they answer.
#pragma once

#include <string>

#include "platform/handle.h"

namespace peloader { class Program; }

namespace platform {

// Binds the 17 kernel32 functions (0xF00010NN), the six user32 functions
// (0xF00020NN) and timeGetTime (0xF0007000). The first of the registrars.
void registerPlatformFunctions();

// Prepares the guest process once the guest image exists: the module, cursor
// and icon handles (1, 2, 3) and the guest copies of the command line and
// the environment block. The program must outlive the guest run.
void platformInit(const peloader::Program& program);

// The handle of a bound DLL by name in any letter case (made on first use),
// or the null handle with a warning.
Handle getModuleHandle(const std::string& name);

// Test hook: forgets every module variable (not the handle counter).
void resetPlatformForTests();

}  // namespace platform
