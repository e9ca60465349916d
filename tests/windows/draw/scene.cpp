#include "scene.h"

#include <windows.h>

#include <png.h>

#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "files.h"
#include "windowsTestSupport.h"

namespace drawtest {

namespace {

void put16(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void put32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

}  // namespace

Picture patternPicture(int32_t width, int32_t height, uint32_t key) {
    Picture p{width, height, std::vector<uint32_t>(static_cast<size_t>(width) * height)};
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x) {
            uint32_t c = (static_cast<uint32_t>(x * 37 + y * 101) * 0x010305u + 0x102030u) & 0xFFFFFF;
            if (c == key) c ^= 1;
            p.pixels[y * width + x] = c;
        }
    if (key != 0) {
        p.pixels[0] = key;
        p.pixels[p.pixels.size() - 1] = key;
        p.pixels[(height / 2) * width + width / 2] = key;
    }
    return p;
}

std::vector<uint8_t> bmpFileWith(const Picture& picture, uint16_t bitCount, bool topDown) {
    const uint32_t bytesPerPixel = bitCount / 8;
    const uint32_t stride = (picture.width * bytesPerPixel + 3) & ~3u;
    const uint32_t paletteBytes = bitCount == 8 ? 256 * 4 : 0;
    const uint32_t offset = 14 + 40 + paletteBytes;
    std::vector<uint8_t> out;
    out.push_back('B');
    out.push_back('M');
    put32(out, offset + stride * picture.height);
    put32(out, 0);
    put32(out, offset);
    put32(out, 40);
    put32(out, static_cast<uint32_t>(picture.width));
    put32(out, static_cast<uint32_t>(topDown ? -picture.height : picture.height));
    put16(out, 1);
    put16(out, bitCount);
    put32(out, 0);  // BI_RGB
    put32(out, stride * picture.height);
    put32(out, 2835);
    put32(out, 2835);
    put32(out, 0);
    put32(out, 0);
    for (uint32_t i = 0; i < paletteBytes / 4; ++i) put32(out, i * 0x010101u);
    for (int32_t row = 0; row < picture.height; ++row) {
        const int32_t y = topDown ? row : picture.height - 1 - row;  // file rows bottom-up
        const size_t start = out.size();
        for (int32_t x = 0; x < picture.width; ++x) {
            const uint32_t c = picture.at(x, y);
            if (bitCount == 8) {
                out.push_back(static_cast<uint8_t>(c));
                continue;
            }
            out.push_back(static_cast<uint8_t>(c));
            out.push_back(static_cast<uint8_t>(c >> 8));
            out.push_back(static_cast<uint8_t>(c >> 16));
            if (bitCount == 32) out.push_back(0);
        }
        while (out.size() - start < stride) out.push_back(0xEE);  // padding that must not show
    }
    return out;
}

std::vector<uint8_t> bmpFile(const Picture& picture) { return bmpFileWith(picture, 24, false); }

Font makeFont(int32_t height, int32_t glyphCount) {
    Font font;
    int32_t width = 0;
    for (int32_t i = 0; i < glyphCount; ++i) {
        if (i > 0) ++width;  // separator column
        font.glyphX.push_back(width);
        font.glyphWidth.push_back(1 + i % 4);
        width += 1 + i % 4;
    }
    font.image = Picture{width, height, std::vector<uint32_t>(static_cast<size_t>(width) * height, 0)};
    for (int32_t i = 0; i < glyphCount; ++i) {
        if (i > 0) font.image.pixels[font.glyphX[i] - 1] = 0xFF00FF00;  // bytes 0, 255, 0, 255
        for (int32_t c = 0; c < font.glyphWidth[i]; ++c)
            for (int32_t r = 0; r < height; ++r)
                if ((i + c + r) % 3 == 0) font.image.pixels[r * width + font.glyphX[i] + c] = 0xFFFFFFFF;
    }
    return font;
}

std::vector<uint8_t> pngFile(const Picture& rgba) {
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(rgba.width);
    image.height = static_cast<png_uint_32>(rgba.height);
    image.format = PNG_FORMAT_RGBA;
    png_alloc_size_t size = 0;
    if (!png_image_write_to_memory(&image, nullptr, &size, 0, rgba.pixels.data(), 0, nullptr))
        throw std::runtime_error("png size");
    std::vector<uint8_t> bytes(size);
    if (!png_image_write_to_memory(&image, bytes.data(), &size, 0, rgba.pixels.data(), 0, nullptr))
        throw std::runtime_error("png write");
    bytes.resize(size);
    return bytes;
}

void writeFile(const std::string& utf8Path, const std::vector<uint8_t>& bytes) {
    std::FILE* f = _wfopen(wintest::wide(utf8Path).c_str(), L"wb");
    if (!f) throw std::runtime_error("cannot write " + utf8Path);
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

std::string freshFolder(const std::string& utf8Name) {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    std::wstring folder = std::wstring(temp) + wintest::wide(utf8Name);
    // Empty it of the files an earlier run left.
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                DeleteFileW((folder + L"\\" + found.cFileName).c_str());
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    CreateDirectoryW(folder.c_str(), nullptr);
    int n = WideCharToMultiByte(CP_UTF8, 0, folder.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, folder.c_str(), -1, utf8.data(), n, nullptr, nullptr);
    utf8.pop_back();
    return utf8;
}

void GameModel::put(int32_t x, int32_t y, uint32_t colour) {
    if (x >= 0 && x < 640 && y >= 0 && y < 480) pixels_[y * 640 + x] = colour & 0xFFFFFF;
}

void GameModel::fill(int32_t x, int32_t y, int32_t width, int32_t height, uint32_t colour) {
    for (int32_t j = 0; j < height; ++j)
        for (int32_t i = 0; i < width; ++i) put(x + i, y + j, colour);
}

void GameModel::sprite(int32_t x, int32_t y, int32_t width, int32_t height, const Picture& picture,
                       int32_t srcX, int32_t srcY, bool keyed, uint32_t key) {
    for (int32_t j = 0; j < height; ++j)
        for (int32_t i = 0; i < width; ++i) {
            const uint32_t c = picture.at(srcX + i, picture.height - 1 - (srcY + j));
            if (keyed && c == key) continue;
            put(x + i, y + j, c);
        }
}

void GameModel::text(int32_t x, int32_t y, const std::string& text, const Font& font) {
    int32_t pen = x;
    const int32_t h = font.image.height;
    for (size_t k = 0; k < text.size(); ++k) {
        const int32_t g = static_cast<uint8_t>(text[k]);
        if (k > 0) pen += 1;
        for (int32_t c = 0; c < font.glyphWidth[g]; ++c)
            for (int32_t r = 0; r < h; ++r)
                if (font.image.at(font.glyphX[g] + c, r) == 0xFFFFFFFF)
                    put(pen + c, 480 - (y + 5) - 1 - r, 0xFFFFFF);  // image row 0 is 5 below y
        pen += font.glyphWidth[g];
    }
}

std::vector<uint32_t> expectedClient(const GameModel& model, int32_t clientWidth,
                                     int32_t clientHeight, int32_t scale, int32_t offsetX,
                                     int32_t offsetYFromBottom) {
    std::vector<uint32_t> out(static_cast<size_t>(clientWidth) * clientHeight, 0);
    for (int32_t row = 0; row < clientHeight; ++row)
        for (int32_t col = 0; col < clientWidth; ++col) {
            const int32_t gx = col - offsetX, gy = row - offsetYFromBottom;
            if (gx < 0 || gy < 0 || gx >= 640 * scale || gy >= 480 * scale) continue;
            out[static_cast<size_t>(row) * clientWidth + col] = model.at(gx / scale, gy / scale);
        }
    return out;
}

}  // namespace drawtest
