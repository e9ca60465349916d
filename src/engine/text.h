// The bitmap font ("font.png" in the data folder) and text drawing.
#pragma once

#include <cstdint>
#include <string>

namespace engine {

void loadFont(const std::string& dataDir);
// x, y: game coordinates with y = 0 at the top. Every byte is at most 126.
void drawText(int32_t x, int32_t y, const std::string& text);

}  // namespace engine
