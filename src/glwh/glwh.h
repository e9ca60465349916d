// OpenGL context creation over the generated entry-point loader.
#pragma once

#include <cstdint>

namespace glwh {

// A context of at least the version (33 for 3.3) on the DC (an HDC), made
// current; null when the pixel format, the context or the entry points fall
// short. depthBits 0 asks for no depth buffer. Below version 30 the legacy
// context is returned. Returns an HGLRC.
void* createGLContext(int32_t version, void* hdc, uint8_t depthBits);
// The highest version (10 * major + minor, at most 45) whose entry points all
// resolved when the context was made; 0 before.
int32_t loadedGLVersion();
// Whether wglSwapIntervalEXT (WGL_EXT_swap_control) is bound.
bool isSwapControlAvailable();
// Whether the driver reports WGL_EXT_swap_control_tear (negative intervals).
bool isSwapControlTearAvailable();

}  // namespace glwh
