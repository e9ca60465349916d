// The guest machine's state and memory.
//
// One plain record of registers and flags, and a short list of memory blocks
// that make up the guest's 32-bit address space. All of it is module state of
// the one thread; every guest failure is a ProgramException.
//
// Defined by job in machineState_<job>.cpp: registers (the state record and
// the register views), memory (blocks, search, the TEB, the mapped block,
// host views), heap, image (set-up from a program, import slots, the test
// reset) and dump.
#pragma once

#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "peloader/program.h"
#include "types.h"

namespace machine {

using app::Addr;
using app::Val8;
using app::Val16;
using app::Val32;
using app::Val64;

// Register numbers of the x86 encoding.
enum Reg : uint32_t { EAX = 0, ECX = 1, EDX = 2, EBX = 3, ESP = 4, EBP = 5, ESI = 6, EDI = 7 };

struct MachineState {
    Addr eip;
    // The general registers twice over: by the encoding's register number and
    // by name. A struct without a name inside a union is a GNU extension (that
    // g++ and MinGW define), marked as one so that -Wpedantic stays quiet.
    union {
        Val32 reg[8];
        __extension__ struct { Val32 eax, ecx, edx, ebx, esp, ebp, esi, edi; };
    };
    bool cf, df, of, sf, zf;
    uint16_t fpuControlWord;
    bool exitRequested;    // the guest asked to end, or a quit was seen
    bool executionFailed;  // a ProgramException left the guest run
};

constexpr uint16_t initialFpuControlWord = 0x033F;

extern MachineState state;

// AL..BH: numbers 0-3 are bits 0-7 of registers 0-3, numbers 4-7 bits 8-15.
Val8 getReg8(uint32_t index);
void setReg8(uint32_t index, Val8 value);
Val16 getReg16(uint32_t index);
void setReg16(uint32_t index, Val16 value);

// ---- Memory blocks --------------------------------------------------------

constexpr Addr stackBase{peloader::stackStart};
constexpr Addr mappedMemoryAddress{peloader::mappedMemoryStart};

struct MemoryBlock {
    Addr start;
    uint8_t* data;      // the block's bytes; never move while the block exists
    uint32_t capacity;  // length of data
    uint32_t size;      // accessible bytes from start (heap: the size last asked for)
};

void addMemoryBlock(Addr start, std::span<const uint8_t> data, bool isCode);
MemoryBlock& findBlock(uint32_t length, Addr address);
int32_t findBlockIndex(Addr address);
bool isValidAddress(Addr address);
const std::vector<MemoryBlock>& memoryBlocks();
// The block instructions are fetched from, or nullptr. Valid until a block is added.
const MemoryBlock* codeBlock();

// (Defined inline at the end of this header: they are the interpreter's hot path.)
inline Val8 readMemory8(bool fs, Addr address);
inline void writeMemory8(bool fs, Addr address, Val8 value);
inline Val16 readMemory16(bool fs, Addr address);
inline void writeMemory16(bool fs, Addr address, Val16 value);
inline Val32 readMemory32(bool fs, Addr address);
inline void writeMemory32(bool fs, Addr address, Val32 value);

// Instruction fetch at eip from the code block, advancing eip.
inline Val8 fetchCode8();
inline Val16 fetchCode16();
inline Val32 fetchCode32();

inline void push32(Val32 value);
inline Val32 pop32();
// eip = the dword at esp; esp += 4. Argument bytes stay.
inline void returnToGuest();

// ---- Heap and special blocks ----------------------------------------------

// The heap grows upward from the highest block added and ends below
// mappedMemoryAddress: a new block that would pass it is refused with
// "Out of guest memory", before any change.
Addr allocate(uint32_t size);
Addr allocateCopy(std::span<const uint8_t> data);
// Queues the block for reuse; a block already queued stays queued once.
void free(Addr address);
void allocateTEB(uint32_t size);
Addr addMappedMemory(std::span<uint8_t> hostData);
void removeMappedMemory(Addr address);

// ---- Host views -------------------------------------------------------------
// A view points at guest bytes inside one block; writing through it changes
// guest memory. A range that would pass its block's end is refused.

uint8_t* hostPointer4(Addr address);
uint8_t* hostPointer8(Addr address);
uint8_t* hostPointer10(Addr address);
uint8_t* hostPointer12(Addr address);
uint8_t* hostPointer16(Addr address);
uint8_t* hostPointer20(Addr address);
uint8_t* hostPointer24(Addr address);
uint8_t* hostPointer32(Addr address);
uint8_t* hostPointer48(Addr address);
std::span<uint8_t> hostSlice(Addr address, uint32_t n);
std::span<uint8_t> hostSliceToEnd(Addr address);

// n little-endian guest dwords, read and written one at a time (guest
// addresses need not be aligned). An index past the view is a RangeError.
struct WordView {
    uint8_t* bytes;
    uint32_t count;
    uint32_t get(uint32_t index) const;
    void set(uint32_t index, uint32_t value) const;
};
WordView hostSliceUint(Addr address, uint32_t n);

inline uint32_t loadLe32(const uint8_t* p) { uint32_t v; std::memcpy(&v, p, 4); return v; }
inline void storeLe32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }
inline uint16_t loadLe16(const uint8_t* p) { uint16_t v; std::memcpy(&v, p, 2); return v; }
inline void storeLe16(uint8_t* p, uint16_t v) { std::memcpy(p, &v, 2); }

