#include "platform/platform.h"

#include <array>
#include <cstring>
#include <unordered_map>

#include "peloader/program.h"
#include "engine/engine.h"
#include "log.h"
#include "machine/machineState.h"
#include "platform/string.h"

namespace platform {

using app::ProgramException;
using machine::state;

namespace {

// The guest's module file name and whole command line, with its zero byte.
constexpr char programPathText[] = "C:\\Quorlen\\Quorlen.exe";
constexpr uint32_t programPathSize = sizeof programPathText;  // 23
static_assert(programPathSize == 23);
const uint8_t* programPath() { return reinterpret_cast<const uint8_t*>(programPathText); }

Handle programModuleHandle;
const peloader::Program* loadedProgram = nullptr;
Addr commandLineAddr{0};
Addr environmentAddr{0};
std::unordered_map<std::string, Handle> moduleHandlesByName;
std::unordered_map<Handle, std::string> moduleNamesByHandle;
Handle cursorHandle;
Handle iconHandle;
int32_t cursorDisplayCount = 0;

constexpr uint32_t codePage1252 = 1252;
constexpr uint32_t resourceIdApplication = 32512;  // IDI_APPLICATION, IDC_ARROW

// ---- Process and modules -----------------------------------------------------

void ExitProcess() {
    arg32(1);  // the exit code is not used
    state.exitRequested = true;
    returnFromFunction();
}

void GetCommandLineA() { returnFromFunction(commandLineAddr); }

void GetEnvironmentStrings() { returnFromFunction(environmentAddr); }

// Only the program's own module. A buffer of 0 bytes has no room even for
// the zero byte and is refused; a shorter buffer gets a cut name.
void GetModuleFileNameA() {
    ArgumentView args = viewArguments(3);
    Handle module = args.argHandle(1);
    Addr filename = args.argAddr(2);
    uint32_t size = args.arg32(3).v;
    if (!module.isNull() || size == 0) throw ProgramException("Unsupported argument");
    std::span<uint8_t> buffer = machine::hostSlice(filename, size);
    uint32_t result;
    if (size >= programPathSize) {
        std::memcpy(buffer.data(), programPath(), programPathSize);
        result = programPathSize - 1;
    } else {
        std::memcpy(buffer.data(), programPath(), size - 1);
        buffer[size - 1] = 0;
        result = size;
    }
    returnFromFunction(result);
}

void GetModuleHandleA() {
    std::string name = stringArg(1);
    Handle handle = name.empty() ? programModuleHandle : getModuleHandle(name);
    returnFromFunction(handle);
}

uint32_t findExport(const std::string& name) {
    const peloader::ExportsByName& exports = loadedProgram->exportsByName();
    auto found = exports.find(name);
    if (found == exports.end()) {
        app::warnExportNameNotFound(name);
        return 0;
    }
    return found->second;
}

uint32_t findBoundFunction(Handle module, const std::string& name) {
    auto dll = moduleNamesByHandle.find(module);
    if (dll == moduleNamesByHandle.end()) {
        app::warnModuleNotSupported(module.value);
        return 0;
    }
    uint32_t address = 0;
    if (machine::lookupImport(dll->second, name, address)) return address;
    // A miss the game makes on every start; not worth a warning.
    bool expectedMiss = dll->second == "kernel32.dll" && name == "Borland32";
    if (!expectedMiss) app::warnFunctionNotFoundInModule(name, dll->second);
    return 0;
}

void GetProcAddress() {
    Handle module = argHandle(1);
    std::string name = stringArg(2);
    bool ownModule = !programModuleHandle.isNull() && module == programModuleHandle;
    uint32_t result = ownModule ? findExport(name) : findBoundFunction(module, name);
    returnFromFunction(result);
}

// ---- The rest of kernel32 ------------------------------------------------------

void GetACP() { returnFromFunction(codePage1252); }

void GetCPInfo() {
    uint32_t codePage = arg32(1).v;
    Addr info = argAddr(2);
    if (codePage != codePage1252) throw ProgramException("Unsupported argument");
    uint8_t* cpInfo = machine::hostPointer20(info);
    machine::storeLe32(cpInfo, 1);  // MaxCharSize
    cpInfo[4] = '?';                // DefaultChar
    cpInfo[5] = 0;
    std::memset(cpInfo + 6, 0, 12);  // LeadByte; bytes 18 and 19 stay
    returnFromFunction(1u);
}

void GetFileType() {
    Handle file = argHandle(1);
    if (!file.isNull()) throw ProgramException("Unsupported argument");
    returnFromFunction(0u);  // FILE_TYPE_UNKNOWN
}

void GetStartupInfoA() {
    Addr info = argAddr(1);
    machine::writeMemory32(false, info, Val32{68});  // cb
    returnFromFunction();
}

void GetStdHandle() {
    uint32_t which = arg32(1).v;
    bool standardStream = which == 0xFFFFFFF6 || which == 0xFFFFFFF5 || which == 0xFFFFFFF4;
    if (!standardStream) throw ProgramException(app::format("Unsupported argument: %u", which));
    returnFromFunction(0u);
}

void GetVersionExA() {
    Addr info = argAddr(1);
    uint32_t size = machine::readMemory32(false, info).v;
    if (size != 148) throw ProgramException("Unsupported OSVERSIONINFO size");
    machine::writeMemory32(false, app::addrAdd(info, 4), Val32{4});      // major
    machine::writeMemory32(false, app::addrAdd(info, 8), Val32{10});     // minor
    machine::writeMemory32(false, app::addrAdd(info, 12), Val32{2222});  // build
    machine::writeMemory32(false, app::addrAdd(info, 16), Val32{1});     // VER_PLATFORM_WIN32_WINDOWS
    machine::writeMemory8(false, app::addrAdd(info, 20), app::Val8{0});  // szCSDVersion
    returnFromFunction(1u);
}

void GlobalMemoryStatus() {
    Addr status = argAddr(1);
    machine::writeMemory32(false, status, Val32{32});  // dwLength
    for (uint32_t offset = 4; offset < 32; offset += 4)
        machine::writeMemory32(false, app::addrAdd(status, offset), Val32{0});
    returnFromFunction();
}

void RaiseException() {
    for (uint32_t k = 1; k <= 4; ++k) arg32(k);
    throw ProgramException("The program raised an exception");
}

void SetHandleCount() {
    arg32(1);
    returnFromFunction();
}

constexpr uint32_t memCommit = 0x1000;
constexpr uint32_t memReserve = 0x2000;
constexpr uint32_t memDecommit = 0x4000;
constexpr uint32_t pageNoAccess = 1;
constexpr uint32_t pageReadWrite = 4;

void VirtualAlloc() {
    Addr address = argAddr(1);
    uint32_t size = arg32(2).v;
    uint32_t allocationType = arg32(3).v;
    uint32_t protect = arg32(4).v;
    if (allocationType == memCommit) {
        // Reserved guest memory is readable and writable already.
        if (protect != pageReadWrite) throw ProgramException("Unsupported flProtect value");
        if (address.isNull()) throw ProgramException("Invalid address");
        returnFromFunction(address);
    } else if (allocationType == memReserve) {
        if (protect != pageNoAccess) throw ProgramException("Unsupported flProtect value");
        if (!address.isNull()) throw ProgramException("Invalid address");
        returnFromFunction(machine::allocate(size));
    } else {
        throw ProgramException("Unsupported flAllocationType argument");
    }
}

void VirtualFree() {
    arg32(1);
    arg32(2);
    uint32_t freeType = arg32(3).v;
    if (freeType != memDecommit) throw ProgramException("Unsupported arguments");
    returnFromFunction(0u);
}

// ---- user32 ------------------------------------------------------------------

// LoadIconA and LoadCursorA: only the system's default (hInstance NULL,
// IDI_APPLICATION / IDC_ARROW), whose handle was made at start-up. Nothing
// is loaded.
void returnDefaultResource(Handle resource) {
    Handle instance = argHandle(1);
    uint32_t name = arg32(2).v;
    if (!instance.isNull() || name != resourceIdApplication)
        throw ProgramException("Unsupported arguments");
    returnFromFunction(resource);
}

void LoadIconA() { returnDefaultResource(iconHandle); }
void LoadCursorA() { returnDefaultResource(cursorHandle); }

void GetSystemMetrics() {
    uint32_t index = arg32(1).v;
    // The guest's screen is the picture.
    if (index == 0) return returnFromFunction(uint32_t{engine::gameWidth});   // SM_CXSCREEN
    if (index == 1) return returnFromFunction(uint32_t{engine::gameHeight});  // SM_CYSCREEN
    throw ProgramException("Unsupported argument");
}

void ShowCursor() {
    uint32_t show = arg32(1).v;
    uint32_t count = static_cast<uint32_t>(cursorDisplayCount) + (show != 0 ? 1u : 0xFFFFFFFFu);
    cursorDisplayCount = static_cast<int32_t>(count);
    returnFromFunction(count);
}

void SetRect() {
    ArgumentView args = viewArguments(5);
    Addr rect = args.argAddr(1);
    int32_t left = args.argInt32(2);
    int32_t top = args.argInt32(3);
    int32_t right = args.argInt32(4);
    int32_t bottom = args.argInt32(5);
    if (!(right > left && bottom > top)) throw ProgramException("Unsupported arguments");
    uint8_t* bytes = machine::hostPointer16(rect);
    machine::storeLe32(bytes, static_cast<uint32_t>(left));
    machine::storeLe32(bytes + 4, static_cast<uint32_t>(top));
    machine::storeLe32(bytes + 8, static_cast<uint32_t>(right));
    machine::storeLe32(bytes + 12, static_cast<uint32_t>(bottom));
    returnFromFunction(1u);
}

void PostQuitMessage() {
    arg32(1);  // the exit code is not used
    engine::quitWindow();
    returnFromFunction();
}

// ---- winmm -------------------------------------------------------------------

void timeGetTime() {
    int64_t milliseconds = engine::currentTime() / 10000;
    returnFromFunction(static_cast<uint32_t>(static_cast<uint64_t>(milliseconds)));
}

constexpr char kernel32[] = "kernel32.dll";
constexpr char user32[] = "user32.dll";
constexpr char winmm[] = "winmm.dll";

// kernel32 in address order, then user32 by name, then winmm. 0xF0002004 is
// bound to nothing.
constexpr FunctionRow platformFunctions[] = {
    {kernel32, "ExitProcess", 0xF0001000, 4, ExitProcess},
    {kernel32, "GetACP", 0xF0001001, 0, GetACP},
    {kernel32, "GetCommandLineA", 0xF0001002, 0, GetCommandLineA},
    {kernel32, "GetCPInfo", 0xF0001003, 8, GetCPInfo},
    {kernel32, "GetEnvironmentStrings", 0xF0001004, 0, GetEnvironmentStrings},
    {kernel32, "GetFileType", 0xF0001005, 4, GetFileType},
    {kernel32, "GetModuleFileNameA", 0xF0001006, 12, GetModuleFileNameA},
    {kernel32, "GetModuleHandleA", 0xF0001007, 4, GetModuleHandleA},
    {kernel32, "GetProcAddress", 0xF0001008, 8, GetProcAddress},
    {kernel32, "GetStartupInfoA", 0xF0001009, 4, GetStartupInfoA},
    {kernel32, "GetStdHandle", 0xF000100A, 4, GetStdHandle},
    {kernel32, "GetVersionExA", 0xF000100B, 4, GetVersionExA},
    {kernel32, "GlobalMemoryStatus", 0xF000100C, 4, GlobalMemoryStatus},
    {kernel32, "RaiseException", 0xF000100D, 16, RaiseException},  // never returns
    {kernel32, "SetHandleCount", 0xF000100E, 4, SetHandleCount},
    {kernel32, "VirtualAlloc", 0xF000100F, 16, VirtualAlloc},
    {kernel32, "VirtualFree", 0xF0001010, 12, VirtualFree},
    {user32, "GetSystemMetrics", 0xF0002002, 4, GetSystemMetrics},
    {user32, "LoadCursorA", 0xF0002001, 8, LoadCursorA},
    {user32, "LoadIconA", 0xF0002000, 8, LoadIconA},
    {user32, "PostQuitMessage", 0xF0002006, 4, PostQuitMessage},
    {user32, "SetRect", 0xF0002005, 20, SetRect},
    {user32, "ShowCursor", 0xF0002003, 4, ShowCursor},
    {winmm, "timeGetTime", 0xF0007000, 0, timeGetTime},
};

}  // namespace

void registerPlatformFunctions() { registerFunctions(platformFunctions); }

void platformInit(const peloader::Program& program) {
    programModuleHandle = newHandle();
    loadedProgram = &program;
    commandLineAddr = machine::allocateCopy({programPath(), programPathSize});
    const std::array<uint8_t, 4> emptyEnvironment{};
    environmentAddr = machine::allocateCopy(emptyEnvironment);
    cursorHandle = newHandle();
    iconHandle = newHandle();
}

Handle getModuleHandle(const std::string& name) {
    std::string dll = machine::normalizeDllName(name);
    auto known = moduleHandlesByName.find(dll);
    if (known != moduleHandlesByName.end()) return known->second;
    if (!machine::getImports().contains(dll)) {
        app::warnDllNameNotFound(dll);
        return Handle{};
    }
    Handle handle = newHandle();
    moduleHandlesByName[dll] = handle;
    moduleNamesByHandle[handle] = dll;
    return handle;
}

void resetPlatformForTests() {
    programModuleHandle = Handle{};
    loadedProgram = nullptr;
    commandLineAddr = environmentAddr = Addr{0};
    moduleHandlesByName.clear();
    moduleNamesByHandle.clear();
    cursorHandle = iconHandle = Handle{};
    cursorDisplayCount = 0;
}

}  // namespace platform
