// The byte work behind the picture loaders: which bitmaps are accepted and
// the conversion of their packed 24-bit rows.
#include "engine/image.h"

#include <cstddef>
#include <cstdlib>

#include "engine/graphics.h"
#include "errors.h"

namespace engine {

namespace {

uint32_t loadWord(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

void storeWord(uint8_t* p, uint32_t value) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint16_t loadHalf(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

size_t pixelCount(int32_t height, int32_t width) {
    return static_cast<size_t>(width) * static_cast<size_t>(height);
}

// 0x80 to 0x9F of code page 1252; the five unassigned bytes map to the C1
// control of the same value, as the platform's own conversion does.
constexpr char16_t cp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  //
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  //
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  //
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

}  // namespace

bool isSupportedBitmap(const BitmapInfo& info) {
    return info.bmType == 0 && info.bmWidth > 0 && info.bmHeight > 0 &&
           static_cast<int64_t>(info.bmWidth) * 3 <= info.bmWidthBytes && info.bmPlanes == 1 &&
           info.bmBitsPixel == 24 && info.biWidth > 0 && info.biHeight > 0 &&
           info.biPlanes == 1 && info.biBitCount == 24 && info.biCompression == 0 &&
           info.biClrUsed == 0 && info.biClrImportant == 0;
}

// The 14-byte file header "BM...", then the info header's size: 12 for the
// old core header with 16-bit sizes, more for those with 32-bit ones (a
// negative height is a top-down picture).
bool isOversizedBitmapHeader(const uint8_t* bytes, size_t size, uint32_t maxSize) {
    constexpr size_t infoHeader = 14;
    constexpr uint32_t coreHeaderSize = 12;
    if (size < infoHeader + 4 || bytes[0] != 'B' || bytes[1] != 'M') return false;
    const uint32_t headerSize = loadWord(bytes + infoHeader);
    if (headerSize == coreHeaderSize) {
        if (size < infoHeader + 8) return false;
        return !fitsTexture(loadHalf(bytes + infoHeader + 4), loadHalf(bytes + infoHeader + 6), maxSize);
    }
    if (size < infoHeader + 12) return false;
    const int64_t width = static_cast<int32_t>(loadWord(bytes + infoHeader + 4));
    const int64_t height = static_cast<int32_t>(loadWord(bytes + infoHeader + 8));
    return !fitsTexture(std::abs(width), std::abs(height), maxSize);
}

// Every 3 words hold 4 pixels; the width mod 4 pixels after the last group
// take 1, 2 or 3 further words, which the row's padding keeps inside the row.
void unpackRow(const uint8_t* row, int32_t width, uint32_t* out) {
    const int32_t groups = width / 4;
    for (int32_t g = 0; g < groups; ++g, row += 12, out += 4) {
        const uint32_t w0 = loadWord(row), w1 = loadWord(row + 4), w2 = loadWord(row + 8);
        out[0] = w0 & 0xFFFFFF;
        out[1] = (w0 >> 24) | ((w1 & 0xFFFF) << 8);
        out[2] = (w1 >> 16) | ((w2 & 0xFF) << 16);
        out[3] = w2 >> 8;
    }
    const int32_t remaining = width % 4;
    if (remaining == 0) return;
    const uint32_t w0 = loadWord(row);
    out[0] = w0 & 0xFFFFFF;
    if (remaining == 1) return;
    const uint32_t w1 = loadWord(row + 4);
    out[1] = (w0 >> 24) | ((w1 & 0xFFFF) << 8);
    if (remaining == 2) return;
    const uint32_t w2 = loadWord(row + 8);
    out[2] = (w1 >> 16) | ((w2 & 0xFF) << 16);
}

std::vector<uint32_t> convertWithColourKey(uint32_t colourKey, const uint8_t* bits, int32_t stride,
                                           int32_t height, int32_t width) {
    std::vector<uint32_t> pixels(pixelCount(height, width));
    uint32_t* out = pixels.data();
    for (int32_t y = 0; y < height; ++y, out += width) {
        unpackRow(bits + static_cast<ptrdiff_t>(y) * stride, width, out);
        for (int32_t x = 0; x < width; ++x)
            out[x] = out[x] == colourKey ? 0 : (0xFF000000 | out[x]);
    }
    return pixels;
}

std::vector<uint8_t> convertToTopDownArgb(const uint8_t* bits, int32_t stride, int32_t height,
                                          int32_t width) {
    std::vector<uint8_t> pixels(pixelCount(height, width) * 4);
    std::vector<uint32_t> row(static_cast<size_t>(width));
    uint8_t* out = pixels.data();
    for (int32_t y = 0; y < height; ++y) {
        // The last row in memory is the picture's top row.
        const uint8_t* source = bits + static_cast<ptrdiff_t>(height - 1 - y) * stride;
        unpackRow(source, width, row.data());
        for (int32_t x = 0; x < width; ++x, out += 4) storeWord(out, 0xFF000000 | row[x]);
    }
    return pixels;
}

void unableToLoadImage(const std::string& path) {
    app::abortProgram(app::ErrorType::fileSystem, "Unable to load image file '" + path + "'.");
}

std::u16string cp1252ToUtf16(const std::string& text) {
    std::u16string out;
    out.reserve(text.size());
    for (char c : text) {
        const uint8_t byte = static_cast<uint8_t>(c);
        out.push_back(byte >= 0x80 && byte < 0xA0 ? cp1252High[byte - 0x80] : char16_t{byte});
    }
    return out;
}

}  // namespace engine
