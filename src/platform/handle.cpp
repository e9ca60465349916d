#include "platform/handle.h"

#include <unordered_map>

namespace platform {

using machine::state;

namespace {
uint32_t nextHandle = 1;
// Bound rows by guest address, so a handler's return finds its own pops.
std::unordered_map<uint32_t, FunctionRow> functionRows;
std::unordered_map<uint32_t, HookRow> hookRows;
}  // namespace

Handle newHandle() { return Handle{nextHandle++}; }

// ---- Emulated functions ------------------------------------------------------

void registerFunctions(std::span<const FunctionRow> rows) {
    for (const FunctionRow& row : rows) {
        machine::bindFunction(row.dll, row.name, Addr{row.address}, row.handler);
        functionRows[row.address] = row;
    }
}

const FunctionRow& functionRowAt(Addr address) {
    auto found = functionRows.find(address.v);
    if (found == functionRows.end())
        throw app::RangeError(app::format("No emulated function at 0x%x", address.v));
    return found->second;
}

Addr argSlot(uint32_t k) { return Addr{state.esp.v + 4u * k}; }
Val32 arg32(uint32_t k) { return machine::readMemory32(false, argSlot(k)); }
Addr argAddr(uint32_t k) { return app::toAddr(arg32(k)); }
Handle argHandle(uint32_t k) { return Handle::fromValue(arg32(k)); }
int32_t argInt32(uint32_t k) { return static_cast<int32_t>(arg32(k).v); }

Val32 ArgumentView::arg32(uint32_t k) const {
    if (k < 1 || k > count)
        throw app::RangeError(app::format("Argument %u of a view of %u", k, count));
    return Val32{machine::loadLe32(bytes + 4u * (k - 1))};
}

ArgumentView viewArguments(uint32_t n) {
    Addr first = argSlot(1);
    switch (n) {
        case 3: return {machine::hostPointer12(first), n};
        case 5: return {machine::hostPointer20(first), n};
        case 6: return {machine::hostPointer24(first), n};
        case 12: return {machine::hostPointer48(first), n};
        default: throw app::RangeError(app::format("No argument view of %u dwords", n));
    }
}

void returnFromFunction() {
    uint32_t pops = functionRowAt(state.eip).pops;
    machine::returnToGuest();
    state.esp.v += pops;
}

void returnFromFunction(Val32 eax) {
    uint32_t pops = functionRowAt(state.eip).pops;
    machine::readMemory32(false, app::toAddr(state.esp));  // the return address must be there
    state.eax = eax;
    machine::returnToGuest();
    state.esp.v += pops;
}

// ---- Hooks -------------------------------------------------------------------

void registerHooks(std::span<const HookRow> rows) {
    for (const HookRow& row : rows) {
        machine::bindHook(Addr{row.address}, row.handler);
        hookRows[row.address] = row;
    }
}

const HookRow& hookRowAt(Addr address) {
    auto found = hookRows.find(address.v);
    if (found == hookRows.end())
        throw app::RangeError(app::format("No hook at 0x%x", address.v));
    return found->second;
}

machine::WordView hookArgs() {
    return machine::hostSliceUint(app::toAddr(state.esp), hookRowAt(state.eip).slots);
}

ArgumentView hookArguments() {
    const machine::WordView slots = hookArgs();
    if (slots.count == 0)
        throw app::RangeError(app::format("The hook at 0x%x has no arguments", state.eip.v));
    return ArgumentView{slots.bytes + 4, slots.count - 1};
}

void returnFromHook() { machine::returnToGuest(); }

void continueAfter(uint32_t length) { state.eip.v += length; }
void jumpTo(Addr target) { state.eip = target; }

uint32_t readDword(Addr address) { return machine::readMemory32(false, address).v; }

// ---- The libraries' objects --------------------------------------------------

// The global is viewed before the block is made, so a bad global changes
// nothing.
void createLibraryObject(Addr& object, Addr global, uint32_t size, const char* alreadyCreated) {
    if (!object.isNull()) throw app::ProgramException(alreadyCreated);
    uint8_t* globalBytes = machine::hostPointer4(global);
    object = machine::allocate(size);
    machine::storeLe32(globalBytes, object.v);
}

void releaseLibraryObject(Addr& object, Addr global, const char* notCreated) {
    if (object.isNull()) throw app::ProgramException(notCreated);
    uint8_t* globalBytes = machine::hostPointer4(global);
    machine::free(object);
    object = Addr{0};
    machine::storeLe32(globalBytes, 0);
}

void resetHandlesForTests() {
    nextHandle = 1;
    functionRows.clear();
    hookRows.clear();
}

}  // namespace platform
