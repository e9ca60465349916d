// Calling one native handler as the guest would, in native tests.
//
//     guestCall::layOutGuest();
//     platform::registerPlatformFunctions();
//     guestCall::Result r = guestCall::call(0xF0001001, {});   // GetACP
//     EXPECT_EQ(r.eax, 1252u);
//     EXPECT_EQ(r.espChange, 4u);
//
// call() pushes the arguments right to left and a return address, sets eip
// to the handler's address and runs the handler bound there once, as the
// run loop would. callRefused() does the same for a call that must be
// refused and tells whether the refusal left registers and memory alone.
// The machine side comes from guestFixture.h (guest::hexBytes, errorOf, ...).
#pragma once

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "guestFixture.h"
#include "guestLayout.h"
#include "machine/binding.h"
#include "machine/machineState.h"
#include "types.h"

namespace guestCall {

// The bare guest of layOutGuest: a stack block, one code block (filled with
// 0xCC, which no instruction decodes) and one data block; the heap follows.
using guestLayout::stackSize;
using guestLayout::stackStart;
using guestLayout::stackTop;
using guestLayout::codeStart;
constexpr uint32_t codeSize = guestLayout::callCodeSize;
constexpr uint32_t dataStart = guestLayout::callDataStart;
constexpr uint32_t dataSize = guestLayout::callDataSize;
constexpr uint32_t heapStart = guestLayout::callHeapStart;
// Where call() returns to: a code address no handler is bound at.
constexpr uint32_t returnAddress = 0x401234;

// Forgets the machine (blocks, registers, bindings) and lays out the bare
// guest with esp at the stack's top.
inline void layOutGuest() {
    guest::resetGuest(stackSize);
    machine::addMemoryBlock(app::Addr{codeStart}, std::vector<uint8_t>(codeSize, 0xCC), true);
    guest::addZeroedData(app::Addr{dataStart}, dataSize);
}

// ---- Guest memory helpers ------------------------------------------------------

inline void writeBytes(uint32_t address, const std::vector<uint8_t>& bytes) {
    if (bytes.empty()) return;
    std::span<uint8_t> view = machine::hostSlice(app::Addr{address}, static_cast<uint32_t>(bytes.size()));
    std::memcpy(view.data(), bytes.data(), bytes.size());
}
// The text and its zero byte.
inline void writeString(uint32_t address, const std::string& text) {
    std::vector<uint8_t> bytes(text.begin(), text.end());
    bytes.push_back(0);
    writeBytes(address, bytes);
}
inline std::vector<uint8_t> readBytes(uint32_t address, uint32_t n) {
    std::span<uint8_t> view = machine::hostSlice(app::Addr{address}, n);
    return {view.begin(), view.end()};
}
inline void writeDword(uint32_t address, uint32_t value) {
    machine::writeMemory32(false, app::Addr{address}, app::Val32{value});
}
inline uint32_t readDword(uint32_t address) {
    return machine::readMemory32(false, app::Addr{address}).v;
}

// ---- Running one handler -------------------------------------------------------

struct Result {
    uint32_t eax;
    uint32_t espChange;  // esp after minus esp at the handler's start (the return address pushed)
    uint32_t eip;
};

// Runs the handler bound at eip once (a RangeError if none is bound).
inline void runHandlerAt(uint32_t address) {
    const auto& handlers = machine::getHandlers();
    auto found = handlers.find(address);
    if (found == handlers.end())
        throw app::RangeError(app::format("No handler bound at 0x%x", address));
    machine::state.eip = app::Addr{address};
    found->second();
}

// Pushes args (the last first) and returnAddress; esp then points at it.
inline void pushCall(std::initializer_list<uint32_t> args, uint32_t ret = returnAddress) {
    std::vector<uint32_t> values(args);
    for (auto it = values.rbegin(); it != values.rend(); ++it) machine::push32(app::Val32{*it});
    machine::push32(app::Val32{ret});
}

inline Result call(uint32_t address, std::initializer_list<uint32_t> args) {
    pushCall(args);
    uint32_t espAtEntry = machine::state.esp.v;
    runHandlerAt(address);
    return {machine::state.eax.v, machine::state.esp.v - espAtEntry, machine::state.eip.v};
}

// Registers, flags and the bytes of every memory block.
struct Snapshot {
    uint32_t eip;
    uint32_t regs[8];
    bool flags[5];
    bool exitRequested;
    std::vector<std::vector<uint8_t>> blocks;
    bool sameRegisters(const Snapshot& o) const {
        return eip == o.eip && std::memcmp(regs, o.regs, sizeof regs) == 0 &&
               std::memcmp(flags, o.flags, sizeof flags) == 0 && exitRequested == o.exitRequested;
    }
};

inline Snapshot snapshot() {
    const machine::MachineState& s = machine::state;
    Snapshot shot{s.eip.v, {}, {s.cf, s.df, s.of, s.sf, s.zf}, s.exitRequested, {}};
    for (int i = 0; i < 8; ++i) shot.regs[i] = s.reg[i].v;
    for (const machine::MemoryBlock& block : machine::memoryBlocks())
        shot.blocks.emplace_back(block.data, block.data + block.capacity);
    return shot;
}

struct Refusal {
    std::string message;  // empty when no ProgramException came
    bool registersUnchanged;
    bool memoryUnchanged;
};

// A call that must be refused: the ProgramException's message, and whether
// registers (eip = the handler's address, esp at the return address) and
// every block's bytes are as they were when the handler started.
inline Refusal callRefused(uint32_t address, std::initializer_list<uint32_t> args) {
    pushCall(args);
    machine::state.eip = app::Addr{address};
    Snapshot before = snapshot();
    std::string message;
    try {
        runHandlerAt(address);
    } catch (const app::ProgramException& e) {
        message = e.message();
    }
    Snapshot after = snapshot();
    return {message, before.sameRegisters(after), before.blocks == after.blocks};
}

}  // namespace guestCall
