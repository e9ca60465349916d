// The guest heap: blocks of power-of-two capacity at ever higher addresses
// above the highest block added, reused by capacity once freed.
#include <cstring>
#include <map>
#include <set>
#include <vector>

#include "machine/machineState.h"
#include "machine/machineState_internal.h"

namespace machine {

namespace {

std::map<uint32_t, std::vector<int32_t>> freeLists;  // capacity -> freed block indexes
std::set<int32_t> queuedForReuse;                    // every index in freeLists
Addr nextFreeAddress{0};

}  // namespace

// Unsigned: guest blocks lie below the mapped block, so a block end is never
// past 2^32 and the highest end is the numerically largest, however far above
// the block before it (a signed difference would miss one 2 GiB away).
void detail::noteBlockEnd(Addr end) {
    if (end.v > nextFreeAddress.v) nextFreeAddress = end;
}

void detail::resetHeap() {
    freeLists.clear();
    queuedForReuse.clear();
    nextFreeAddress = Addr{0};
}

Addr allocate(uint32_t size) {
    if (size > 0x10000000u) throw app::ProgramException("Size too large to allocate");
    uint32_t capacity = 16;
    while (capacity < size) capacity *= 2;

    auto reusable = freeLists.find(capacity);
    if (reusable != freeLists.end() && !reusable->second.empty()) {
        int32_t index = reusable->second.back();  // last freed, first reused
        reusable->second.pop_back();
        queuedForReuse.erase(index);
        MemoryBlock& block = detail::blocks[static_cast<size_t>(index)];
        block.size = size;
        // A freed code block keeps fetching right.
        if (index == detail::codeIndex) detail::updateCodeWindow();
        std::memset(block.data, 0, size);
        return block.start;
    }

    // A new block never grows into the mapped block's address or the
    // reserved range above it.
    Addr start = nextFreeAddress;
    if (uint64_t{start.v} + capacity > mappedMemoryAddress.v)
        throw app::ProgramException("Out of guest memory");
    detail::appendBlock(start, capacity, size);
    nextFreeAddress = app::addrAdd(start, capacity + 4);
    nextFreeAddress.alignUp();
    return start;
}

Addr allocateCopy(std::span<const uint8_t> data) {
    if (data.size() > 0xFFFFFFFFu) throw app::RangeError("allocation larger than 4 GiB");
    uint32_t length = static_cast<uint32_t>(data.size());
    Addr address = allocate(length);
    findBlock(1, address);  // an empty copy fails here: its block has no first byte
    std::memcpy(hostSlice(address, length).data(), data.data(), length);
    return address;
}

void free(Addr address) {
    // The block that starts here; a heap block may begin exactly where the
    // block before it ends, and the search would find that earlier block.
    const std::vector<MemoryBlock>& blocks = detail::blocks;
    int32_t index = -1;
    for (size_t i = blocks.size(); i-- > 0;) {
        if (blocks[i].start == address) {
            index = static_cast<int32_t>(i);
            break;
        }
    }
    if (index < 0) index = findBlockIndex(address);
    // A block queued twice would be handed out twice.
    if (!queuedForReuse.insert(index).second) return;
    freeLists[blocks[static_cast<size_t>(index)].capacity].push_back(index);
}

}  // namespace machine
