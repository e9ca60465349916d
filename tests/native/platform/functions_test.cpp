// The emulated kernel32, user32, gdi32 and winmm functions, called as the
// guest calls them.
#include <gtest/gtest.h>

#include "fakeEngine.h"
#include "guestCall.h"
#include "machine/binding.h"
#include "platform/gdi.h"
#include "platform/string.h"
#include "platformTest.h"

using namespace guestCall;
using guest::hexBytes;
using platformTest::commandLineAddr;
using platformTest::eaxBefore;
using platformTest::environmentAddr;
using platformTest::PlatformTest;

namespace {

// The reserved addresses, by name.
enum : uint32_t {
    ExitProcess = 0xF0001000, GetACP, GetCommandLineA, GetCPInfo, GetEnvironmentStrings,
    GetFileType, GetModuleFileNameA, GetModuleHandleA, GetProcAddress, GetStartupInfoA,
    GetStdHandle, GetVersionExA, GlobalMemoryStatus, RaiseException, SetHandleCount,
    VirtualAlloc, VirtualFree,
    LoadIconA = 0xF0002000, LoadCursorA, GetSystemMetrics, ShowCursor, SetRect = 0xF0002005,
    PostQuitMessage,
    GetStockObject = 0xF0003000, SetBkMode, SetTextColor, TextOutA,
    RegisterClassExA = 0xF0004000, CreateWindowExA, MoveWindow, ShowWindow, PeekMessageA,
    DestroyWindow, UnregisterClassA,
    timeGetTime = 0xF0007000,
};

constexpr uint32_t p = dataStart;  // a buffer in the data block
constexpr uint32_t text = dataStart + 0x800;  // a string there
constexpr uint32_t window = 6;  // the guest's window, made by prepare
constexpr uint32_t dc = 4;

using Prepare = void (*)();
void none() {}
void createWindow() { call(CreateWindowExA, {0, 0, 0, 0, 0, 0, 640, 480, 0, 0, 1, 0}); }
void registerClass() { call(RegisterClassExA, {p}); }
void version148() { writeDword(p, 148); }
void version156() { writeDword(p, 156); }
void exportName() { writeString(text, "QuorlenExport"); }
void textHi() { writeString(text, "Hi"); }
void textBad() { writeBytes(text, {'o', 0x7F}); }
void nameBad() { writeBytes(text, {'k', 0x80, 0}); }
void fillFF() { writeBytes(p, std::vector<uint8_t>(40, 0xFF)); }
// The heap's next start just below the mapped block: empty blocks, each less
// than 2^31 above the last, so that each raises the heap's next start.
void heapNearItsEnd() {
    machine::addMemoryBlock(app::Addr{0x80000000}, {}, false);
    machine::addMemoryBlock(app::Addr{0xDFFF0000}, {}, false);
}

struct Accepted {
    const char* function;
    uint32_t address;
    std::initializer_list<uint32_t> args;
    Prepare prepare;
    uint32_t eax;
    uint32_t pops;
    const char* bytesAtP;  // what the call leaves at p, in hex ("" for nothing checked)
};

const Accepted acceptedCalls[] = {
    {"ExitProcess", ExitProcess, {3}, none, eaxBefore, 4, ""},
    {"GetACP", GetACP, {}, none, 1252, 0, ""},
    {"GetCommandLineA", GetCommandLineA, {}, none, commandLineAddr, 0, ""},
    {"GetCPInfo", GetCPInfo, {1252, p}, fillFF, 1, 8,
     "01000000 3F00 000000000000000000000000 FFFF"},
    {"GetEnvironmentStrings", GetEnvironmentStrings, {}, none, environmentAddr, 0, ""},
    {"GetFileType", GetFileType, {0}, none, 0, 4, ""},
    {"GetModuleFileNameA", GetModuleFileNameA, {0, p, 260}, none, 22, 12,
     "433A5C51756F726C656E5C51756F726C656E2E65786500"},
    {"GetModuleHandleA", GetModuleHandleA, {0}, none, 1, 4, ""},
    {"GetProcAddress", GetProcAddress, {1, text}, exportName, platformTest::exportAddress, 8, ""},
    {"GetStartupInfoA", GetStartupInfoA, {p}, fillFF, eaxBefore, 4, "44000000 FFFF"},
    {"GetStdHandle -10", GetStdHandle, {0xFFFFFFF6}, none, 0, 4, ""},
    {"GetStdHandle -11", GetStdHandle, {0xFFFFFFF5}, none, 0, 4, ""},
    {"GetStdHandle -12", GetStdHandle, {0xFFFFFFF4}, none, 0, 4, ""},
    {"GetVersionExA", GetVersionExA, {p}, version148, 1, 4,
     "94000000 04000000 0A000000 AE080000 01000000 00"},
    {"GlobalMemoryStatus", GlobalMemoryStatus, {p}, fillFF, eaxBefore, 4,
     "20000000 00000000 00000000 00000000 00000000 00000000 00000000 00000000 FFFF"},
    {"SetHandleCount", SetHandleCount, {20}, none, eaxBefore, 4, ""},
    {"VirtualAlloc commit", VirtualAlloc, {p, 0x1000, 0x1000, 4}, none, p, 16, ""},
    {"VirtualAlloc reserve", VirtualAlloc, {0, 0x100000, 0x2000, 1}, none,
     environmentAddr + 0x1000, 16, ""},
    {"VirtualFree", VirtualFree, {p, 0, 0x4000}, none, 0, 12, ""},
    {"LoadIconA", LoadIconA, {0, 32512}, none, 3, 8, ""},
    {"LoadCursorA", LoadCursorA, {0, 32512}, none, 2, 8, ""},
    {"GetSystemMetrics 0", GetSystemMetrics, {0}, none, 640, 4, ""},
    {"GetSystemMetrics 1", GetSystemMetrics, {1}, none, 480, 4, ""},
    {"ShowCursor", ShowCursor, {1}, none, 1, 4, ""},
    {"SetRect", SetRect, {p, 0, 0, 640, 480}, fillFF, 1, 20,
     "00000000 00000000 80020000 E0010000 FFFF"},
    {"SetRect negative", SetRect, {p, 0xFFFFFFF6, 0xFFFFFFF6, 0xFFFFFFFB, 0xFFFFFFFB}, none, 1,
     20, "F6FFFFFF F6FFFFFF FBFFFFFF FBFFFFFF"},
    {"SetRect signed", SetRect, {p, 0x80000000, 0, 0x7FFFFFFF, 1}, none, 1, 20, ""},
    {"PostQuitMessage", PostQuitMessage, {0}, none, eaxBefore, 4, ""},
    {"timeGetTime", timeGetTime, {}, none, 0, 0, ""},
    {"GetStockObject", GetStockObject, {4}, none, 5, 4, ""},
    {"SetBkMode", SetBkMode, {dc, 1}, none, 1, 8, ""},
    {"SetTextColor", SetTextColor, {dc, 0xFFFFFF}, none, 0xFFFFFF, 8, ""},
    {"TextOutA", TextOutA, {dc, 10, 20, text, 2}, textHi, 1, 20, ""},
    {"RegisterClassExA", RegisterClassExA, {p}, none, 6, 4, ""},
    {"CreateWindowExA", CreateWindowExA, {0, 0, 0, 0, 0, 0, 640, 480, 0, 0, 1, 0}, none, 6, 48,
     ""},
    {"MoveWindow", MoveWindow, {window, 0, 0, 640, 480, 1}, createWindow, 0, 24, ""},
    {"ShowWindow", ShowWindow, {window, 1}, createWindow, 0, 8, ""},
    {"PeekMessageA", PeekMessageA, {p, window, 0, 0, 1}, createWindow, 0, 20, ""},
    {"DestroyWindow", DestroyWindow, {window}, createWindow, 1, 4, ""},
    {"UnregisterClassA", UnregisterClassA, {text, 1}, none, 1, 8, ""},
};

struct Refused {
    const char* function;
    uint32_t address;
    std::initializer_list<uint32_t> args;
    Prepare prepare;
    const char* message;
};

const Refused refusedCalls[] = {
    {"GetCPInfo", GetCPInfo, {437, p}, none, "Unsupported argument"},
    {"GetFileType", GetFileType, {1}, none, "Unsupported argument"},
    {"GetModuleFileNameA module", GetModuleFileNameA, {1, p, 260}, none, "Unsupported argument"},
    {"GetModuleFileNameA size 0", GetModuleFileNameA, {0, p, 0}, none, "Unsupported argument"},
    {"GetModuleFileNameA past block", GetModuleFileNameA, {0, heapStart - 10, 11}, none,
     "Attempted to lookup invalid memory address: 0x41fff6  size: 11"},
    {"GetModuleFileNameA wrapping size", GetModuleFileNameA, {0, p, 0xFFFFFFFF}, none,
     "Attempted to lookup invalid memory address: 0x410000  size: 4294967295"},
    {"GetModuleHandleA", GetModuleHandleA, {text}, nameBad, "Unsupported character in string"},
    {"GetProcAddress ordinal", GetProcAddress, {1, 0x50}, none,
     "Attempted to lookup invalid memory address: 0x50  size: 1"},
    {"GetStdHandle 5", GetStdHandle, {5}, none, "Unsupported argument: 5"},
    {"GetStdHandle -13", GetStdHandle, {0xFFFFFFF3}, none, "Unsupported argument: 4294967283"},
    {"GetVersionExA", GetVersionExA, {p}, version156, "Unsupported OSVERSIONINFO size"},
    {"RaiseException", RaiseException, {0xC0000005, 0, 0, 0}, none,
     "The program raised an exception"},
    {"VirtualAlloc both", VirtualAlloc, {p, 0x1000, 0x3000, 4}, none,
     "Unsupported flAllocationType argument"},
    {"VirtualAlloc commit null", VirtualAlloc, {0, 0x1000, 0x1000, 4}, none, "Invalid address"},
    {"VirtualAlloc commit protect", VirtualAlloc, {p, 0x1000, 0x1000, 1}, none,
     "Unsupported flProtect value"},
    {"VirtualAlloc reserve at", VirtualAlloc, {p, 0x1000, 0x2000, 1}, none, "Invalid address"},
    {"VirtualAlloc reserve protect", VirtualAlloc, {0, 0x1000, 0x2000, 4}, none,
     "Unsupported flProtect value"},
    {"VirtualAlloc too large", VirtualAlloc, {0, 0x10000001, 0x2000, 1}, none,
     "Size too large to allocate"},
    {"VirtualAlloc past the heap's end", VirtualAlloc, {0, 0x10001, 0x2000, 1}, heapNearItsEnd,
     "Out of guest memory"},
    {"VirtualFree release", VirtualFree, {p, 0, 0x8000}, none, "Unsupported arguments"},
    {"LoadIconA instance", LoadIconA, {1, 32512}, none, "Unsupported arguments"},
    {"LoadIconA name", LoadIconA, {0, 32513}, none, "Unsupported arguments"},
    {"LoadCursorA instance", LoadCursorA, {1, 32512}, none, "Unsupported arguments"},
    {"LoadCursorA name", LoadCursorA, {0, 32513}, none, "Unsupported arguments"},
    {"GetSystemMetrics 2", GetSystemMetrics, {2}, none, "Unsupported argument"},
    {"SetRect zero width", SetRect, {p, 5, 0, 5, 10}, none, "Unsupported arguments"},
    {"SetRect zero height", SetRect, {p, 0, 10, 5, 10}, none, "Unsupported arguments"},
    {"SetRect inverted", SetRect, {p, 10, 0, 5, 10}, none, "Unsupported arguments"},
    {"SetRect signed", SetRect, {p, 0, 0, 0x80000000, 1}, none, "Unsupported arguments"},
    {"GetStockObject", GetStockObject, {0}, none, "Unsupported argument"},
    {"SetBkMode null dc", SetBkMode, {0, 1}, none, "Unsupported arguments"},
    {"SetBkMode other dc", SetBkMode, {5, 1}, none, "Unsupported arguments"},
    {"SetBkMode opaque", SetBkMode, {dc, 2}, none, "Unsupported arguments"},
    {"SetTextColor", SetTextColor, {dc, 0xFFFFFE}, none, "Unsupported arguments"},
    {"SetTextColor null dc", SetTextColor, {0, 0xFFFFFF}, none, "Unsupported arguments"},
    {"TextOutA characters first", TextOutA, {5, 0, 0, text, 2}, textBad,
     "Unsupported character in string"},
    {"TextOutA null dc", TextOutA, {0, 0, 0, text, 2}, textHi, "Unsupported arguments"},
    {"TextOutA wrapping count", TextOutA, {dc, 0, 0, text, 0xFFFFF800}, textHi,
     "Attempted to lookup invalid memory address: 0x410800  size: 4294965248"},
    {"RegisterClassExA twice", RegisterClassExA, {p}, registerClass,
     "Registering multiple window classes is not supported"},
    {"CreateWindowExA twice", CreateWindowExA, {0, 0, 0, 0, 0, 0, 640, 480, 0, 0, 1, 0},
     createWindow, "Window already created"},
    {"MoveWindow other", MoveWindow, {7, 0, 0, 640, 480, 1}, createWindow, "Unsupported argument"},
    {"MoveWindow none", MoveWindow, {0, 0, 0, 640, 480, 1}, none, "Unsupported argument"},
    {"ShowWindow null", ShowWindow, {0, 1}, createWindow, "Unsupported argument"},
    {"PeekMessageA all windows", PeekMessageA, {p, 0, 0, 0, 1}, createWindow,
     "Unsupported arguments"},
    {"PeekMessageA no window", PeekMessageA, {p, 0, 0, 0, 1}, none, "Unsupported arguments"},
    {"PeekMessageA min filter", PeekMessageA, {p, window, 1, 0, 1}, createWindow,
     "Unsupported arguments"},
    {"PeekMessageA max filter", PeekMessageA, {p, window, 0, 0x400, 1}, createWindow,
     "Unsupported arguments"},
    {"PeekMessageA no remove", PeekMessageA, {p, window, 0, 0, 0}, createWindow,
     "Unsupported arguments"},
};

}  // namespace

