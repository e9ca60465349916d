// The main window, keyboard and mouse state.
#pragma once

#include <cstdint>
#include <span>

namespace engine {

// hInstance is the program's HINSTANCE, passed untyped to keep this header
// free of Windows headers.
void createWindow(void* hInstance);
// Hides the main window if it exists and shows the cursor.
void hideWindow();

// The 256 key bytes by scan code, 1 = down (the array itself, not a copy).
std::span<uint8_t, 256> keyStates();
void getMouseButtons(bool& left, bool& right);
// Client coordinates; true when the cursor lies on the picture.
bool getCursorPosition(int32_t& x, int32_t& y);

}  // namespace engine
