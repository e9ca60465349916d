// Four stretches of the game's own code, replaced by native inline hooks.
//
//   0x402a55  patchPictureCopy   a locked picture's low bytes into one of
//                                nine 640x480 byte buffers; on at 0x402a9e
//   0x40f067  patchDispatchLoop  calls the routines of a table of 6-byte
//                                records whose key byte matches AL; on at
//                                0x40f079
//   0x401d7d  patchSkip          skips 8 bytes, onto the draw object's
//                                creation hook
//   0x40154c  patchBranch        to 0x4016c0 while the global 0x413178 is at
//                                most 8 (signed), else on at 0x40155b
#pragma once

namespace game {

// Binds the four patches. Called once by the start-up, after the input
// library hooks.
void registerPatches();

}  // namespace game
