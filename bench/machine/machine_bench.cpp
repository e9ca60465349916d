// Time per guest step of the run loop, per guest memory access, and per
// native handler call (with its x87 save and restore).
//
// The guest program is a short counted loop of five instructions; the
// machine has the block layout of a running game: the stack, a handful of
// sections and a few hundred heap blocks, with handlers bound in the code
// block and at reserved addresses.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "guestLayout.h"
#include "machine/binding.h"
#include "machine/executer.h"
#include "machine/machineState.h"

namespace {

using namespace machine;

constexpr Addr codeAddress{guestLayout::codeStart};
constexpr Addr nativeAddress{guestLayout::firstNativeFunction};

// 401000  mov eax, [esi]       8B 06
// 401002  add ebx, eax         01 C3
// 401004  mov [esi+4], ebx     89 5E 04
// 401007  dec ecx              49
// 401008  jnz 401000           75 F6
// 40100A  ret                  C3
const uint8_t countedLoop[] = {0x8B, 0x06, 0x01, 0xC3, 0x89, 0x5E, 0x04, 0x49, 0x75, 0xF6, 0xC3};
constexpr uint32_t stepsPerIteration = 5;

// 401100  call [slot]           FF 15 00 20 40 00    (slot holds 0xF0001000)
// 401106  dec ecx               49
// 401107  jnz 401100            75 F7
// 401109  ret                   C3
const uint8_t callLoop[] = {0xFF, 0x15, 0x00, 0x20, 0x40, 0x00, 0x49, 0x75, 0xF7, 0xC3};

void nativeReturn() { returnToGuest(); }
void unusedHook() {}

Addr heapData;

// A stack of a game's size (a megabyte) at the stack's address, esp at its top.
void addGameStack() {
    constexpr uint32_t gameStackSize = 0x100000;
    addMemoryBlock(Addr{guestLayout::stackStart}, std::vector<uint8_t>(gameStackSize), false);
    state.esp = Val32{guestLayout::stackStart + gameStackSize};
}

void buildMachine() {
    resetMachineForTests();
    addGameStack();
    std::vector<uint8_t> code(0x40000, 0xCC);
    std::memcpy(code.data(), countedLoop, sizeof countedLoop);
    std::memcpy(code.data() + 0x100, callLoop, sizeof callLoop);
    addMemoryBlock(codeAddress, code, true);
    addMemoryBlock(Addr{0x442000}, std::vector<uint8_t>(0x10000), false);
    addMemoryBlock(Addr{0x452000}, std::vector<uint8_t>(0x20000), false);
    for (int i = 0; i < 300; ++i) allocate(64 + 16 * static_cast<uint32_t>(i % 40));
    heapData = allocate(4096);
    // Handlers as a game binds them: imports at reserved addresses, hooks in the code.
    for (uint32_t i = 0; i < 0x11; ++i)
        bindFunction("kernel32.dll", "F" + std::to_string(i), Addr{nativeAddress.v + i},
                     i == 0 ? nativeReturn : unusedHook);
    for (uint32_t i = 0; i < 40; ++i) bindHook(Addr{0x412CA0 + 0x100 * i}, unusedHook);
}

// A machine for the call loop: its import slot lies in a section at 0x402000.
void buildCallMachine() {
    resetMachineForTests();
    addGameStack();
    std::vector<uint8_t> code(0x1000, 0xCC);
    std::memcpy(code.data() + 0x100, callLoop, sizeof callLoop);
    addMemoryBlock(codeAddress, code, true);
    addMemoryBlock(Addr{0x402000}, std::vector<uint8_t>{0x00, 0x10, 0x00, 0xF0}, false);
    bindFunction("kernel32.dll", "Nothing", nativeAddress, nativeReturn);
}

void BM_GuestStep(benchmark::State& bench) {
    buildMachine();
    const uint32_t iterations = 1000000;
    for (auto _ : bench) {
        state.ecx.v = iterations;
        state.esi = Val32{heapData.v};
        callGuest(codeAddress);
    }
    bench.SetItemsProcessed(static_cast<int64_t>(bench.iterations()) * iterations * stepsPerIteration);
    bench.SetLabel("items = guest steps");
}
BENCHMARK(BM_GuestStep)->Unit(benchmark::kMillisecond);

void BM_NativeCall(benchmark::State& bench) {
    buildCallMachine();
    const uint32_t iterations = 100000;
    for (auto _ : bench) {
        state.ecx.v = iterations;
        callGuest(Addr{0x401100});
    }
    bench.SetItemsProcessed(static_cast<int64_t>(bench.iterations()) * iterations);
    bench.SetLabel("items = calls through a slot to a handler (4 steps)");
}
BENCHMARK(BM_NativeCall)->Unit(benchmark::kMillisecond);

void BM_ReadMemory32(benchmark::State& bench) {
    buildMachine();
    uint32_t sum = 0;
    for (auto _ : bench) {
        for (uint32_t i = 0; i < 1024; ++i) sum += readMemory32(false, Addr{heapData.v + i * 4 % 4092}).v;
        benchmark::DoNotOptimize(sum);
    }
    bench.SetItemsProcessed(static_cast<int64_t>(bench.iterations()) * 1024);
}
BENCHMARK(BM_ReadMemory32);

// Accesses that alternate between the stack and a heap block: the last-hit
// cache misses every time and the search runs.
void BM_ReadMemory32Alternating(benchmark::State& bench) {
    buildMachine();
    uint32_t sum = 0;
    for (auto _ : bench) {
        for (uint32_t i = 0; i < 512; ++i) {
            sum += readMemory32(false, Addr{0x1FF000 + i * 4}).v;
            sum += readMemory32(false, Addr{heapData.v + i * 4}).v;
        }
        benchmark::DoNotOptimize(sum);
    }
    bench.SetItemsProcessed(static_cast<int64_t>(bench.iterations()) * 1024);
}
BENCHMARK(BM_ReadMemory32Alternating);

void BM_PushPop(benchmark::State& bench) {
    buildMachine();
    uint32_t sum = 0;
    for (auto _ : bench) {
        for (uint32_t i = 0; i < 512; ++i) push32(Val32{i});
        for (uint32_t i = 0; i < 512; ++i) sum += pop32().v;
        benchmark::DoNotOptimize(sum);
    }
    bench.SetItemsProcessed(static_cast<int64_t>(bench.iterations()) * 1024);
}
BENCHMARK(BM_PushPop);

// The x87 save and restore pair that guards every native handler.
void BM_X87SaveRestorePair(benchmark::State& bench) {
    alignas(16) uint8_t area[108];
    for (auto _ : bench) {
        asm volatile("fnsave %0" : "=m"(area) : : "memory");
        asm volatile("frstor %0" : : "m"(area) : "memory");
    }
}
BENCHMARK(BM_X87SaveRestorePair);

}  // namespace

// "machine_bench --callgrind": one run of the counted loop and nothing else,
// for an instruction count per guest step under
//   valgrind --tool=callgrind --toggle-collect='machine::callGuest*' machine_bench --callgrind
int main(int argc, char** argv) {
    if (argc == 2 && std::string(argv[1]) == "--callgrind") {
        buildMachine();
        state.ecx.v = 100000;
        state.esi = Val32{heapData.v};
        callGuest(codeAddress);
        std::printf("guest steps: %u\n", 100000 * stepsPerIteration + 1);
        return 0;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
