// The four patches of the game's own code.
#include <gtest/gtest.h>

#include "hooksTest.h"

using namespace hooksTest;

namespace {

// ---- Picture copy ---------------------------------------------------------------------
// esi = a layer object (dword 14 pixels, dword 15 pitch); the frame at ebp
// holds b at -0x74, a at -0x70 and P at +8; the nine buffers' table at P + 0x34.

constexpr uint32_t layerObject = dataStart + 0x100;
constexpr uint32_t owner = dataStart + 0x200;
constexpr uint32_t bufferBytes = 640 * 480;

class PictureCopyTest : public HooksTest {
protected:
    void SetUp() override {
        HooksTest::SetUp();
        machine::state.esi = app::Val32{layerObject};
        machine::state.ebp = app::Val32{stackTop - 0x100};
        writeDword(stackTop - 0x100 + 8, owner);
        for (uint32_t i = 0; i < 9; ++i) writeDword(owner + 0x34 + 4 * i, machine::allocate(bufferBytes).v);
    }

    // A picture of pitch x 480 pixels on the heap whose low bytes count up
    // (mod 251, so rows do not repeat every 256 pixels); the others are 0xEE.
    uint32_t makePicture(uint32_t pitch) {
        uint32_t pixels = machine::allocate(pitch * 480 * 4).v;
        setPicture(pixels, pitch);
        uint8_t* bytes = machine::hostSlice(app::Addr{pixels}, pitch * 480 * 4).data();
        for (uint32_t i = 0; i < pitch * 480; ++i) machine::storeLe32(bytes + 4 * i, 0xEEEEEE00u | (i % 251));
        return pixels;
    }
    void setPicture(uint32_t pixels, uint32_t pitch) {
        writeDword(layerObject + 56, pixels);
        writeDword(layerObject + 60, pitch);
    }
    void selectBuffer(uint32_t a, uint32_t b) {
        writeDword(machine::state.ebp.v - 0x70, a);
        writeDword(machine::state.ebp.v - 0x74, b);
    }
    uint32_t buffer(uint32_t i) const { return readDword(owner + 0x34 + 4 * i); }