TEST_F(PlatformTest, AcceptedCalls) {
    for (const Accepted& c : acceptedCalls) {
        startGuest();
        c.prepare();
        machine::state.eax = app::Val32{eaxBefore};
        Result r = call(c.address, c.args);
        EXPECT_EQ(r.eax, c.eax) << c.function;
        EXPECT_EQ(r.espChange, 4 + c.pops) << c.function;
        EXPECT_EQ(r.eip, returnAddress) << c.function;
        std::vector<uint8_t> expected = hexBytes(c.bytesAtP);
        if (!expected.empty()) {
            EXPECT_EQ(readBytes(p, static_cast<uint32_t>(expected.size())), expected) << c.function;
        }
    }
}

TEST_F(PlatformTest, RefusedCallsChangeNothing) {
    for (const Refused& c : refusedCalls) {
        startGuest();
        c.prepare();
        fakeEngine::clearCalls();
        Refusal r = callRefused(c.address, c.args);
        EXPECT_EQ(r.message, c.message) << c.function;
        EXPECT_TRUE(r.registersUnchanged) << c.function;
        EXPECT_TRUE(r.memoryUnchanged) << c.function;
        EXPECT_TRUE(fakeEngine::calls().empty()) << c.function;  // no pump, no drawing
    }
}

TEST_F(PlatformTest, RegistrarsBindEveryFunctionAtItsReservedAddress) {
    struct Row {
        const char* dll;
        const char* name;
        uint32_t address;
    };
    const Row rows[] = {
        {"kernel32.dll", "ExitProcess", ExitProcess},
        {"kernel32.dll", "GetACP", GetACP},
        {"kernel32.dll", "GetCommandLineA", GetCommandLineA},
        {"kernel32.dll", "GetCPInfo", GetCPInfo},
        {"kernel32.dll", "GetEnvironmentStrings", GetEnvironmentStrings},
        {"kernel32.dll", "GetFileType", GetFileType},
        {"kernel32.dll", "GetModuleFileNameA", GetModuleFileNameA},
        {"kernel32.dll", "GetModuleHandleA", GetModuleHandleA},
        {"kernel32.dll", "GetProcAddress", GetProcAddress},
        {"kernel32.dll", "GetStartupInfoA", GetStartupInfoA},
        {"kernel32.dll", "GetStdHandle", GetStdHandle},
        {"kernel32.dll", "GetVersionExA", GetVersionExA},
        {"kernel32.dll", "GlobalMemoryStatus", GlobalMemoryStatus},
        {"kernel32.dll", "RaiseException", RaiseException},
        {"kernel32.dll", "SetHandleCount", SetHandleCount},
        {"kernel32.dll", "VirtualAlloc", VirtualAlloc},
        {"kernel32.dll", "VirtualFree", VirtualFree},
        {"user32.dll", "LoadIconA", 0xF0002000},
        {"user32.dll", "LoadCursorA", 0xF0002001},
        {"user32.dll", "GetSystemMetrics", 0xF0002002},
        {"user32.dll", "ShowCursor", 0xF0002003},
        {"user32.dll", "SetRect", 0xF0002005},
        {"user32.dll", "PostQuitMessage", 0xF0002006},
        {"gdi32.dll", "GetStockObject", 0xF0003000},
        {"gdi32.dll", "SetBkMode", 0xF0003001},
        {"gdi32.dll", "SetTextColor", 0xF0003002},
        {"gdi32.dll", "TextOutA", 0xF0003003},
        {"user32.dll", "RegisterClassExA", 0xF0004000},
        {"user32.dll", "CreateWindowExA", 0xF0004001},
        {"user32.dll", "MoveWindow", 0xF0004002},
        {"user32.dll", "ShowWindow", 0xF0004003},
        {"user32.dll", "PeekMessageA", 0xF0004004},
        {"user32.dll", "DestroyWindow", 0xF0004005},
        {"user32.dll", "UnregisterClassA", 0xF0004006},
        {"winmm.dll", "timeGetTime", 0xF0007000},
    };
    size_t bound = 0;
    for (const auto& [dll, functions] : machine::getImports()) bound += functions.size();
    EXPECT_EQ(bound, std::size(rows));
    for (const Row& row : rows) {
        uint32_t address = 0;
        EXPECT_TRUE(machine::lookupImport(row.dll, row.name, address)) << row.name;
        EXPECT_EQ(address, row.address) << row.name;
        EXPECT_EQ(machine::getHandlers().count(row.address), 1u) << row.name;
    }
    EXPECT_EQ(machine::getHandlers().count(0xF0002004), 0u);
}

