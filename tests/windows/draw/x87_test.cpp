// The drawing calls and the loaders run while the guest's x87 state lives in
// the host unit: they must leave control word, status word, tags and the
// eight registers exactly as they found them.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "engine/graphics.h"
#include "engine/image.h"
#include "engine/text.h"
#include "files.h"
#include "scene.h"

using namespace drawtest;

namespace {

// The parts of an FNSAVE image that belong to the guest: control, status
// and tag words, and the eight registers (not the last-instruction pointers).
struct X87State {
    uint16_t control, status, tags;
    uint8_t registers[80];
    bool operator==(const X87State& other) const {
        return control == other.control && status == other.status && tags == other.tags &&
               std::memcmp(registers, other.registers, sizeof registers) == 0;
    }
};

X87State capture() {
    alignas(16) uint8_t image[108];
    asm volatile("fnsave %0\n\tfrstor %0" : "+m"(image));
    X87State state;
    std::memcpy(&state.control, image + 0, 2);
    std::memcpy(&state.status, image + 4, 2);
    std::memcpy(&state.tags, image + 8, 2);
    std::memcpy(state.registers, image + 28, 80);
    return state;
}

// A guest-like state: a rounding and precision control the host would not
// choose, seven registers in use, a condition code set.
void loadGuestState() {
    const uint16_t control = 0x0C7F;  // truncate, single precision, all masked
    const double values[7] = {1.5, -2.25, 3.0e10, 1.0 / 3.0, -0.0, 7.0, 123456.789};
    asm volatile("fninit\n\tfldcw %0" : : "m"(control));
    for (double v : values) asm volatile("fldl %0" : : "m"(v));
    asm volatile("fld1\n\tfcomp %%st(1)" : : : "cc");
}

void expectPreserved(const char* name, const std::function<void()>& call) {
    loadGuestState();
    const X87State before = capture();
    call();
    const X87State after = capture();
    asm volatile("fninit");
    EXPECT_TRUE(before == after) << name << " changed the x87 unit (control " << std::hex
                                 << before.control << " -> " << after.control << ", status "
                                 << before.status << " -> " << after.status << ", tags "
                                 << before.tags << " -> " << after.tags << ")";
}

}  // namespace

TEST(X87, DrawingAndLoadingLeaveTheUnitAlone) {
    startEngine();
    const std::string path = app::joinPath(logFolder(), "x87.bmp");
    writeFile(path, bmpFile(patternPicture(5, 3, 0xFF00FF)));
    const engine::Image image = engine::loadImage(path, 0xFF00FF);

    expectPreserved("clearScreen", [] { engine::clearScreen(); });
    expectPreserved("drawRectangle", [] { engine::drawRectangle(1, 2, 30, 40, 0x123456); });
    expectPreserved("drawSprite", [&] { engine::drawSprite(5, 6, 5, 3, image.texture, 0, 0); });
    expectPreserved("drawText", [] { engine::drawText(10, 10, "Text 123"); });
    expectPreserved("loadImage", [&] { engine::loadImage(path); });
    expectPreserved("loadImage with a key", [&] { engine::loadImage(path, 0xFF00FF); });
    expectPreserved("loadImageInMemory", [&] { engine::loadImageInMemory(path); });
    expectPreserved("windowToGame", [] {
        int32_t x = 5, y = 7;
        engine::windowToGame(x, y);
    });
}
