// Handles, and the protocols every native handler of the platform follows.
//
// A Handle is an identity handed to the guest; all of them come from one
// counter that starts at 1 and is never reset, so the start-up handles have
// fixed values (1 program module, 2 cursor, 3 icon, 4 back-surface DC,
// 5 stock object) and the first one made while the guest runs is 6.
//
// Three kinds of handler, each with its own protocol:
//
//  * Emulated function (a Windows import, stdcall): bound from a table of
//    FunctionRow by registerFunctions. The handler reads all its arguments
//    (arg32, argAddr, argHandle, stringArg of string.h, or one ArgumentView),
//    then checks them (a refusal throws before any effect), acts, and ends
//    with returnFromFunction, which pops the return address and the row's
//    argument bytes. Example:
//
//        void GetFileType() {
//            Handle file = argHandle(1);
//            if (!file.isNull()) throw ProgramException("Unsupported argument");
//            returnFromFunction(0u);  // eax = 0; esp += 4 + 4 from the row
//        }
//        constexpr FunctionRow rows[] = {
//            {"kernel32.dll", "GetFileType", 0xF0001005, 4, GetFileType}, ...};
//        registerFunctions(rows);
//
//  * Function hook (a routine of the game's own libraries, cdecl): bound from
//    a table of HookRow by registerHooks. hookArguments() views the row's
//    slots at esp (slot 0 the return address, slot k argument k) and reads
//    argument k like an emulated function's ArgumentView; the handler never
//    writes eax and ends with returnFromHook, which leaves the arguments to
//    the caller. A hook that calls back into the game pushes its arguments
//    with machine::push32, runs machine::callGuest, and adds 4 per argument
//    to esp itself.
//
//  * Inline hook (a stretch of code inside a routine): also a HookRow, with
//    slots 0. It works on registers and memory and moves eip itself, with
//    continueAfter(length) or jumpTo(target).
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "machine/binding.h"
#include "machine/machineState.h"
#include "types.h"

namespace platform {

using app::Addr;
using app::Val32;

// ---- Handles ---------------------------------------------------------------

struct Handle {
    uint32_t value = 0;

    bool isNull() const { return value == 0; }
    Val32 toValue() const { return Val32{value}; }
    static Handle fromValue(Val32 v) { return Handle{v.v}; }
    friend bool operator==(Handle, Handle) = default;
};

// A handle with the counter's value; the counter then grows by 1 (wrapping).
Handle newHandle();

// ---- Emulated functions (stdcall) ------------------------------------------

// One emulated function: its DLL (lower case), its exact export name, its
// reserved address 0xF000M0NN, and the argument bytes it removes.
struct FunctionRow {
    const char* dll;
    const char* name;
    uint32_t address;
    uint32_t pops;
    machine::NativeHandler handler;
};

// Binds every row with bindFunction, in table order.
void registerFunctions(std::span<const FunctionRow> rows);
// The row bound at an address (a RangeError if there is none).
const FunctionRow& functionRowAt(Addr address);

// Argument k (1, 2, ...) at esp + 4k, read one by one (never through FS).
Addr argSlot(uint32_t k);
Val32 arg32(uint32_t k);
Addr argAddr(uint32_t k);
Handle argHandle(uint32_t k);
int32_t argInt32(uint32_t k);
// (String arguments: stringArg in platform/string.h.)

// All n argument dwords through one view at esp + 4, so the whole run of
// arguments must lie in one block (n = 3, 5, 6 or 12: the 12, 20, 24 and
// 48-byte views).
struct ArgumentView {
    const uint8_t* bytes;
    uint32_t count;

    Val32 arg32(uint32_t k) const;  // k = 1 ... count
    Addr argAddr(uint32_t k) const { return app::toAddr(arg32(k)); }
    Handle argHandle(uint32_t k) const { return Handle::fromValue(arg32(k)); }
    int32_t argInt32(uint32_t k) const { return static_cast<int32_t>(arg32(k).v); }
};
ArgumentView viewArguments(uint32_t n);

// The end of every emulated function: eip = the return address, then esp
// moves past it and the argument bytes of the row bound at eip. The version
// with a value sets eax first; the return address is read before eax is
// written, so a bad stack changes nothing.
void returnFromFunction();
void returnFromFunction(Val32 eax);
inline void returnFromFunction(uint32_t eax) { returnFromFunction(Val32{eax}); }
inline void returnFromFunction(Addr eax) { returnFromFunction(Val32{eax.v}); }
inline void returnFromFunction(Handle eax) { returnFromFunction(eax.toValue()); }

// ---- Function hooks and inline hooks ---------------------------------------

// One hook: a name for readers and traces, its guest code address, the
// dwords its handler views at esp (return address included; 0 for an inline
// hook), and the handler.
struct HookRow {
    const char* name;
    uint32_t address;
    uint32_t slots;
    machine::NativeHandler handler;
};

// Binds every row with bindHook, in table order.
void registerHooks(std::span<const HookRow> rows);
const HookRow& hookRowAt(Addr address);

// The slots of the hook bound at eip, as one view at esp: get(0) is the
// return address, get(k) argument k.
machine::WordView hookArgs();
// The same view, its arguments read as an emulated function reads its own:
// arg32(k), argAddr(k), ... for k = 1 to slots - 1.
ArgumentView hookArguments();
// eip = the return address, esp += 4; the arguments stay for the caller.
void returnFromHook();

// Inline hooks: eip moves past the replaced stretch, or to a fixed target.
void continueAfter(uint32_t length);
void jumpTo(Addr target);

// A guest dword (not through FS).
uint32_t readDword(Addr address);

// ---- The libraries' objects --------------------------------------------------

// The draw object and the input object: a guest heap block of size bytes
// whose address the game also keeps in a global dword. Making one while it
// exists, or releasing it while it does not, is refused with the message.
void createLibraryObject(Addr& object, Addr global, uint32_t size, const char* alreadyCreated);
void releaseLibraryObject(Addr& object, Addr global, const char* notCreated);

// Test hook: restarts the handle counter at 1 and forgets the rows.
void resetHandlesForTests();

}  // namespace platform

template <>
struct std::hash<platform::Handle> {
    size_t operator()(platform::Handle h) const noexcept { return std::hash<uint32_t>{}(h.value); }
};