// ---- Process and modules -----------------------------------------------------------

TEST_F(PlatformTest, PlatformInitMakesTheCommandLineAndAnEmptyEnvironment) {
    EXPECT_EQ(call(GetCommandLineA, {}).eax, commandLineAddr);
    EXPECT_EQ(call(GetEnvironmentStrings, {}).eax, environmentAddr);
    EXPECT_EQ(platform::getString(app::Addr{commandLineAddr}), "C:\\Quorlen\\Quorlen.exe");
    EXPECT_EQ(readBytes(environmentAddr, 4), (std::vector<uint8_t>{0, 0, 0, 0}));
    EXPECT_EQ(call(GetCommandLineA, {}).eax, call(GetCommandLineA, {}).eax);
}

TEST_F(PlatformTest, GetModuleFileNameAStoresAtMostItsBuffer) {
    const std::string path = "C:\\Quorlen\\Quorlen.exe";
    struct Case {
        uint32_t size;
        uint32_t eax;
        uint32_t charactersStored;
    } cases[] = {{260, 22, 22}, {23, 22, 22}, {22, 22, 21}, {10, 10, 9}, {1, 1, 0}};
    for (const Case& c : cases) {
        startGuest();
        writeBytes(p, std::vector<uint8_t>(300, 0xAA));
        Result r = call(GetModuleFileNameA, {0, p, c.size});
        EXPECT_EQ(r.eax, c.eax) << c.size;
        std::vector<uint8_t> expected(path.begin(), path.begin() + c.charactersStored);
        expected.push_back(0);
        expected.resize(300, 0xAA);
        EXPECT_EQ(readBytes(p, 300), expected) << c.size;
    }
}

