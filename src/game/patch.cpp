#include "game/patch.h"

#include <algorithm>
#include <cstdint>

#include "engine/engine.h"
#include "machine/executer.h"
#include "machine/machineState.h"
#include "platform/handle.h"
#include "platform/kelmGraphics.h"

namespace game {

using app::Addr;
using engine::gameHeight;
using engine::gameWidth;
using machine::state;
using machine::WordView;
using platform::continueAfter;
using platform::jumpTo;
using platform::layerPitchDword;
using platform::layerPixelsDword;
using platform::readDword;

namespace {

constexpr uint32_t bufferCount = 9;
constexpr Addr branchCounter{0x413178};

// Where the game goes on after each patched stretch.
constexpr Addr pictureCopyContinuation{0x402a9e};
constexpr Addr dispatchLoopContinuation{0x40f079};
constexpr Addr branchTakenContinuation{0x4016c0};     // the counter at most 8
constexpr Addr branchNotTakenContinuation{0x40155b};  // above 8

// A view of pitch x 480 dwords. The count is taken in 64 bits, so a pitch
// too large for any block is refused by guest memory instead of wrapping to
// a small view.
WordView pictureView(Addr pixels, uint32_t pitch) {
    uint64_t count = uint64_t{pitch} * gameHeight;
    uint64_t clamped = std::min<uint64_t>(count, UINT32_MAX);
    return machine::hostSliceUint(pixels, static_cast<uint32_t>(clamped));
}

// The low byte of each of the 640 pixels of a row that lie in the picture,
// in order; a range error if the row runs off its end.
void copyRow(const WordView& source, uint32_t y, uint32_t pitch, uint8_t* out) {
    uint64_t rowStart = uint64_t{y} * pitch;
    uint64_t inPicture = rowStart < source.count ? source.count - rowStart : 0;
    uint32_t columns = static_cast<uint32_t>(std::min<uint64_t>(inPicture, gameWidth));
    if (columns > 0) {
        const uint8_t* row = source.bytes + rowStart * 4;
        for (uint32_t x = 0; x < columns; ++x) out[x] = row[x * 4];
    }
    if (columns < gameWidth)
        throw app::RangeError(app::format("Picture pixel %u of a view of %u",
                                          static_cast<uint32_t>(rowStart + columns), source.count));
}

// The game copies the low byte of every pixel of a locked 640x480 picture
// into buffer 3a + b of the nine at P + 0x34 (a, b locals of its frame, P its
// first argument). A short pitch runs off the picture in one of the last
// rows: a range error, with every pixel before it copied.
void patchPictureCopy() {
    // The layer object from its start through the pitch, as the lock left it.
    WordView layerObject = machine::hostSliceUint(Addr{state.esi.v}, layerPitchDword + 1);
    Addr pixels{layerObject.get(layerPixelsDword)};
    uint32_t pitch = layerObject.get(layerPitchDword);
    WordView source = pictureView(pixels, pitch);
    WordView frame = machine::hostSliceUint(Addr{state.ebp.v - 0x74u}, 32);
    uint32_t b = frame.get(0);       // ebp - 0x74
    uint32_t a = frame.get(1);       // ebp - 0x70
    uint32_t owner = frame.get(31);  // ebp + 8
    int32_t index = static_cast<int32_t>(3u * a + b);
    WordView buffers = machine::hostSliceUint(Addr{owner + 0x34u}, bufferCount);
    if (index < 0 || index >= static_cast<int32_t>(bufferCount))
        throw app::RangeError(app::format("Picture buffer %d of %u", index, bufferCount));
    Addr buffer{buffers.get(static_cast<uint32_t>(index))};
    uint8_t* destination = machine::hostSlice(buffer, gameWidth * gameHeight).data();
    for (uint32_t y = 0; y < gameHeight; ++y)
        copyRow(source, y, pitch, destination + y * gameWidth);
    jumpTo(pictureCopyContinuation);
}

// Records of 6 bytes from ebx up to the dword at ebp - 4: byte 1 a key,
// bytes 2 to 5 a routine, called without arguments when the key equals AL.
// eax is reloaded from esi for every record, since a routine may change esi.
void patchDispatchLoop() {
    uint32_t record = state.ebx.v;
    uint32_t end = readDword(Addr{state.ebp.v - 4u});
    do {
        state.eax = state.esi;
        if (machine::getReg8(machine::EAX).v == machine::readMemory8(false, Addr{record + 1u}).v)
            machine::callGuest(Addr{readDword(Addr{record + 2u})});
        record += 6;
    } while (static_cast<int32_t>(record - end) < 0);
    state.ebx = app::Val32{record};
    // A constant: after an exit inside a routine, eip is wherever it stopped.
    jumpTo(dispatchLoopContinuation);
}

void patchSkip() { continueAfter(8); }

void patchBranch() {
    int32_t counter = static_cast<int32_t>(readDword(branchCounter));
    jumpTo(counter <= 8 ? branchTakenContinuation : branchNotTakenContinuation);
}

constexpr platform::HookRow patches[] = {
    {"patchPictureCopy", 0x402a55, 0, patchPictureCopy},
    {"patchDispatchLoop", 0x40f067, 0, patchDispatchLoop},
    {"patchSkip", 0x401d7d, 0, patchSkip},
    {"patchBranch", 0x40154c, 0, patchBranch},
};

}  // namespace

void registerPatches() { platform::registerHooks(patches); }

}  // namespace game
