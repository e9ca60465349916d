// A tiny guest for tests: a stack block, a code block from hex bytes at
// 0x401000, data blocks, registers set directly on machine::state, then a
// few steps or a run until an address, and the state or the error message.
//
//   class MovTest : public guest::GuestTest {};
//   TEST_F(MovTest, LoadsFromStack) {
//       guest::loadCode("8B 44 24 04");             // mov eax, [esp+4]
//       machine::state.esp.v -= 8;
//       machine::writeMemory32(false, machine::Addr{machine::state.esp.v + 4}, {0x1234});
//       guest::step();
//       EXPECT_EQ(machine::state.eax.v, 0x1234u);
//       EXPECT_EQ(guest::flags(), "");
//   }
//
// Blocks must be added in ascending address order (the stack at 0x100000
// comes first, then code at 0x401000, then data above it).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "guestLayout.h"
#include "machine/binding.h"
#include "machine/executer.h"
#include "machine/machineState.h"
#include "types.h"

namespace guest {

using machine::Addr;

constexpr Addr stackAddress{guestLayout::stackStart};
constexpr uint32_t defaultStackSize = guestLayout::stackSize;
constexpr Addr codeAddress{guestLayout::codeStart};
constexpr Addr dataAddress{guestLayout::dataStart};

// "8B 44 24 08" or "8B442408" -> bytes. Blanks are ignored.
inline std::vector<uint8_t> hexBytes(std::string_view hex) {
    auto nibble = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    std::vector<uint8_t> bytes;
    int high = -1;
    for (char c : hex) {
        if (c == ' ' || c == '\n' || c == '\t') continue;
        int value = nibble(c);
        if (value < 0) throw std::invalid_argument("bad hex digit in \"" + std::string(hex) + "\"");
        if (high < 0) {
            high = value;
        } else {
            bytes.push_back(static_cast<uint8_t>(high * 16 + value));
            high = -1;
        }
    }
    if (high >= 0) throw std::invalid_argument("odd number of hex digits");
    return bytes;
}

inline void requireAscending(Addr at) {
    const auto& blocks = machine::memoryBlocks();
    if (!blocks.empty() && uint64_t{at.v} < uint64_t{blocks.back().start.v} + blocks.back().size)
        throw std::logic_error("guest blocks must be added in ascending address order");
}

// A fresh machine: every block, binding and flag forgotten, then a zeroed
// stack block at 0x100000 with esp at its end.
inline void resetGuest(uint32_t stackSize = defaultStackSize) {
    machine::resetMachineForTests();
    machine::addMemoryBlock(stackAddress, std::vector<uint8_t>(stackSize), false);
    machine::state.esp = machine::Val32{stackAddress.v + stackSize};
}

// The code block (the only memory instructions are fetched from); eip = at.
inline Addr loadCode(std::string_view hex, Addr at = codeAddress) {
    requireAscending(at);
    machine::addMemoryBlock(at, hexBytes(hex), true);
    machine::state.eip = at;
    return at;
}

inline Addr addData(Addr at, const std::vector<uint8_t>& bytes) {
    requireAscending(at);
    machine::addMemoryBlock(at, bytes, false);
    return at;
}
inline Addr addData(Addr at, std::string_view hex) { return addData(at, hexBytes(hex)); }
inline Addr addZeroedData(Addr at, uint32_t size) {
    return addData(at, std::vector<uint8_t>(size));
}

// n guest bytes from address, as a copy (for comparing with hexBytes).
inline std::vector<uint8_t> bytesAt(Addr address, uint32_t n) {
    std::span<uint8_t> view = machine::hostSlice(address, n);
    return {view.begin(), view.end()};
}

// Executes n instructions; bound handlers are not consulted.
inline void step(int n = 1) {
    for (int i = 0; i < n; ++i) machine::executeInstruction();
}

// Steps like the run loop (a bound handler runs instead of the instruction)
// until eip == stop, at most maxSteps; returns the number of steps taken.
inline int runUntil(Addr stop, int maxSteps = 100000) {
    int steps = 0;
    while (machine::state.eip != stop && steps < maxSteps) {
        const auto& handlers = machine::getHandlers();
        auto found = handlers.find(machine::state.eip.v);
        if (found != handlers.end() && found->second != nullptr)
            found->second();
        else
            machine::executeInstruction();
        ++steps;
    }
    if (machine::state.eip != stop) ADD_FAILURE() << "guest did not reach 0x" << std::hex << stop.v;
    return steps;
}

// The message of the ProgramException that f() raises, or "" if it returns.
template <class F>
std::string errorOf(F&& f) {
    try {
        f();
    } catch (const app::ProgramException& e) {
        return e.message();
    }
    return "";
}

// The set flags, "CF DF OF SF ZF" order, separated by one blank; "" if none.
inline std::string flags() {
    std::string text;
    auto add = [&](bool set, const char* name) {
        if (!set) return;
        if (!text.empty()) text += ' ';
        text += name;
    };
    add(machine::state.cf, "CF");
    add(machine::state.df, "DF");
    add(machine::state.of, "OF");
    add(machine::state.sf, "SF");
    add(machine::state.zf, "ZF");
    return text;
}

// Sets the flags from a string like "CF ZF" (all others cleared).
inline void setFlags(std::string_view names) {
    auto has = [&](std::string_view name) { return names.find(name) != std::string_view::npos; };
    machine::state.cf = has("CF");
    machine::state.df = has("DF");
    machine::state.of = has("OF");
    machine::state.sf = has("SF");
    machine::state.zf = has("ZF");
}

// A test whose every case starts on a fresh machine (resetGuest) and leaves
// nothing behind for the next.
class GuestTest : public ::testing::Test {
protected:
    void SetUp() override { resetGuest(); }
    void TearDown() override { machine::resetMachineForTests(); }
};

}  // namespace guest
