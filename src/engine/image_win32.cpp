// The picture loaders on Windows: the platform decodes the BMP file into a
// DIB section; the rows are converted and uploaded here.
#include <windows.h>

#include <glad/gl.h>

#include <cstdio>

#include "engine/graphics.h"
#include "engine/image.h"
#include "errors.h"

namespace engine {

namespace {

// The loaded bitmap, released on every way out.
struct LoadedBitmap {
    HBITMAP handle = nullptr;
    DIBSECTION dib{};
    LoadedBitmap() = default;
    LoadedBitmap(const LoadedBitmap&) = delete;
    LoadedBitmap& operator=(const LoadedBitmap&) = delete;
    ~LoadedBitmap() {
        if (handle != nullptr) DeleteObject(handle);
    }
    const uint8_t* bits() const { return static_cast<const uint8_t*>(dib.dsBm.bmBits); }
    int32_t stride() const { return dib.dsBm.bmWidthBytes; }
    int32_t width() const { return dib.dsBm.bmWidth; }
    int32_t height() const { return dib.dsBm.bmHeight; }
};

static_assert(sizeof(DIBSECTION) == 104);

BitmapInfo describe(const DIBSECTION& dib) {
    const BITMAP& bm = dib.dsBm;
    const BITMAPINFOHEADER& bi = dib.dsBmih;
    return BitmapInfo{bm.bmType,    bm.bmWidth,       bm.bmHeight,      bm.bmWidthBytes, bm.bmPlanes,
                      bm.bmBitsPixel, bi.biWidth,     bi.biHeight,      bi.biPlanes,     bi.biBitCount,
                      bi.biCompression, bi.biClrUsed, bi.biClrImportant};
}

// Whether the file's header names a picture larger than a texture may be;
// an unreadable file is left to the platform's loader.
bool headerIsOversized(const std::u16string& widePath, uint32_t maxSize) {
    std::FILE* file = _wfopen(reinterpret_cast<const wchar_t*>(widePath.c_str()), L"rb");
    if (file == nullptr) return false;
    uint8_t header[bitmapHeaderPeekSize];
    const size_t size = std::fread(header, 1, sizeof header, file);
    std::fclose(file);
    return isOversizedBitmapHeader(header, size, maxSize);
}

// The name comes from the guest in its ANSI code page, 1252. A picture larger
// than a texture is refused before the platform allocates it.
void openBitmap(const std::string& path, LoadedBitmap& bitmap) {
    const std::u16string widePath = cp1252ToUtf16(path);
    const uint32_t maxSize = maxTextureSize();
    if (headerIsOversized(widePath, maxSize)) unableToLoadImage(path);
    bitmap.handle = static_cast<HBITMAP>(LoadImageW(nullptr, reinterpret_cast<LPCWSTR>(widePath.c_str()),
                                                    IMAGE_BITMAP, 0, 0,
                                                    LR_LOADFROMFILE | LR_CREATEDIBSECTION));
    if (bitmap.handle == nullptr) unableToLoadImage(path);
    GetObjectW(bitmap.handle, sizeof bitmap.dib, &bitmap.dib);
    if (!isSupportedBitmap(describe(bitmap.dib)))
        app::abortProgram(app::ErrorType::fileSystem, "Unsupported image format for '" + path + "'.");
    if (!fitsTexture(bitmap.width(), bitmap.height(), maxSize)) unableToLoadImage(path);
}

}  // namespace

Image loadImage(const std::string& path, std::optional<uint32_t> colourKey) {
    LoadedBitmap bitmap;
    openBitmap(path, bitmap);
    const uint32_t texture = createTexture();
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    if (!colourKey) {
        // The DIB's rows, padded to 4 bytes and bottom row first, as they are.
        glTexImage2D(GL_TEXTURE_RECTANGLE, 0, GL_RGBA, bitmap.width(), bitmap.height(), 0, GL_BGR,
                     GL_UNSIGNED_BYTE, bitmap.bits());
    } else {
        const std::vector<uint32_t> pixels = convertPicture(path, [&] {
            return convertWithColourKey(*colourKey, bitmap.bits(), bitmap.stride(), bitmap.height(),
                                        bitmap.width());
        });
        glTexImage2D(GL_TEXTURE_RECTANGLE, 0, GL_RGBA, bitmap.width(), bitmap.height(), 0, GL_BGRA,
                     GL_UNSIGNED_BYTE, pixels.data());
    }
    return Image(static_cast<uint32_t>(bitmap.width()), static_cast<uint32_t>(bitmap.height()), texture);
}

std::shared_ptr<ImageInMemory> loadImageInMemory(const std::string& path) {
    LoadedBitmap bitmap;
    openBitmap(path, bitmap);
    return convertPicture(path, [&] {
        return std::make_shared<ImageInMemory>(
            static_cast<uint32_t>(bitmap.width()), static_cast<uint32_t>(bitmap.height()),
            convertToTopDownArgb(bitmap.bits(), bitmap.stride(), bitmap.height(), bitmap.width()));
    });
}

}  // namespace engine
