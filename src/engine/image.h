// Pictures from uncompressed 24-bit bottom-up BMP files.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace engine {

// A rectangle texture holding the picture with its bottom row as texel row 0.
class Image {
public:
    Image(uint32_t width, uint32_t height, uint32_t texture)
        : width(width), height(height), texture(texture) {}
    uint32_t width;
    uint32_t height;
    uint32_t texture;
};

// Top-down 32-bit pixels 0xFFRRGGBB (bytes blue, green, red, 255) that the
// guest may lock and read.
class ImageInMemory {
public:
    ImageInMemory(uint32_t width, uint32_t height, std::vector<uint8_t> pixels)
        : width(width), height(height), pixels_(std::move(pixels)) {}
    virtual ~ImageInMemory() = default;
    virtual std::vector<uint8_t>& pixels() { return pixels_; }
    uint32_t width;
    uint32_t height;

private:
    std::vector<uint8_t> pixels_;
};

// The name is used as given (code page 1252 bytes from the guest). A missing
// or unsupported file ends the program (fileSystem).
Image loadImage(const std::string& path, std::optional<uint32_t> colourKey = std::nullopt);
// Shared: a locked layer's pixels stay mapped into the guest while the layer
// itself may go away.
std::shared_ptr<ImageInMemory> loadImageInMemory(const std::string& path);

}  // namespace engine
