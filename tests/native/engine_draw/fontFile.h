// Font images for the font's tests: pixels with separators, PNG files of
// them, and a fixture that writes them to a fresh folder and reads the log.
#pragma once

#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "engine/text.h"
#include "errors.h"
#include "expectAbort.h"
#include "log.h"

namespace fonttest {

constexpr uint32_t separator = 0xFF00FF00;  // bytes 0, 255, 0, 255
constexpr uint32_t ink = 0xFFFFFFFF;
constexpr uint32_t clear = 0x00000000;
constexpr uint32_t textureLimit = 16384;  // the context's largest texture side

// A font image: top row with separators at the given columns, the rest a
// pattern that tells the rows apart.
inline std::vector<uint32_t> fontPixels(uint32_t width, uint32_t height,
                                        const std::vector<uint32_t>& separators) {
    std::vector<uint32_t> pixels(static_cast<size_t>(width) * height, clear);
    for (uint32_t x : separators) pixels[x] = separator;
    for (uint32_t y = 1; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x)
            pixels[y * width + x] = (x + y) % 3 == 0 ? ink : 0xFF000000u | (y << 16) | x;
    return pixels;
}

inline std::vector<uint8_t> encodePng(uint32_t width, uint32_t height, const std::vector<uint32_t>& pixels) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = width;
    image.height = height;
    image.format = PNG_FORMAT_RGBA;
    png_alloc_size_t size = 0;
    EXPECT_TRUE(png_image_write_to_memory(&image, nullptr, &size, 0, pixels.data(), 0, nullptr));
    std::vector<uint8_t> bytes(size);
    EXPECT_TRUE(png_image_write_to_memory(&image, bytes.data(), &size, 0, pixels.data(), 0, nullptr));
    bytes.resize(size);
    return bytes;
}

inline std::vector<uint32_t> separatorsEvery(uint32_t count, uint32_t spacing) {
    std::vector<uint32_t> xs;
    for (uint32_t i = 0; i < count; ++i) xs.push_back(i * spacing + spacing - 1);
    return xs;
}

// A small PNG whose header claims width x height pixels, with a valid CRC:
// the header reads fine, the pixels are far too few.
inline std::vector<uint8_t> claimingSize(std::vector<uint8_t> png, uint32_t width, uint32_t height) {
    auto putBigEndian = [&](size_t at, uint32_t value) {
        for (int i = 0; i < 4; ++i) png[at + i] = static_cast<uint8_t>(value >> (24 - 8 * i));
    };
    putBigEndian(16, width);
    putBigEndian(20, height);
    putBigEndian(29, static_cast<uint32_t>(crc32(0, png.data() + 12, 17)));  // "IHDR" and its data
    return png;
}

// Writes files into a fresh folder and collects the log lines of one load.
class FontFile : public testing::Test {
protected:
    void SetUp() override {
        dir = std::filesystem::path(testing::TempDir()) /
              ("font_" + std::string(testing::UnitTest::GetInstance()->current_test_info()->name()));
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
        app::resetLogForTests();
        app::resetErrorsForTests();
        app::initLog(dir.string());
    }
    void TearDown() override {
        app::resetLogForTests();
        app::resetErrorsForTests();
        std::filesystem::remove_all(dir);
    }
    std::string write(const std::vector<uint8_t>& bytes) {
        std::string path = (dir / "font.png").string();
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        return path;
    }
    // The log after a call that must end the program with fileSystem.
    std::string abortLog(const std::function<void()>& call) {
        expectAbort(app::ErrorType::fileSystem, call);
        app::resetLogForTests();
        std::ifstream in(dir / "log.txt", std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    std::string failedLoadLog(const std::string& path, uint32_t maxSize = textureLimit) {
        return abortLog([&] { engine::decodeFont(path, maxSize); });
    }
    std::filesystem::path dir;
};

}  // namespace fonttest