TEST_F(PlatformTest, GetModuleHandleAFindsBoundDllsByWholeName) {
    writeString(text, "");
    writeString(text + 0x10, "KERNEL32.DLL");
    writeString(text + 0x20, "kernel32.dll");
    writeString(text + 0x30, "kernel32");
    writeString(text + 0x40, "C:\\Quorlen\\Quorlen.exe");
    EXPECT_EQ(call(GetModuleHandleA, {0}).eax, 1u);
    EXPECT_EQ(call(GetModuleHandleA, {text}).eax, 1u);
    EXPECT_EQ(call(GetModuleHandleA, {text + 0x10}).eax, 6u);
    EXPECT_EQ(call(GetModuleHandleA, {text + 0x20}).eax, 6u);
    EXPECT_EQ(call(GetModuleHandleA, {text + 0x30}).eax, 0u);
    EXPECT_EQ(call(GetModuleHandleA, {text + 0x40}).eax, 0u);
    EXPECT_EQ(call(GetModuleHandleA, {text + 0x30}).eax, 0u);  // warns again
    EXPECT_EQ(logLines(), (std::vector<std::string>{
                              "Warning: DLL name not found: kernel32",
                              "Warning: DLL name not found: c:\\quorlen\\quorlen.exe",
                              "Warning: DLL name not found: kernel32",
                          }));
}

