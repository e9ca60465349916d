// Pictures from uncompressed 24-bit bottom-up BMP files. Image,
// ImageInMemory and the two loaders are declared in engine/engine.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <string>
#include <vector>

#include "engine/engine.h"

namespace engine {

// ---- Building blocks of the loaders ----------------------------------------
// What the platform reports of a loaded bitmap (its BITMAP and its
// BITMAPINFOHEADER), under the platform's field names.
struct BitmapInfo {
    int32_t bmType;
    int32_t bmWidth;
    int32_t bmHeight;
    int32_t bmWidthBytes;
    uint16_t bmPlanes;
    uint16_t bmBitsPixel;
    int32_t biWidth;
    int32_t biHeight;
    uint16_t biPlanes;
    uint16_t biBitCount;
    uint32_t biCompression;
    uint32_t biClrUsed;
    uint32_t biClrImportant;
};
// Only uncompressed, bottom-up 24-bit bitmaps without a colour table.
bool isSupportedBitmap(const BitmapInfo& info);
// Whether the first bytes of a file are a BMP header whose picture is wider
// or higher than maxSize. Read before the platform decodes the file, which
// allocates the whole picture; anything else is left to the platform.
bool isOversizedBitmapHeader(const uint8_t* bytes, size_t size, uint32_t maxSize);
constexpr size_t bitmapHeaderPeekSize = 26;  // the file header, the size fields

// The pixels of one packed 24-bit row as 0x00RRGGBB. The row must be padded
// to a multiple of 4 bytes: it is read as whole 32-bit words.
void unpackRow(const uint8_t* row, int32_t width, uint32_t* out);
// Rows in the bitmap's own bottom-up order; a pixel equal to the key becomes
// 0, every other one 0xFF000000 | colour.
std::vector<uint32_t> convertWithColourKey(uint32_t colourKey, const uint8_t* bits, int32_t stride,
                                           int32_t height, int32_t width);
// Bytes of 0xFF000000 | colour pixels, rows top-down.
std::vector<uint8_t> convertToTopDownArgb(const uint8_t* bits, int32_t stride, int32_t height,
                                          int32_t width);

// Ends the program (fileSystem) for a picture file that cannot be loaded.
[[noreturn]] void unableToLoadImage(const std::string& path);
// Runs a loader's conversion of the file at path: a picture whose pixels the
// host cannot hold ends the program like a file that cannot be loaded.
template <typename Convert>
auto convertPicture(const std::string& path, Convert convert) -> decltype(convert()) {
    try {
        return convert();
    } catch (const std::bad_alloc&) {
        unableToLoadImage(path);
    }
}

// Guest strings are code page 1252.
std::u16string cp1252ToUtf16(const std::string& text);

}  // namespace engine
