// Guest memory: the block list and its search with the last-hit cache, the
// out-of-line side of the typed accesses and of fetch, the TEB behind the FS
// segment, the mapped block and the host views.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "machine/machineState.h"
#include "machine/machineState_internal.h"

namespace machine {

namespace detail {

std::vector<MemoryBlock> blocks;
int32_t codeIndex = -1;

}  // namespace detail

using detail::blocks;
using detail::codeIndex;

namespace {

// Zeroed host bytes that never move. calloc keeps large, mostly untouched
// blocks (the stack, big heap requests) cheap.
struct FreeBytes {
    void operator()(uint8_t* p) const { std::free(p); }
};
using OwnedBytes = std::unique_ptr<uint8_t, FreeBytes>;

OwnedBytes zeroedBytes(uint32_t capacity) {
    void* p = std::calloc(capacity == 0 ? 1 : capacity, 1);
    if (p == nullptr) throw std::bad_alloc();
    return OwnedBytes(static_cast<uint8_t*>(p));
}

// Copies data into zeroed bytes page by page, leaving out pages of zeros: a
// section's zero fill, as large as its header claims, then takes no host
// memory beyond the section's own bytes.
void copyIntoZeroed(uint8_t* to, std::span<const uint8_t> data) {
    constexpr size_t page = 4096;
    static const uint8_t zeros[page] = {};
    for (size_t offset = 0; offset < data.size(); offset += page) {
        size_t n = std::min(page, data.size() - offset);
        if (std::memcmp(data.data() + offset, zeros, n) != 0)
            std::memcpy(to + offset, data.data() + offset, n);
    }
}

std::vector<OwnedBytes> ownedBytes;  // the bytes of every block we made, TEB included

bool haveCodeBlock = false;

bool haveTeb = false;
MemoryBlock tebBlock{};

bool haveMapped = false;
MemoryBlock mappedBlock{};

// The last-hit cache (fastPath::lastHit) holds a block only while the blocks
// ascend without overlap and end by 2^32: then at most one block can hold a
// non-empty range and the search always finds it, so a hit gives the block
// the search would. A block that overlaps the mapped block is never cached
// (the mapped block comes first), nor one that reaches into the reserved
// range.
// Behind it sits the block hit before, so code that alternates between the
// stack and one data block does not search on every access.
MemoryBlock noBlock{Addr{0}, nullptr, 0, 0};
MemoryBlock* previousHit = &noBlock;
bool layoutIsOrdered = true;

void forgetLastHit() {
    fastPath::lastHit = &noBlock;
    previousHit = &noBlock;
}

void makeLastHit(MemoryBlock* block) {
    if (block == fastPath::lastHit) return;
    previousHit = fastPath::lastHit;
    fastPath::lastHit = block;
}

[[noreturn]] void failLookup(Addr address, uint32_t length) {
    throw app::ProgramException(app::format(
        "Attempted to lookup invalid memory address: 0x%x  size: %u", address.v, length));
}

void noteLayout(const MemoryBlock& added) {
    forgetLastHit();  // the vector may have moved
    uint64_t end = uint64_t{added.start.v} + added.capacity;
    if (end > 0x100000000ull) layoutIsOrdered = false;
    if (blocks.size() >= 2) {
        const MemoryBlock& before = blocks[blocks.size() - 2];
        if (added.start.v < uint64_t{before.start.v} + before.capacity) layoutIsOrdered = false;
    }
}

void setCodeBlock(int32_t index) {
    haveCodeBlock = true;
    codeIndex = index;
    detail::updateCodeWindow();
}

bool overlapsMapped(const MemoryBlock& block) {
    if (!haveMapped) return false;
    uint64_t end = uint64_t{block.start.v} + block.capacity;
    uint64_t mappedEnd = uint64_t{mappedBlock.start.v} + mappedBlock.size;
    return block.start.v < mappedEnd && mappedBlock.start.v < end;
}

void remember(MemoryBlock& block) {
    if (layoutIsOrdered && uint64_t{block.start.v} + block.capacity <= app::reservedAddressStart &&
        !overlapsMapped(block))
        makeLastHit(&block);
}

void rememberMapped() {
    if (uint64_t{mappedBlock.start.v} + mappedBlock.size <= 0x100000000ull)
        makeLastHit(&mappedBlock);
}

// The block search without the mapped block and the cache: a binary search
// while eight or more candidates remain, then a scan. -1 when no block holds
// the range. The blocks ascend in unsigned order (the loader refuses any
// other layout, the heap grows upward below the mapped block), so the binary
// step compares unsigned: a signed difference would send the search the wrong
// way between blocks 2 GiB or more apart.
int32_t searchBlocks(uint32_t length, Addr address) {
    if (!app::isMemoryAddress(address)) return -1;
    int32_t lo = 0;
    int32_t hi = static_cast<int32_t>(blocks.size()) - 1;
    while (hi - lo >= 8) {
        int32_t mid = (lo + hi) / 2;
        const MemoryBlock& block = blocks[static_cast<size_t>(mid)];
        if (address.v < block.start.v)
            hi = mid - 1;
        else if (app::rangeContains(address, length, block.start, block.size))
            return mid;
        else
            lo = mid + 1;
    }
    for (int32_t i = lo; i <= hi; ++i) {
        const MemoryBlock& block = blocks[static_cast<size_t>(i)];
        if (app::rangeContains(address, length, block.start, block.size)) return i;
    }
    return -1;
}

bool cacheHolds(const MemoryBlock* block, uint32_t length, Addr address) {
    uint32_t offset = address.v - block->start.v;
    return offset < block->size && length <= block->size - offset;
}

// Length 0 bypasses the cache: at a boundary the lower block wins.
uint8_t* blockBytes(uint32_t length, Addr address) {
    return length == 0 ? fastPath::searchedBytes(0, address) : fastPath::bytes(length, address);
}

}  // namespace

namespace detail {

MemoryBlock& appendBlock(Addr start, uint32_t capacity, uint32_t size) {
    ownedBytes.push_back(zeroedBytes(capacity));
    blocks.push_back(MemoryBlock{start, ownedBytes.back().get(), capacity, size});
    noteLayout(blocks.back());
    return blocks.back();
}

// The fetch window leaves out any part of the block past 2^32: an eip there
// would be below the block's start, where fetch fails anyway.
void updateCodeWindow() {
    const MemoryBlock& block = blocks[static_cast<size_t>(codeIndex)];
    uint64_t room = 0x100000000ull - block.start.v;
    fastPath::code = {block.data, block.start.v,
                      static_cast<uint32_t>(std::min<uint64_t>(block.size, room))};
}

MemoryBlock& addZeroedBlock(Addr start, uint32_t length, bool isCode) {
    MemoryBlock& block = appendBlock(start, length, length);
    noteBlockEnd(app::addrAdd(start, length));
    if (isCode) setCodeBlock(static_cast<int32_t>(blocks.size() - 1));
    return block;
}

void resetMemory() {
    blocks.clear();
    ownedBytes.clear();
    haveCodeBlock = false;
    codeIndex = -1;
    fastPath::code = {nullptr, 0, 0};
    haveTeb = false;
    tebBlock = MemoryBlock{};
    haveMapped = false;
    mappedBlock = MemoryBlock{};
    forgetLastHit();
    layoutIsOrdered = true;
}

}  // namespace detail

// ---- Fast-path support ------------------------------------------------------

namespace fastPath {

MemoryBlock* lastHit = &noBlock;
CodeWindow code = {nullptr, 0, 0};

// The end is computed without wrap-around, so a range never reaches past its
// block, whatever length the guest chose.
uint8_t* searchedBytes(uint32_t length, Addr address) {
    MemoryBlock& block = findBlock(length, address);
    uint64_t offset = address.v - block.start.v;
    if (offset + length > block.size) failLookup(address, length);
    return block.data + offset;
}

uint8_t* fsBytes(Addr offset) {
    if (!haveTeb) throw app::ProgramException("TEB not allocated");
    if (uint64_t{offset.v} + 4 > tebBlock.size)
        throw app::ProgramException(
            app::format("Invalid offset from fs register: 0x%x", offset.v));
    return tebBlock.data + offset.v;
}

void failFetch() {
    if (!haveCodeBlock) throw app::ProgramException("Code memory block not initialised");
    throw app::ProgramException(app::format(
        "Unable to read instruction outside of code memory block. eip = 0x%x", state.eip.v));
}

void failFsWidth(bool write, int bits) {
    throw app::ProgramException(
        write ? app::format("Writing %d-bit value to FS segment is not supported.", bits)
              : app::format("Reading %d-bit value from FS segment is not supported.", bits));
}

void failStackOverflow() { throw app::ProgramException("Stack overflow"); }

}  // namespace fastPath

// ---- Blocks and search ------------------------------------------------------

void addMemoryBlock(Addr start, std::span<const uint8_t> data, bool isCode) {
    if (data.size() > 0xFFFFFFFFu) throw app::RangeError("memory block larger than 4 GiB");
    uint32_t length = static_cast<uint32_t>(data.size());
    MemoryBlock& block = detail::addZeroedBlock(start, length, isCode);
    copyIntoZeroed(block.data, data);
}

MemoryBlock& findBlock(uint32_t length, Addr address) {
    if (haveMapped && app::rangeContains(address, length, mappedBlock.start, mappedBlock.size)) {
        if (length != 0) rememberMapped();
        return mappedBlock;
    }
    // Length 0 bypasses the cache: at a boundary the lower block wins.
    if (length != 0) {
        if (cacheHolds(fastPath::lastHit, length, address)) return *fastPath::lastHit;
        if (cacheHolds(previousHit, length, address)) {
            makeLastHit(previousHit);
            return *fastPath::lastHit;
        }
    }
    int32_t index = searchBlocks(length, address);
    if (index < 0) failLookup(address, length);
    MemoryBlock& block = blocks[static_cast<size_t>(index)];
    if (length != 0) remember(block);
    return block;
}

int32_t findBlockIndex(Addr address) {
    int32_t index = searchBlocks(0, address);
    if (index < 0)
        throw app::ProgramException(
            app::format("Attempted to lookup invalid memory address: 0x%x", address.v));
    return index;
}

bool isValidAddress(Addr address) {
    if (!app::isMemoryAddress(address)) return false;
    for (const MemoryBlock& block : blocks)
        if (app::rangeContains(address, 1, block.start, block.size)) return true;
    return false;
}

const std::vector<MemoryBlock>& memoryBlocks() { return blocks; }

const MemoryBlock* codeBlock() {
    return haveCodeBlock ? &blocks[static_cast<size_t>(codeIndex)] : nullptr;
}

// ---- Special blocks -----------------------------------------------------------

void allocateTEB(uint32_t size) {
    ownedBytes.push_back(zeroedBytes(size));
    tebBlock = MemoryBlock{Addr{0}, ownedBytes.back().get(), size, size};
    haveTeb = true;
}

Addr addMappedMemory(std::span<uint8_t> hostData) {
    if (haveMapped) throw app::ProgramException("Multiple mapped-memory blocks not supported");
    if (hostData.size() > 0xFFFFFFFFu) throw app::RangeError("mapped block larger than 4 GiB");
    uint32_t length = static_cast<uint32_t>(hostData.size());
    mappedBlock = MemoryBlock{mappedMemoryAddress, hostData.data(), length, length};
    haveMapped = true;
    forgetLastHit();  // the cached block may lie under the mapped one
    return mappedMemoryAddress;
}

void removeMappedMemory(Addr address) {
    if (!haveMapped || address != mappedMemoryAddress)
        throw app::ProgramException("Invalid mapped-memory address");
    haveMapped = false;
    mappedBlock = MemoryBlock{};
    forgetLastHit();
}

// ---- Host views ---------------------------------------------------------------

uint8_t* hostPointer4(Addr address) { return blockBytes(4, address); }
uint8_t* hostPointer8(Addr address) { return blockBytes(8, address); }
uint8_t* hostPointer10(Addr address) { return blockBytes(10, address); }
uint8_t* hostPointer12(Addr address) { return blockBytes(12, address); }
uint8_t* hostPointer16(Addr address) { return blockBytes(16, address); }
uint8_t* hostPointer20(Addr address) { return blockBytes(20, address); }
uint8_t* hostPointer24(Addr address) { return blockBytes(24, address); }
uint8_t* hostPointer32(Addr address) { return blockBytes(32, address); }
uint8_t* hostPointer48(Addr address) { return blockBytes(48, address); }

std::span<uint8_t> hostSlice(Addr address, uint32_t n) { return {blockBytes(n, address), n}; }

std::span<uint8_t> hostSliceToEnd(Addr address) {
    MemoryBlock& block = findBlock(1, address);
    uint32_t offset = address.v - block.start.v;
    if (offset >= block.size) failLookup(address, 1);
    return {block.data + offset, block.size - offset};
}

WordView hostSliceUint(Addr address, uint32_t n) {
    uint64_t length = uint64_t{n} * 4;
    if (length > 0xFFFFFFFFu) failLookup(address, static_cast<uint32_t>(length));
    return WordView{blockBytes(static_cast<uint32_t>(length), address), n};
}

uint32_t WordView::get(uint32_t index) const {
    if (index >= count) throw app::RangeError(app::format("word %u of a view of %u", index, count));
    return loadLe32(bytes + uint64_t{index} * 4);
}

void WordView::set(uint32_t index, uint32_t value) const {
    if (index >= count) throw app::RangeError(app::format("word %u of a view of %u", index, count));
    storeLe32(bytes + uint64_t{index} * 4, value);
}

}  // namespace machine
