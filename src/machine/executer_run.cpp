// The run loop: callGuest, its flat handler tables, and the guard that keeps
// the guest's x87 state out of the way of native handlers.
#include <algorithm>
#include <vector>

#include "machine/binding.h"
#include "machine/executer.h"
#include "machine/machineState.h"

namespace machine {

namespace {

// ---- Flat handler tables --------------------------------------------------
// Bindings are made before the guest runs, so the handler map is flattened
// when a run starts: one entry per byte of the code block from its start up
// to the highest handler bound in it, one per reserved address of the form
// 0xF000M0NN; the map itself answers only for the rare handler bound anywhere
// else. The hooks lie at fixed addresses, so the code table's size is theirs,
// not the section size that the file's header claims. Only native code can
// bind, so the tables are checked again after every handler, never per
// instruction.

constexpr uint32_t reservedPatternMask = 0xFFFF0F00u;
constexpr uint32_t reservedPattern = 0xF0000000u;

uint32_t reservedIndex(uint32_t address) { return ((address >> 4) & 0xF00u) | (address & 0xFFu); }

std::vector<NativeHandler> codeHandlers;  // indexed by address - codeHandlersStart
uint32_t codeHandlersStart = 0;
uint32_t codeHandlersSize = 0;
std::vector<NativeHandler> reservedHandlers(4096, nullptr);
bool haveStrayHandlers = false;

bool tablesBuilt = false;
uint32_t tablesVersion = 0;
const uint8_t* tablesCodeBytes = nullptr;
uint32_t tablesCodeStart = 0;
uint32_t tablesCodeSize = 0;

// Past the highest handler in the code block, up to one past it.
uint32_t boundCodeSpan(uint32_t codeStart, uint32_t codeSize) {
    uint32_t span = 0;
    for (const auto& entry : getHandlers()) {
        uint32_t offset = entry.first - codeStart;
        if (offset < codeSize) span = std::max(span, offset + 1);
    }
    return span;
}

void buildDispatchTables(const MemoryBlock* code) {
    codeHandlersStart = code != nullptr ? code->start.v : 0;
    codeHandlersSize = code != nullptr ? boundCodeSpan(code->start.v, code->size) : 0;
    codeHandlers = std::vector<NativeHandler>(codeHandlersSize, nullptr);
    reservedHandlers.assign(4096, nullptr);
    haveStrayHandlers = false;
    for (const auto& [address, handler] : getHandlers()) {
        uint32_t offset = address - codeHandlersStart;
        if (offset < codeHandlersSize)
            codeHandlers[offset] = handler;
        else if ((address & reservedPatternMask) == reservedPattern)
            reservedHandlers[reservedIndex(address)] = handler;
        else
            haveStrayHandlers = true;
    }
}

void prepareDispatchTables() {
    const MemoryBlock* code = codeBlock();
    const uint8_t* bytes = code != nullptr ? code->data : nullptr;
    uint32_t start = code != nullptr ? code->start.v : 0;
    uint32_t size = code != nullptr ? code->size : 0;
    if (tablesBuilt && tablesVersion == bindingsVersion() && tablesCodeBytes == bytes &&
        tablesCodeStart == start && tablesCodeSize == size)
        return;
    buildDispatchTables(code);
    tablesBuilt = true;
    tablesVersion = bindingsVersion();
    tablesCodeBytes = bytes;
    tablesCodeStart = start;
    tablesCodeSize = size;
}

inline NativeHandler handlerAt(uint32_t address) {
    uint32_t offset = address - codeHandlersStart;
    if (offset < codeHandlersSize) return codeHandlers[offset];
    if ((address & reservedPatternMask) == reservedPattern)
        return reservedHandlers[reservedIndex(address)];
    if (!haveStrayHandlers) return nullptr;
    const auto& map = getHandlers();
    auto found = map.find(address);
    return found == map.end() ? nullptr : found->second;
}

// ---- The guest's x87 state around native code -----------------------------
// Between guest instructions the guest's x87 registers live in the host unit.
// Host library code (fmod, atan2, printing a double) may use and overflow that
// stack, so a handler runs on a clean unit: FNSAVE before (which also
// reinitialises the unit), FRSTOR after. A guest run nested inside a handler
// puts the guest's state back for its own steps and saves it again on return,
// so the nested code sees and changes the real guest state.

struct X87State {
    alignas(16) uint8_t bytes[108];
};

inline void saveX87(X87State& area) { asm volatile("fnsave %0" : "=m"(area.bytes) : : "memory"); }
inline void restoreX87(const X87State& area) {
    asm volatile("frstor %0" : : "m"(area.bytes) : "memory");
}

// The saved guest state of the innermost handler running, or nullptr while
// the guest itself holds the unit.
X87State* handlerX87 = nullptr;

struct HandlerX87Guard {
    X87State saved;
    X87State* outer;
    HandlerX87Guard() : outer(handlerX87) {
        saveX87(saved);
        handlerX87 = &saved;
    }
    ~HandlerX87Guard() {
        handlerX87 = outer;
        restoreX87(saved);
    }
    HandlerX87Guard(const HandlerX87Guard&) = delete;
    HandlerX87Guard& operator=(const HandlerX87Guard&) = delete;
};

struct NestedRunX87Guard {
    X87State* handlerState;
    NestedRunX87Guard() : handlerState(handlerX87) {
        if (handlerState == nullptr) return;
        restoreX87(*handlerState);
        handlerX87 = nullptr;
    }
    ~NestedRunX87Guard() {
        if (handlerState == nullptr) return;
        saveX87(*handlerState);
        handlerX87 = handlerState;
    }
    NestedRunX87Guard(const NestedRunX87Guard&) = delete;
    NestedRunX87Guard& operator=(const NestedRunX87Guard&) = delete;
};

void callNative(NativeHandler handler) {
    HandlerX87Guard guard;
    handler();
}

// ---- Nesting depth ----------------------------------------------------------
// Handlers that call back into the guest nest callGuest; a guest that keeps
// re-entering a hook would otherwise end on a host stack overflow, with no
// message. The count is kept per call, never per step, and unwinds with
// every exit, exceptions included.

uint32_t guestCallDepth = 0;

struct GuestCallDepthGuard {
    GuestCallDepthGuard() {
        if (guestCallDepth == maxGuestCallDepth)
            throw app::ProgramException(
                app::format("Guest calls nested deeper than %u levels", maxGuestCallDepth));
        ++guestCallDepth;
    }
    ~GuestCallDepthGuard() { --guestCallDepth; }
    GuestCallDepthGuard(const GuestCallDepthGuard&) = delete;
    GuestCallDepthGuard& operator=(const GuestCallDepthGuard&) = delete;
};

}  // namespace

uint32_t codeHandlerTableSizeForTests() {
    prepareDispatchTables();
    return codeHandlersSize;
}

void callGuest(Addr target) {
    GuestCallDepthGuard depth;
    Addr saved = state.eip;
    push32(Val32{guestReturnSentinel.v});
    state.eip = target;
    prepareDispatchTables();
    NestedRunX87Guard x87;
    for (;;) {
        uint32_t eip = state.eip.v;
        if (eip == guestReturnSentinel.v) break;
        if (state.exitRequested) break;
        if (NativeHandler handler = handlerAt(eip)) {
            callNative(handler);
            prepareDispatchTables();  // in case the handler bound something: cheap when not
        } else {
            executeInstruction();
        }
    }
    if (state.eip == guestReturnSentinel) state.eip = saved;
}

}  // namespace machine
