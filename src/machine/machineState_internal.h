// Shared by the files of the machine state (machineState_*.cpp): the block
// list that memory, heap and image set-up all work on, and the reset of each
// file's own state. Nothing outside those files includes it.
#pragma once

#include <cstdint>
#include <vector>

#include "machine/machineState.h"

namespace machine::detail {

// The blocks of the guest's address space, in the order they were added
// (machineState_memory.cpp).
extern std::vector<MemoryBlock> blocks;
extern int32_t codeIndex;  // the code block's index, -1 when there is none

// Appends a zeroed block of capacity bytes whose first size bytes are
// accessible; the bytes never move.
MemoryBlock& appendBlock(Addr start, uint32_t capacity, uint32_t size);
// addMemoryBlock without the copy: a new block of length zero bytes.
MemoryBlock& addZeroedBlock(Addr start, uint32_t length, bool isCode);
// Fetch follows the code block's size, which the heap may change.
void updateCodeWindow();

// The heap starts above every block added (machineState_heap.cpp).
void noteBlockEnd(Addr end);

void resetRegisters();
void resetMemory();
void resetHeap();

}  // namespace machine::detail
