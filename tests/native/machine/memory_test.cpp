#include <gtest/gtest.h>

#include <random>

#include "guestFixture.h"

namespace {

using namespace machine;

class MemoryTest : public guest::GuestTest {};

constexpr uint32_t mapped = guestLayout::mappedMemory;
constexpr uint32_t reserved = guestLayout::reservedStart;

std::string lookupError(uint32_t address, uint32_t size) {
    return app::format("Attempted to lookup invalid memory address: 0x%x  size: %u", address, size);
}

std::string indexError(uint32_t address) {
    return app::format("Attempted to lookup invalid memory address: 0x%x", address);
}

// ---- Reads and writes -------------------------------------------------------

TEST_F(MemoryTest, ReadsAndWritesAreLittleEndian) {
    guest::addData(guest::dataAddress, "11 22 33 44 55 66 77 88");
    EXPECT_EQ(readMemory32(false, Addr{0x500000}).v, 0x44332211u);
    EXPECT_EQ(readMemory16(false, Addr{0x500001}).v, 0x3322u);
    EXPECT_EQ(readMemory8(false, Addr{0x500007}).v, 0x88u);
    writeMemory32(false, Addr{0x500003}, Val32{0xA1B2C3D4});
    writeMemory16(false, Addr{0x500000}, Val16{0xBEEF});
    writeMemory8(false, Addr{0x500002}, Val8{0x5A});
    EXPECT_EQ(guest::bytesAt(Addr{0x500000}, 8), guest::hexBytes("EF BE 5A D4 C3 B2 A1 88"));
}

// Pages of zeros are left out of the copy; every other byte arrives, also
// behind them and in a last page cut short.
TEST_F(MemoryTest, AddedBlockHoldsItsBytesAcrossPagesOfZeros) {
    std::vector<uint8_t> data(3 * 4096 + 5);
    data[4096 + 4095] = 0x11;
    data[3 * 4096 + 4] = 0x22;
    addMemoryBlock(guest::dataAddress, data, false);
    EXPECT_EQ(guest::bytesAt(guest::dataAddress, uint32_t(data.size())), data);
}

// The search over three blocks that touch: 0x500000+4, 0x500004+4, and an
// empty block at 0x500010.
TEST_F(MemoryTest, BlockSearchBoundaries) {
    guest::addData(Addr{0x500000}, "01 02 03 04");
    guest::addData(Addr{0x500004}, "05 06 07 08");
    guest::addData(Addr{0x500010}, "");
    struct Case {
        uint32_t address;
        uint32_t length;
        int32_t block;  // index in memoryBlocks (0 is the stack), -1 for the error
    };
    const Case cases[] = {
        {0x500000, 4, 1},
        {0x500003, 1, 1},
        {0x500002, 4, -1},  // never spans two blocks, even when they touch
        {0x500004, 4, 2},
        {0x500004, 0, 1},  // length 0 at a shared boundary: the lower block wins
        {0x500008, 0, 2},  // length 0 at a block's end
        {0x500008, 1, -1},
        {0x500010, 0, 3},  // an empty block holds its start for length 0 only
        {0x500010, 1, -1},
        {0x4FFFFF, 1, -1},
        {0xEFFFFFFF, 1, -1},
        {reserved, 0, -1},  // reserved addresses are never memory
        {0xFFFFFFF0, 4, -1},
    };
    for (const Case& c : cases) {
        std::string error = guest::errorOf([&] {
            const MemoryBlock& found = findBlock(c.length, Addr{c.address});
            EXPECT_EQ(&found - memoryBlocks().data(), c.block)
                << std::hex << c.address << " length " << c.length;
        });
        if (c.block < 0)
            EXPECT_EQ(error, lookupError(c.address, c.length));
        else
            EXPECT_EQ(error, "");
    }
    EXPECT_EQ(findBlockIndex(Addr{0x500004}), 1);
    EXPECT_EQ(findBlockIndex(Addr{0x500010}), 3);
    EXPECT_EQ(guest::errorOf([] { findBlockIndex(Addr{0x500009}); }), indexError(0x500009));
    EXPECT_EQ(guest::errorOf([] { findBlockIndex(Addr{reserved}); }), indexError(reserved));
}

TEST_F(MemoryTest, WrappingLengthIsAcceptedBySearchButRefusedByEveryAccess) {
    guest::addData(guest::dataAddress, std::vector<uint8_t>(16));
    // rangeContains wraps: the search itself accepts the range...
    EXPECT_EQ(findBlock(0xFFFFFFFF, Addr{0x500004}).start.v, 0x500000u);
    // ...but no view reaches past the block.
    EXPECT_EQ(guest::errorOf([] { hostSlice(Addr{0x500004}, 0xFFFFFFFF); }),
              lookupError(0x500004, 0xFFFFFFFF));
}

TEST_F(MemoryTest, FsSegmentGoesThroughTheTeb) {
    EXPECT_EQ(guest::errorOf([] { readMemory32(true, Addr{0}); }), "TEB not allocated");
    EXPECT_EQ(guest::errorOf([] { writeMemory32(true, Addr{0}, Val32{1}); }), "TEB not allocated");
    allocateTEB(48);
    writeMemory32(true, Addr{0x2C}, Val32{0xCAFEBABE});
    EXPECT_EQ(readMemory32(true, Addr{0x2C}).v, 0xCAFEBABEu);
    EXPECT_EQ(readMemory32(true, Addr{0x18}).v, 0u);  // inside a 48-byte TEB: reads 0
    // Plain accesses to TEB addresses find no block.
    EXPECT_EQ(guest::errorOf([] { readMemory32(false, Addr{0x2C}); }), lookupError(0x2C, 4));
    struct Refusal {
        uint32_t offset;
        const char* message;
    };
    const Refusal refusals[] = {
        {0x2D, "Invalid offset from fs register: 0x2d"},
        {0x30, "Invalid offset from fs register: 0x30"},
        {0xFFFFFFFE, "Invalid offset from fs register: 0xfffffffe"},  // no wrap to offset 2
    };
    for (const Refusal& r : refusals) {
        EXPECT_EQ(guest::errorOf([&] { readMemory32(true, Addr{r.offset}); }), r.message);
        EXPECT_EQ(guest::errorOf([&] { writeMemory32(true, Addr{r.offset}, Val32{1}); }), r.message);
    }
    EXPECT_EQ(guest::errorOf([] { readMemory8(true, Addr{0}); }),
              "Reading 8-bit value from FS segment is not supported.");
    EXPECT_EQ(guest::errorOf([] { writeMemory8(true, Addr{0}, Val8{1}); }),
              "Writing 8-bit value to FS segment is not supported.");
    EXPECT_EQ(guest::errorOf([] { readMemory16(true, Addr{0}); }),
              "Reading 16-bit value from FS segment is not supported.");
    EXPECT_EQ(guest::errorOf([] { writeMemory16(true, Addr{0}, Val16{1}); }),
              "Writing 16-bit value to FS segment is not supported.");

    allocateTEB(4);
    EXPECT_EQ(readMemory32(true, Addr{0}).v, 0u);
    EXPECT_EQ(guest::errorOf([] { readMemory32(true, Addr{0x2C}); }),
              "Invalid offset from fs register: 0x2c");
}

// ---- Instruction fetch ------------------------------------------------------

TEST_F(MemoryTest, FetchReadsOnlyTheCodeBlock) {
    EXPECT_EQ(guest::errorOf([] { fetchCode8(); }), "Code memory block not initialised");
    guest::loadCode("B8 78 56 34 12");
    EXPECT_EQ(fetchCode8().v, 0xB8u);
    EXPECT_EQ(fetchCode32().v, 0x12345678u);
    EXPECT_EQ(state.eip.v, 0x401005u);
    state.eip = Addr{0x401003};
    EXPECT_EQ(fetchCode16().v, 0x1234u);
    struct Case {
        uint32_t eip;
        int width;
    };
    const Case outside[] = {
        {0x401005, 1}, {0x401004, 2}, {0x401002, 4}, {0x400FFF, 1},
        {guestLayout::stackStart, 1},  // the stack is memory, but not code
        {0xFFFFFFFF, 1}, {0xFFFFFFFE, 4},  // no wrap-around into the block
    };
    for (const Case& c : outside) {
        state.eip = Addr{c.eip};
        std::string error = guest::errorOf([&] {
            if (c.width == 1) fetchCode8();
            if (c.width == 2) fetchCode16();
            if (c.width == 4) fetchCode32();
        });
        EXPECT_EQ(error, app::format("Unable to read instruction outside of code memory block. "
                                     "eip = 0x%x", c.eip));
        EXPECT_EQ(state.eip.v, c.eip);
    }
}

TEST_F(MemoryTest, LastCodeBlockAddedIsTheOneFetchedFrom) {
    guest::addData(Addr{0x401000}, "90");
    machine::addMemoryBlock(Addr{0x402000}, guest::hexBytes("C3"), true);
    machine::addMemoryBlock(Addr{0x403000}, guest::hexBytes("CC"), true);
    machine::addMemoryBlock(Addr{0x404000}, guest::hexBytes("F4"), false);
    state.eip = Addr{0x403000};
    EXPECT_EQ(fetchCode8().v, 0xCCu);
    state.eip = Addr{0x402000};
    EXPECT_NE(guest::errorOf([] { fetchCode8(); }), "");
}

// ---- Stack ------------------------------------------------------------------

TEST_F(MemoryTest, PushPopAndTheStackFloor) {
    constexpr uint32_t stackFloor = guestLayout::stackStart;
    state.esp.v = stackFloor + 8;
    push32(Val32{0x11111111});
    push32(Val32{0x22222222});
    EXPECT_EQ(state.esp.v, stackFloor);
    EXPECT_EQ(guest::errorOf([] { push32(Val32{0x33333333}); }), "Stack overflow");
    EXPECT_EQ(state.esp.v, stackFloor - 4);  // left lowered
    state.esp.v = stackFloor;
    EXPECT_EQ(pop32().v, 0x22222222u);
    EXPECT_EQ(state.esp.v, stackFloor + 4);
    state.eip = Addr{0x1234};
    returnToGuest();
    EXPECT_EQ(state.eip.v, 0x11111111u);
    EXPECT_EQ(state.esp.v, stackFloor + 8);

    state.esp.v = guestLayout::stackTop - 2;  // a pop that crosses the stack's end changes nothing
    EXPECT_EQ(guest::errorOf([] { pop32(); }), lookupError(guestLayout::stackTop - 2, 4));
    EXPECT_EQ(guest::errorOf([] { returnToGuest(); }), lookupError(guestLayout::stackTop - 2, 4));
    EXPECT_EQ(state.esp.v, guestLayout::stackTop - 2);
    EXPECT_EQ(state.eip.v, 0x11111111u);
}

// ---- Heap -------------------------------------------------------------------

TEST_F(MemoryTest, HeapCapacityClassesAndAlignment) {
    guest::addData(Addr{0x401000}, std::vector<uint8_t>(0x123));
    struct Case {
        uint32_t size;
        uint32_t expectedStart;
        uint32_t capacity;
    };
    // The first block starts right at the end of the last one added; every
    // later one on the next 4096 boundary after start + capacity + 4.
    const Case cases[] = {
        {0, 0x401123, 16},
        {16, 0x402000, 16},
        {17, 0x403000, 32},
        {4096, 0x404000, 4096},
        {4097, 0x406000, 8192},  // the 4096 block moved the next start by 8192
        {20, 0x409000, 32},
        {20, 0x40A000, 32},
    };
    for (const Case& c : cases) {
        Addr start = allocate(c.size);
        EXPECT_EQ(start.v, c.expectedStart) << "size " << c.size;
        const MemoryBlock& block = memoryBlocks().back();
        EXPECT_EQ(block.capacity, c.capacity);
        EXPECT_EQ(block.size, c.size);
    }
    // Between two heap blocks lie bytes of no block.
    EXPECT_FALSE(isValidAddress(Addr{0x402010}));
    EXPECT_EQ(guest::errorOf([] { readMemory8(false, Addr{0x402010}); }), lookupError(0x402010, 1));
    // Size 0: an address that no access accepts, but a block all the same.
    EXPECT_EQ(guest::errorOf([] { readMemory8(false, Addr{0x401123}); }), lookupError(0x401123, 1));
    EXPECT_EQ(readMemory8(false, Addr{0x401122}).v, 0u);  // the last section byte is still there
}

TEST_F(MemoryTest, HeapReusesLastFreedOfTheSameCapacityZeroed) {
    guest::addData(Addr{0x401000}, std::vector<uint8_t>(0x1000));
    Addr x = allocate(20);
    Addr y = allocate(32);
    Addr small = allocate(10);
    writeMemory32(false, x, Val32{0xFFFFFFFF});
    writeMemory32(false, addrAdd(y, 28), Val32{0xFFFFFFFF});
    free(x);
    free(y);
    EXPECT_EQ(readMemory32(false, x).v, 0xFFFFFFFFu);  // freed bytes stay readable
    EXPECT_NE(allocate(10), x);                         // capacity 16: no reuse of 32
    EXPECT_EQ(allocate(30), y);                         // last freed, first reused
    EXPECT_EQ(readMemory16(false, addrAdd(y, 28)).v, 0u);
    EXPECT_EQ(guest::errorOf([&] { readMemory32(false, addrAdd(y, 28)); }),
              lookupError(y.v + 28, 4));  // the new size (30) bounds it now
    EXPECT_EQ(allocate(32), x);
    EXPECT_EQ(readMemory32(false, x).v, 0u);
    free(small);
    EXPECT_EQ(allocate(0), small);
}

TEST_F(MemoryTest, FreeingTheFirstHeapBlockNeverQueuesTheSectionBelowIt) {
    guest::addData(Addr{0x401000}, std::vector<uint8_t>(0x100));
    Addr first = allocate(8);
    EXPECT_EQ(first.v, 0x401100u);  // starts exactly at the section's end
    free(first);
    EXPECT_EQ(allocate(8), first);
    EXPECT_EQ(memoryBlocks()[1].size, 0x100u);  // the section is untouched
    EXPECT_EQ(allocate(8).v, 0x402000u);
    // An address inside a block frees the block the search finds.
    Addr big = allocate(64);
    free(addrAdd(big, 8));
    EXPECT_EQ(allocate(64), big);
    EXPECT_EQ(guest::errorOf([] { free(Addr{0x4FF000}); }), indexError(0x4FF000));
}

TEST_F(MemoryTest, SecondFreeOfAQueuedBlockChangesNothing) {
    guest::addData(Addr{0x401000}, std::vector<uint8_t>(0x100));
    Addr x = allocate(20);
    free(x);
    free(x);
    free(addrAdd(x, 8));  // the same block, named by an inner address
    EXPECT_EQ(allocate(20), x);
    EXPECT_NE(allocate(20), x);  // queued once, handed out once
    free(x);                     // in use again, so it can be freed again
    EXPECT_EQ(allocate(32), x);
}

// The heap ends below the mapped block. An empty block at 0xDFFFF000 puts
// the heap's next start there without host memory behind the gap.
TEST_F(MemoryTest, HeapNeverGrowsIntoTheMappedBlock) {
    addMemoryBlock(Addr{mapped - 0x1000}, {}, false);
    size_t blockCount = memoryBlocks().size();
    EXPECT_EQ(guest::errorOf([] { allocate(4097); }), "Out of guest memory");
    EXPECT_EQ(memoryBlocks().size(), blockCount);
    Addr last = allocate(4096);  // ends exactly at 0xE0000000
    EXPECT_EQ(last.v, mapped - 0x1000);
    EXPECT_EQ(guest::errorOf([] { allocate(0); }), "Out of guest memory");
    EXPECT_EQ(memoryBlocks().size(), blockCount + 1);
    free(last);
    EXPECT_EQ(allocate(4096), last);  // reuse needs no new address
    std::vector<uint8_t> host(16, 0x55);
    addMappedMemory(host);
    EXPECT_EQ(readMemory8(false, Addr{mapped - 1}).v, 0u);
    EXPECT_EQ(readMemory8(false, Addr{mapped}).v, 0x55u);
}

TEST_F(MemoryTest, AllocationLimitAndCopy) {
    EXPECT_EQ(guest::errorOf([] { allocate(0x10000001); }), "Size too large to allocate");
    Addr huge = allocate(0x10000000);
    EXPECT_EQ(memoryBlocks().back().capacity, 0x10000000u);
    EXPECT_EQ(readMemory8(false, addrAdd(huge, 0x0FFFFFFF)).v, 0u);

    Addr copy = allocateCopy(guest::hexBytes("61 62 63 00"));
    EXPECT_EQ(readMemory32(false, copy).v, 0x00636261u);
    Addr next = addrAdd(copy, 16 + 4);
    next.alignUp();
    EXPECT_EQ(guest::errorOf([] { allocateCopy({}); }), lookupError(next.v, 1));
}

// ---- Mapped block -------------------------------------------------------------

TEST_F(MemoryTest, MappedBlockAliasesHostBytes) {
    std::vector<uint8_t> host(64);
    EXPECT_EQ(addMappedMemory(host).v, mapped);
    writeMemory32(false, Addr{mapped + 0x10}, Val32{0x04030201});
    EXPECT_EQ(host[0x10], 1);
    EXPECT_EQ(host[0x13], 4);
    host[0x3F] = 0x77;
    EXPECT_EQ(readMemory8(false, Addr{mapped + 0x3F}).v, 0x77u);
    EXPECT_EQ(guest::errorOf([] { readMemory8(false, Addr{mapped + 0x40}); }),
              lookupError(mapped + 0x40, 1));
    // A range past 2^32 wraps into the mapped block's test, never into its bytes.
    EXPECT_EQ(guest::errorOf([] { readMemory8(false, Addr{0xFFFFFFFF}); }),
              lookupError(0xFFFFFFFF, 1));
    EXPECT_EQ(guest::errorOf([] { hostSliceToEnd(Addr{0xFFFFFFFF}); }),
              lookupError(0xFFFFFFFF, 1));
    EXPECT_FALSE(isValidAddress(Addr{mapped}));  // the dump does not look there

    std::vector<uint8_t> other(8);
    EXPECT_EQ(guest::errorOf([&] { addMappedMemory(other); }),
              "Multiple mapped-memory blocks not supported");
    EXPECT_EQ(guest::errorOf([] { removeMappedMemory(Addr{mapped + 0x4}); }),
              "Invalid mapped-memory address");
    removeMappedMemory(Addr{mapped});
    EXPECT_EQ(guest::errorOf([] { removeMappedMemory(Addr{mapped}); }),
              "Invalid mapped-memory address");
    EXPECT_EQ(guest::errorOf([] { readMemory8(false, Addr{mapped}); }),
              lookupError(mapped, 1));
    EXPECT_EQ(addMappedMemory(other).v, mapped);
}

TEST_F(MemoryTest, MappedBlockIsSearchedFirst) {
    // A heap that has grown up to the mapped address: the mapped block wins.
    guest::addData(Addr{mapped - 0x1000}, std::vector<uint8_t>(0x2000, 0xAA));
    EXPECT_EQ(readMemory8(false, Addr{mapped}).v, 0xAAu);
    std::vector<uint8_t> host(16, 0x55);
    addMappedMemory(host);
    for (int pass = 0; pass < 2; ++pass) {  // the same answers with warm caches
        EXPECT_EQ(readMemory8(false, Addr{mapped}).v, 0x55u);
        EXPECT_EQ(readMemory8(false, Addr{mapped - 1}).v, 0xAAu);
        EXPECT_EQ(readMemory8(false, Addr{mapped + 0x10}).v, 0xAAu);
        EXPECT_EQ(readMemory8(false, Addr{mapped + 0xF}).v, 0x55u);
    }
    removeMappedMemory(mappedMemoryAddress);
    EXPECT_EQ(readMemory8(false, Addr{mapped}).v, 0xAAu);
}

// ---- Views ----------------------------------------------------------------------

TEST_F(MemoryTest, EveryViewStopsAtItsBlockEnd) {
    guest::addData(guest::dataAddress, std::vector<uint8_t>(100));
    struct View {
        const char* name;
        uint32_t length;
        uint8_t* (*get)(Addr);
    };
    const View views[] = {
        {"hostPointer4", 4, hostPointer4},   {"hostPointer8", 8, hostPointer8},
        {"hostPointer10", 10, hostPointer10}, {"hostPointer12", 12, hostPointer12},
        {"hostPointer16", 16, hostPointer16}, {"hostPointer20", 20, hostPointer20},
        {"hostPointer24", 24, hostPointer24}, {"hostPointer32", 32, hostPointer32},
        {"hostPointer48", 48, hostPointer48},
    };
    uint8_t* base = memoryBlocks().back().data;
    for (const View& v : views) {
        Addr lastFit{0x500000 + 100 - v.length};
        EXPECT_EQ(v.get(lastFit), base + 100 - v.length) << v.name;
        Addr oneLate = addrAdd(lastFit, 1);
        EXPECT_EQ(guest::errorOf([&] { v.get(oneLate); }), lookupError(oneLate.v, v.length))
            << v.name;
    }
    EXPECT_EQ(hostSlice(Addr{0x500010}, 84).size(), 84u);
    EXPECT_EQ(hostSlice(Addr{0x500064}, 0).size(), 0u);
    EXPECT_EQ(guest::errorOf([] { hostSlice(Addr{0x500010}, 85); }), lookupError(0x500010, 85));
    // Guest-chosen lengths that would wrap past 2^32 are refused too.
    EXPECT_EQ(guest::errorOf([] { hostSlice(Addr{0x500010}, 0xFFFFFFF8); }),
              lookupError(0x500010, 0xFFFFFFF8));

    WordView words = hostSliceUint(Addr{0x500054}, 4);
    words.set(3, 0x01020304);
    EXPECT_EQ(readMemory32(false, Addr{0x500060}).v, 0x01020304u);
    EXPECT_EQ(words.get(3), 0x01020304u);
    try {
        words.get(4);
        ADD_FAILURE() << "no range error";
    } catch (const app::RangeError& e) {
        // Its description names the file from the source tree down, without
        // the build machine's folders.
        EXPECT_STREQ(e.file(), "src/machine/machineState_memory.cpp");
    }
    EXPECT_THROW(words.set(4, 0), app::RangeError);
    EXPECT_EQ(guest::errorOf([] { hostSliceUint(Addr{0x500058}, 4); }), lookupError(0x500058, 16));
    EXPECT_EQ(guest::errorOf([] { hostSliceUint(Addr{0x500058}, 0x40000001); }),
              lookupError(0x500058, 4));

    EXPECT_EQ(hostSliceToEnd(Addr{0x500060}).size(), 4u);
    EXPECT_EQ(hostSliceToEnd(Addr{0x500063}).size(), 1u);
    EXPECT_EQ(guest::errorOf([] { hostSliceToEnd(Addr{0x500064}); }), lookupError(0x500064, 1));
}

// ---- The search against a plain model ------------------------------------------

// The block search written out plainly, without the cache; -1 for none.
int32_t modelSearch(uint32_t length, Addr address, const std::vector<MemoryBlock>& blocks) {
    if (!isMemoryAddress(address)) return -1;
    int32_t lo = 0, hi = static_cast<int32_t>(blocks.size()) - 1;
    while (hi - lo >= 8) {
        int32_t mid = (lo + hi) / 2;
        if (address.v < blocks[mid].start.v)
            hi = mid - 1;
        else if (rangeContains(address, length, blocks[mid].start, blocks[mid].size))
            return mid;
        else
            lo = mid + 1;
    }
    for (int32_t i = lo; i <= hi; ++i)
        if (rangeContains(address, length, blocks[i].start, blocks[i].size)) return i;
    return -1;
}

TEST_F(MemoryTest, CachedSearchAgreesWithThePlainSearchOnRandomLayouts) {
    std::mt19937 random(20261210);
    for (int layout = 0; layout < 60; ++layout) {
        guest::resetGuest(0x1000);
        // Sections that touch or leave gaps, sometimes placed 2 GiB or more
        // apart, sometimes overlapping or wrapping; then a heap
        // with frees and reuse that changes sizes.
        uint32_t at = 0x400000;
        int sections = 1 + static_cast<int>(random() % 12);
        for (int s = 0; s < sections; ++s) {
            uint32_t size = random() % 3 == 0 ? random() % 4 : random() % 0x300;
            uint32_t gap = random() % 3 == 0 ? 0 : random() % 0x200;
            if (random() % 25 == 0) gap = 0x90000000u;
            if (random() % 25 == 0) at -= 8;  // overlap the previous block
            at += gap;
            addMemoryBlock(Addr{at}, std::vector<uint8_t>(size), false);
            at += size;
        }
        std::vector<Addr> heap;
        int actions = static_cast<int>(random() % 30);
        for (int a = 0; a < actions; ++a) {
            if (!heap.empty() && random() % 3 == 0)
                free(heap[random() % heap.size()]);
            else
                heap.push_back(allocate(random() % 80));
        }
        const std::vector<MemoryBlock>& blocks = memoryBlocks();
        for (int probe = 0; probe < 400; ++probe) {
            const MemoryBlock& near = blocks[random() % blocks.size()];
            uint32_t address = near.start.v + static_cast<uint32_t>(random() % (near.size + 9)) - 4;
            uint32_t length = random() % 6;
            if (random() % 50 == 0) length = 0xFFFFFFFF - random() % 4;
            int32_t expected = modelSearch(length, Addr{address}, blocks);
            std::string error;
            int32_t got = -1;
            error = guest::errorOf([&] {
                got = static_cast<int32_t>(&findBlock(length, Addr{address}) - blocks.data());
            });
            ASSERT_EQ(got, expected) << "layout " << layout << " address " << std::hex << address
                                     << " length " << length;
            if (expected < 0) {
                ASSERT_EQ(error, lookupError(address, length));
            }
            // A view of the same range: the found block's bytes, or the
            // error when there is none or the range passes its end.
            uint8_t* view = nullptr;
            std::string viewError =
                guest::errorOf([&] { view = hostSlice(Addr{address}, length).data(); });
            bool fits = expected >= 0 &&
                        uint64_t{address - blocks[expected].start.v} + length <= blocks[expected].size;
            if (fits && length != 0) {
                ASSERT_EQ(view, blocks[expected].data + (address - blocks[expected].start.v));
            } else if (!fits) {
                ASSERT_EQ(viewError, lookupError(address, length));
            }
            int32_t expectedIndex = modelSearch(0, Addr{address}, blocks);
            int32_t gotIndex = -1;
            guest::errorOf([&] { gotIndex = findBlockIndex(Addr{address}); });
            ASSERT_EQ(gotIndex, expectedIndex) << "layout " << layout << " address " << address;
        }
    }
}

}  // namespace