// ---- Guest image and dump -------------------------------------------------

void initialiseMachine(const peloader::Program& program);
void bindProgramImports(const peloader::Program& program);
void dumpState();
void dumpMemory(Addr address);

// Test hook: forgets every block, the heap, the TEB, the mapped block, the
// state, the bindings and the decoder's prefix flags.
void resetMachineForTests();

// ---- Fast paths -------------------------------------------------------------
// The accesses above, inlined: a hit in the last block found, or a fetch
// inside the code block, costs a subtraction and two compares. Everything
// else (misses, the FS segment, every error) goes out of line, with exactly
// the results and messages of the block search.

namespace fastPath {

// The last block the search found (an empty block when none is cached). It
// is only ever a block for which a non-empty, non-wrapping range inside it
// gives the block the full search would give.
extern MemoryBlock* lastHit;

// The code block as fetch sees it; size 0 when there is none.
struct CodeWindow {
    const uint8_t* bytes;
    uint32_t start;
    uint32_t size;
};
extern CodeWindow code;

uint8_t* searchedBytes(uint32_t length, Addr address);  // search, then the end test
uint8_t* fsBytes(Addr offset);                          // the TEB, with its two errors
[[noreturn]] void failFetch();                          // "Code memory block ..." / "Unable ..."
[[noreturn]] void failFsWidth(bool write, int bits);
[[noreturn]] void failStackOverflow();

// The host bytes of [address, address + length) inside one block.
inline uint8_t* bytes(uint32_t length, Addr address) {
    const MemoryBlock* block = lastHit;
    uint32_t offset = address.v - block->start.v;
    if (offset < block->size && length <= block->size - offset) return block->data + offset;
    return searchedBytes(length, address);
}

inline const uint8_t* codeBytes(uint32_t n) {
    uint32_t offset = state.eip.v - code.start;
    if (offset >= code.size || code.size - offset < n) failFetch();
    return code.bytes + offset;
}

}  // namespace fastPath

inline Val8 readMemory8(bool fs, Addr address) {
    if (fs) fastPath::failFsWidth(false, 8);
    return Val8{*fastPath::bytes(1, address)};
}
inline void writeMemory8(bool fs, Addr address, Val8 value) {
    if (fs) fastPath::failFsWidth(true, 8);
    *fastPath::bytes(1, address) = value.v;
}
inline Val16 readMemory16(bool fs, Addr address) {
    if (fs) fastPath::failFsWidth(false, 16);
    return Val16{loadLe16(fastPath::bytes(2, address))};
}
inline void writeMemory16(bool fs, Addr address, Val16 value) {
    if (fs) fastPath::failFsWidth(true, 16);
    storeLe16(fastPath::bytes(2, address), value.v);
}
inline Val32 readMemory32(bool fs, Addr address) {
    return Val32{loadLe32(fs ? fastPath::fsBytes(address) : fastPath::bytes(4, address))};
}
inline void writeMemory32(bool fs, Addr address, Val32 value) {
    storeLe32(fs ? fastPath::fsBytes(address) : fastPath::bytes(4, address), value.v);
}

inline Val8 fetchCode8() {
    Val8 value{*fastPath::codeBytes(1)};
    state.eip.v += 1;
    return value;
}
inline Val16 fetchCode16() {
    Val16 value{loadLe16(fastPath::codeBytes(2))};
    state.eip.v += 2;
    return value;
}
inline Val32 fetchCode32() {
    Val32 value{loadLe32(fastPath::codeBytes(4))};
    state.eip.v += 4;
    return value;
}

inline void push32(Val32 value) {
    state.esp.v -= 4;  // stays lowered when the push fails
    if (static_cast<int32_t>(state.esp.v - stackBase.v) < 0) fastPath::failStackOverflow();
    storeLe32(fastPath::bytes(4, app::toAddr(state.esp)), value.v);
}
inline Val32 pop32() {
    Val32 value{loadLe32(fastPath::bytes(4, app::toAddr(state.esp)))};
    state.esp.v += 4;
    return value;
}
inline void returnToGuest() {
    state.eip = Addr{loadLe32(fastPath::bytes(4, app::toAddr(state.esp)))};
    state.esp.v += 4;
}

}  // namespace machine