TEST_F(PlatformTest, GetProcAddressLooksUpBoundFunctionsAndExports) {
    writeString(text, "user32.dll");
    writeString(text + 0x10, "kernel32.dll");
    uint32_t user32 = call(GetModuleHandleA, {text}).eax;
    uint32_t kernel32 = call(GetModuleHandleA, {text + 0x10}).eax;
    ASSERT_EQ(user32, 6u);
    ASSERT_EQ(kernel32, 7u);
    writeString(text + 0x20, "GetSystemMetrics");
    writeString(text + 0x40, "Borland32");
    writeString(text + 0x50, "borland32");
    writeString(text + 0x60, "QuorlenExport");
    writeString(text + 0x70, "quorlenExport");
    struct Case {
        uint32_t module;
        uint32_t name;
        uint32_t eax;
    } cases[] = {
        {user32, text + 0x20, 0xF0002002},
        {kernel32, text + 0x20, 0},           // bound, but in user32
        {kernel32, text + 0x40, 0},           // silent
        {kernel32, text + 0x50, 0},           // letter case counts
        {1, text + 0x60, platformTest::exportAddress},
        {1, text + 0x70, 0},
        {1, 0, 0},                            // NULL name: the empty name
        {99, text + 0x20, 0},
        {0xFFFFFFFF, text + 0x20, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(call(GetProcAddress, {c.module, c.name}).eax, c.eax) << c.module << " " << c.name;
    EXPECT_EQ(logLines(), (std::vector<std::string>{
                              "Warning: GetProcAddress() function GetSystemMetrics not found in "
                              "module kernel32.dll",
                              "Warning: GetProcAddress() function borland32 not found in module "
                              "kernel32.dll",
                              "Warning: GetProcAddress() export name not found: quorlenExport",
                              "Warning: GetProcAddress() export name not found: ",
                              "Warning: GetProcAddress() module not supported: 99",
                              "Warning: GetProcAddress() module not supported: 4294967295",
                          }));
}

TEST_F(PlatformTest, ExitProcessSetsTheHaltFlag) {
    call(ExitProcess, {0});
    EXPECT_TRUE(machine::state.exitRequested);
}

// ---- The rest of kernel32 and user32 ---------------------------------------------------

TEST_F(PlatformTest, VirtualAllocReservesZeroedMemoryAndCommitsInPlace) {
    uint32_t block = call(VirtualAlloc, {0, 0x100000, 0x2000, 1}).eax;
    ASSERT_NE(block, 0u);
    EXPECT_EQ(readBytes(block, 0x100000), std::vector<uint8_t>(0x100000, 0));
    EXPECT_EQ(call(VirtualAlloc, {block, 0x1000, 0x1000, 4}).eax, block);
    writeDword(block + 0xFFFFC, 7);  // writable to its end
    EXPECT_EQ(call(VirtualFree, {block, 0, 0x4000}).eax, 0u);
    EXPECT_EQ(readDword(block + 0xFFFFC), 7u);
}

TEST_F(PlatformTest, ShowCursorCountsUpAndDown) {
    struct Step {
        uint32_t show;
        uint32_t count;
    } steps[] = {{0, 0xFFFFFFFF}, {1, 0}, {1, 1}, {0x100, 2}, {0, 1}};
    for (const Step& s : steps) EXPECT_EQ(call(ShowCursor, {s.show}).eax, s.count) << s.show;
}

TEST_F(PlatformTest, TimeGetTimeIsTheEngineClockInMilliseconds) {
    struct Case {
        int64_t ticks;
        uint32_t milliseconds;
    } cases[] = {
        {0, 0},
        {9999, 0},
        {12'345'678, 1234},
        {10'000 * int64_t{0xFFFFFFFF}, 0xFFFFFFFF},
        {10'000 * (int64_t{1} << 32), 0},  // wraps
        {10'000 * ((int64_t{1} << 32) + 5) + 9999, 5},
        {-10'000, 0xFFFFFFFF},
        {-9'999, 0},  // the division truncates toward zero
    };
    for (const Case& c : cases) {
        fakeEngine::setCurrentTime(c.ticks);
        EXPECT_EQ(call(timeGetTime, {}).eax, c.milliseconds) << c.ticks;
    }
}

TEST_F(PlatformTest, PostQuitMessageAsksTheEngineToQuit) {
    call(PostQuitMessage, {0});
    EXPECT_EQ(fakeEngine::calls(), (std::vector<std::string>{"quitWindow()"}));
}

// ---- gdi32 -------------------------------------------------------------------------

TEST_F(PlatformTest, TextOutADrawsItsCountedBytesAtSignedGameCoordinates) {
    writeString(text, "Score: 10 and more");
    EXPECT_EQ(call(TextOutA, {dc, 0xFFFFFFFB, 470, text, 9}).eax, 1u);
    EXPECT_EQ(call(TextOutA, {dc, 3, 4, text, 0}).eax, 1u);
    EXPECT_EQ(call(TextOutA, {dc, 1, 2, text, 18}).eax, 1u);
    EXPECT_EQ(fakeEngine::callsOf("drawText"), (std::vector<std::string>{
                                                    "drawText(-5, 470, \"Score: 10\")",
                                                    "drawText(3, 4, \"\")",
                                                    "drawText(1, 2, \"Score: 10 and more\")",
                                                }));
}

TEST_F(PlatformTest, TextOutAAcceptsTheDcWhetherOrNotAcquired) {
    writeString(text, "x");
    EXPECT_EQ(call(TextOutA, {dc, 0, 0, text, 1}).eax, 1u);
    platform::Handle acquired = platform::acquireBackSurfaceDC();
    EXPECT_EQ(call(TextOutA, {acquired.value, 0, 0, text, 1}).eax, 1u);
    platform::releaseBackSurfaceDC();
}

TEST_F(PlatformTest, BackSurfaceDCPairsAcquireAndRelease) {
    EXPECT_EQ(platform::acquireBackSurfaceDC().value, dc);
    EXPECT_EQ(guest::errorOf([] { platform::acquireBackSurfaceDC(); }),
              "Back surface DC already acquired");
    platform::releaseBackSurfaceDC();
    EXPECT_EQ(guest::errorOf([] { platform::releaseBackSurfaceDC(); }),
              "Back surface DC not acquired");
    EXPECT_EQ(platform::acquireBackSurfaceDC().value, dc);
}

// ---- Window functions -------------------------------------------------------------

TEST_F(PlatformTest, PeekMessageAHandsAHostQuitToTheGameOnce) {
    createWindow();
    writeBytes(p, std::vector<uint8_t>(36, 0xAA));
    fakeEngine::scriptProcessMessages({true});
    EXPECT_EQ(call(PeekMessageA, {p, window, 0, 0, 1}).eax, 1u);
    std::vector<uint8_t> quitMessage(36, 0xAA);
    quitMessage[4] = 0x12;
    quitMessage[5] = quitMessage[6] = quitMessage[7] = 0;
    EXPECT_EQ(readBytes(p, 36), quitMessage);

    writeBytes(p, std::vector<uint8_t>(36, 0xAA));
    Result r = call(PeekMessageA, {p, window, 0, 0, 1});
    EXPECT_EQ(r.eax, 0u);
    EXPECT_EQ(r.espChange, 24u);
    EXPECT_EQ(readBytes(p, 36), std::vector<uint8_t>(36, 0xAA));
    EXPECT_EQ(fakeEngine::callsOf("processMessages").size(), 2u);
}

TEST_F(PlatformTest, PeekMessageAPumpsBeforeItViewsTheMessage) {
    // A MSG pointer outside memory: the host queue is pumped first, and the
    // refusal comes only when there is a quit to write.
    createWindow();
    EXPECT_EQ(call(PeekMessageA, {0x50, window, 0, 0, 1}).eax, 0u);
    fakeEngine::scriptProcessMessages({true});
    EXPECT_EQ(guest::errorOf([] { call(PeekMessageA, {0x50, window, 0, 0, 1}); }),
              "Attempted to lookup invalid memory address: 0x50  size: 32");
    EXPECT_EQ(fakeEngine::callsOf("processMessages").size(), 2u);
}

TEST_F(PlatformTest, WindowAndClassOutliveDestroyAndUnregister) {
    EXPECT_EQ(call(CreateWindowExA, {0, 0, 0, 0, 0, 0, 640, 480, 0, 0, 1, 0}).eax, 6u);  // before any class
    EXPECT_EQ(call(RegisterClassExA, {p}).eax, 7u);
    EXPECT_EQ(call(DestroyWindow, {6}).eax, 1u);
    EXPECT_EQ(call(UnregisterClassA, {text, 1}).eax, 1u);
    EXPECT_EQ(call(ShowWindow, {6, 5}).eax, 0u);
    EXPECT_EQ(callRefused(CreateWindowExA, {0, 0, 0, 0, 0, 0, 640, 480, 0, 0, 1, 0}).message,
              "Window already created");
}