    // Every byte of buffer i is the low byte of its source pixel.
    void expectCopied(uint32_t i, uint32_t pitch) {
        std::vector<uint8_t> copied = readBytes(buffer(i), bufferBytes);
        uint32_t wrong = 0;
        for (uint32_t y = 0; y < 480; ++y)
            for (uint32_t x = 0; x < 640; ++x)
                if (copied[y * 640 + x] != (y * pitch + x) % 251) ++wrong;
        EXPECT_EQ(wrong, 0u) << "pitch " << pitch;
    }
};

TEST_F(PictureCopyTest, CopiesTheLowBytesOfEachRowAndChangesOnlyEip) {
    for (uint32_t pitch : {640u, 1024u}) {
        makePicture(pitch);
        selectBuffer(1, 1);
        machine::state.eip = app::Addr{patchPictureCopy};
        Snapshot before = snapshot();
        EXPECT_EQ(runInline(patchPictureCopy), 0x402a9eu);
        Snapshot after = snapshot();
        after.eip = before.eip;
        EXPECT_TRUE(before.sameRegisters(after));
        expectCopied(4, pitch);
    }
}

TEST_F(PictureCopyTest, CopiesALockedLayer) {
    fakeEngine::addImage("C:\\Q\\CD01.bmp", 640, 480);
    uint32_t drawObject = makeDrawObject();
    makeLayer(layerObject, "C:\\Q\\CD01.bmp", drawObject);
    hook(lockLayer, {layerObject});
    uint8_t* pixels = machine::hostSlice(app::Addr{guestLayout::mappedMemory}, bufferBytes * 4).data();
    for (uint32_t i = 0; i < bufferBytes; ++i) pixels[4 * i] = static_cast<uint8_t>(i % 251);
    selectBuffer(0, 0);
    runInline(patchPictureCopy);
    expectCopied(0, 640);
}

TEST_F(PictureCopyTest, BufferIndexMustBeZeroToEight) {
    makePicture(640);
    selectBuffer(2, 2);
    runInline(patchPictureCopy);
    expectCopied(8, 640);
    for (auto [a, b] : {std::pair<uint32_t, uint32_t>{3, 0}, {0, 0xFFFFFFFF}, {0x55555555, 0}}) {
        selectBuffer(a, b);
        EXPECT_THROW(runHandlerAt(patchPictureCopy), app::RangeError) << a << " " << b;
    }
}

TEST_F(PictureCopyTest, PitchThatPassesTheBlockIsRefusedByGuestMemory) {
    uint32_t pixels = makePicture(640);
    selectBuffer(0, 0);
    // 641: one row too many; 0x80000000 and 2236963: pitch x 480 x 4 wraps
    // in 32 bits to 0 and to 1664 bytes.
    for (uint32_t pitch : {641u, 0x80000000u, 2236963u, 0xFFFFFFFFu}) {
        setPicture(pixels, pitch);
        std::string message = guest::errorOf([] { runHandlerAt(patchPictureCopy); });
        EXPECT_EQ(message.rfind("Attempted to lookup invalid memory address", 0), 0u) << pitch << ": " << message;
    }
}

TEST_F(PictureCopyTest, ShortPitchRunsOffThePictureAfterCopyingTheRowsBefore) {
    makePicture(600);
    selectBuffer(0, 0);
    EXPECT_THROW(runHandlerAt(patchPictureCopy), app::RangeError);
    // Row 479 starts at pixel 287,400: 600 of its pixels lie in the picture.
    std::vector<uint8_t> copied = readBytes(buffer(0), bufferBytes);
    EXPECT_EQ(copied[640], 600 % 251);
    EXPECT_EQ(copied[479 * 640 + 599], (479 * 600 + 599) % 251);
    EXPECT_EQ(copied[479 * 640 + 600], 0);
}

// ---- Dispatch loop ------------------------------------------------------------------------
// Records of 6 bytes (byte 1 key, bytes 2-5 routine) from ebx to the dword at ebp - 4.

constexpr uint32_t records = dataStart + 0x300;
constexpr uint32_t calledLog = dataStart + 0x400;  // one dword per routine, counting its calls

// Routine n: inc dword [calledLog + 4n]; ret.
uint32_t writeCountingRoutine(uint32_t n) {
    uint32_t at = 0x403000 + 0x10 * n;
    std::vector<uint8_t> code = guest::hexBytes("FF 05 00 00 00 00 C3");
    machine::storeLe32(code.data() + 2, calledLog + 4 * n);
    writeBytes(at, code);
    return at;
}

void writeRecord(uint32_t index, uint8_t key, uint32_t routine) {
    writeBytes(records + 6 * index, {0x5A, key});
    writeDword(records + 6 * index + 2, routine);
}

std::vector<uint32_t> callCounts(uint32_t n) {
    std::vector<uint32_t> counts;
    for (uint32_t i = 0; i < n; ++i) counts.push_back(readDword(calledLog + 4 * i));
    return counts;
}

class DispatchTest : public HooksTest {
protected:
    void SetUp() override {
        HooksTest::SetUp();
        for (uint32_t i = 0; i < 3; ++i) writeRecord(i, static_cast<uint8_t>(0x11 * (i + 1)), writeCountingRoutine(i));
        machine::state.ebp = app::Val32{stackTop - 0x100};
        machine::state.ebx = app::Val32{records};
    }
    void setEnd(uint32_t end) { writeDword(stackTop - 0x104, end); }
};

TEST_F(DispatchTest, CallsTheMatchingRecordsRoutineOnce) {
    setEnd(records + 18);
    machine::state.esi = app::Val32{0x12345622};
    uint32_t esp = machine::state.esp.v;
    EXPECT_EQ(runInline(patchDispatchLoop), 0x40f079u);
    EXPECT_EQ(callCounts(3), (std::vector<uint32_t>{0, 1, 0}));
    EXPECT_EQ(machine::state.ebx.v, records + 18);
    EXPECT_EQ(machine::state.eax.v, 0x12345622u);
    EXPECT_EQ(machine::state.esp.v, esp);
}

TEST_F(DispatchTest, FirstRecordIsExaminedEvenAtOrPastTheEnd) {
    for (uint32_t end : {records, records - 100}) {
        writeDword(calledLog, 0);
        setEnd(end);
        machine::state.ebx = app::Val32{records};
        machine::state.esi = app::Val32{0x11};
        runInline(patchDispatchLoop);
        EXPECT_EQ(callCounts(3), (std::vector<uint32_t>{1, 0, 0}));
        EXPECT_EQ(machine::state.ebx.v, records + 6);
    }
}

TEST_F(DispatchTest, RoutineThatChangesEsiChangesTheKeyOfLaterRecords) {
    // Routine 0 is now: mov esi, 0x33; ret.
    writeBytes(0x403000, guest::hexBytes("BE 33 00 00 00 C3"));
    setEnd(records + 18);
    machine::state.esi = app::Val32{0x11};
    runInline(patchDispatchLoop);
    EXPECT_EQ(callCounts(3), (std::vector<uint32_t>{0, 0, 1}));
    EXPECT_EQ(machine::state.eax.v, 0x33u);
}

TEST_F(DispatchTest, ExitInsideARoutineStillWalksTheRecordsAndEndsAtTheFixedAddress) {
    // Record 0's routine asks to exit (as ExitProcess would) and returns.
    machine::bindHook(app::Addr{0x403100}, [] {
        machine::state.exitRequested = true;
        machine::returnToGuest();
    });
    writeRecord(0, 0x44, 0x403100);
    writeRecord(1, 0x44, writeCountingRoutine(1));
    setEnd(records + 12);
    machine::state.esi = app::Val32{0x44};
    runInline(patchDispatchLoop);
    EXPECT_EQ(machine::state.eip.v, 0x40f079u);
    EXPECT_EQ(machine::state.ebx.v, records + 12);
    EXPECT_EQ(callCounts(2), (std::vector<uint32_t>{0, 0}));  // no guest code after the exit
}

// ---- Branch and skip ------------------------------------------------------------------------

TEST_F(HooksTest, BranchOnTheSignedCounter) {
    struct Case {
        uint32_t counter;
        uint32_t target;
    };
    const Case cases[] = {{8, 0x4016c0}, {9, 0x40155b}, {0x80000000, 0x4016c0}, {0, 0x4016c0}, {0x7FFFFFFF, 0x40155b}};
    for (const Case& c : cases) {
        writeDword(branchGlobal, c.counter);
        guest::setFlags("CF ZF");
        machine::state.eip = app::Addr{patchBranch};
        Snapshot before = snapshot();
        EXPECT_EQ(runInline(patchBranch), c.target) << c.counter;
        Snapshot after = snapshot();
        after.eip = before.eip;
        EXPECT_TRUE(before.sameRegisters(after));
    }
}

TEST_F(HooksTest, SkipLeadsIntoTheDrawObjectCreation) {
    machine::state.eip = app::Addr{patchSkip};
    EXPECT_EQ(guest::runUntil(app::Addr{createDXDraw + 50}), 2);  // the skip, then the hook
    EXPECT_NE(readDword(dxDrawGlobal), 0u);
}

}  // namespace
