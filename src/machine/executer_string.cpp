// String instructions: MOVSB and MOVSD (alone or with 0xF3) and REPNZ SCASB.
// They never go through the FS segment.
#include <cstring>

#include "machine/executer_internal.h"

namespace machine {

namespace {

template <class V> V readPlain(Addr address);
template <> Val8 readPlain<Val8>(Addr address) { return readMemory8(false, address); }
template <> Val32 readPlain<Val32>(Addr address) { return readMemory32(false, address); }

template <class V> void writePlain(Addr address, V value);
template <> void writePlain<Val8>(Addr address, Val8 value) { writeMemory8(false, address, value); }
template <> void writePlain<Val32>(Addr address, Val32 value) { writeMemory32(false, address, value); }

// Copies element by element in the direction of DF; with 0xF3 the count is
// ECX, which is cleared before the first element. Each element is its own
// lookup, so a copy may cross blocks and an overlap repeats the pattern.
template <class V> void copyElements() {
    constexpr uint32_t size = sizeof(Raw<V>);
    uint32_t count = 1;
    if (repPrefix) {
        count = state.ecx.v;
        state.ecx.v = 0;
    }
    uint32_t step = state.df ? 0u - size : size;
    for (uint32_t i = 0; i < count; ++i) {
        V value = readPlain<V>(Addr{state.esi.v});
        state.esi.v += step;
        writePlain<V>(Addr{state.edi.v}, value);
        state.edi.v += step;
    }
    repPrefix = false;
}

}  // namespace

// A4: MOVSB
void executeMovsb() { copyElements<Val8>(); }

// A5: MOVSD
void executeMovsd() { copyElements<Val32>(); }

// F2 AE: REPNZ SCASB, the one scan. Compares AL with the bytes from EDI until
// one equals it or ECX runs out; with ECX not 0 the flags are those of CMP AL
// with the last byte compared. A scan that reaches the end of EDI's block
// without a match fails at the first byte outside instead of reading on, and
// then changes nothing.
void executeRepnzScasb() {
    if (fetchByte() != 0xAE)
        throw app::ProgramException(app::format(
            "Instruction with RepNZ prefix not supported at address 0x%x", instructionStart.v));
    if (state.df)
        throw app::ProgramException("ScaSB instruction not supported when direction flag is set");

    uint32_t count = state.ecx.v;
    // The end test wraps, so ECX = 0xFFFFFFFF is accepted wherever EDI lies
    // in a block, and a count near 2^32 even for an EDI a little past the
    // block's end; the scan itself stays inside the block. Such a range is
    // also accepted by a block that ends where EDI's block starts: the scan
    // belongs to the block that holds EDI.
    const MemoryBlock* block = &findBlock(count, Addr{state.edi.v});
    bool wraps = count > ~state.edi.v;
    if (wraps && state.edi.v - block->start.v >= block->size && isValidAddress(Addr{state.edi.v}))
        block = &findBlock(1, Addr{state.edi.v});
    uint32_t offset = state.edi.v - block->start.v;
    if (offset > block->size) offset = block->size;  // nothing to scan
    uint32_t available = block->size - offset;
    const uint8_t* bytes = block->data + offset;
    Val8 al = getReg8(EAX);

    uint32_t limit = count < available ? count : available;
    const void* hit = limit > 0 ? std::memchr(bytes, al.v, limit) : nullptr;
    bool found = hit != nullptr;
    uint32_t scanned = found ? static_cast<uint32_t>(static_cast<const uint8_t*>(hit) - bytes) + 1 : limit;
    // Refused as a whole, like a range that no block holds: nothing changes.
    if (!found && scanned < count)
        throw app::ProgramException(app::format("Attempted to lookup invalid memory address: 0x%x  size: %d",
                                                state.edi.v + scanned, 1));
    if (scanned > 0) coreSub(al, Val8{bytes[scanned - 1]});
    state.edi.v += scanned;
    state.ecx.v -= scanned;
}

}  // namespace machine
