#include "platform/window.h"

#include "engine/engine.h"
#include "machine/machineState.h"

namespace platform {

using app::ProgramException;

namespace {

bool windowClassRegistered = false;
Handle windowHandle;

constexpr uint32_t pmRemove = 1;
constexpr uint32_t wmQuit = 0x12;

bool isGuestWindow(Handle window) { return !window.isNull() && window == windowHandle; }

void RegisterClassExA() {
    arg32(1);  // the class record is not read
    if (windowClassRegistered)
        throw ProgramException("Registering multiple window classes is not supported");
    windowClassRegistered = true;
    returnFromFunction(newHandle());  // the class atom
}

void CreateWindowExA() {
    viewArguments(12);  // none of them is used
    if (!windowHandle.isNull()) throw ProgramException("Window already created");
    windowHandle = newHandle();
    returnFromFunction(windowHandle);
}

// The host window is the engine's alone: nothing is moved or shown.
void MoveWindow() {
    ArgumentView args = viewArguments(6);
    if (!isGuestWindow(args.argHandle(1))) throw ProgramException("Unsupported argument");
    returnFromFunction(0u);
}

void ShowWindow() {
    Handle window = argHandle(1);
    arg32(2);
    if (!isGuestWindow(window)) throw ProgramException("Unsupported argument");
    returnFromFunction(0u);
}

// The game may only poll its own window, for all messages, removing them. It
// never receives any message but WM_QUIT: its input comes through its input
// library. The pump runs before the MSG is viewed.
void PeekMessageA() {
    ArgumentView args = viewArguments(5);
    Addr message = args.argAddr(1);
    Handle window = args.argHandle(2);
    uint32_t filterMin = args.arg32(3).v;
    uint32_t filterMax = args.arg32(4).v;
    uint32_t remove = args.arg32(5).v;
    if (!isGuestWindow(window) || filterMin != 0 || filterMax != 0 || remove != pmRemove)
        throw ProgramException("Unsupported arguments");
    bool quit = engine::processMessages();
    if (quit) {
        uint8_t* msg = machine::hostPointer32(message);
        machine::storeLe32(msg + 4, wmQuit);
    }
    returnFromFunction(quit ? 1u : 0u);
}

// The window and the class stay: a second window is refused.
void DestroyWindow() {
    arg32(1);
    returnFromFunction(1u);
}

void UnregisterClassA() {
    arg32(1);
    arg32(2);
    returnFromFunction(1u);
}

constexpr char user32[] = "user32.dll";

constexpr FunctionRow windowFunctions[] = {
    {user32, "RegisterClassExA", 0xF0004000, 4, RegisterClassExA},
    {user32, "CreateWindowExA", 0xF0004001, 48, CreateWindowExA},
    {user32, "MoveWindow", 0xF0004002, 24, MoveWindow},
    {user32, "ShowWindow", 0xF0004003, 8, ShowWindow},
    {user32, "PeekMessageA", 0xF0004004, 20, PeekMessageA},
    {user32, "DestroyWindow", 0xF0004005, 4, DestroyWindow},
    {user32, "UnregisterClassA", 0xF0004006, 8, UnregisterClassA},
};

}  // namespace

void registerWindowFunctions() { registerFunctions(windowFunctions); }

void resetWindowForTests() {
    windowClassRegistered = false;
    windowHandle = Handle{};
}

}  // namespace platform
